# cmake -DRESOURCES_DIR=... -DINFO_PLIST=... -DBUNDLE_DIR=... -P StageResources.cmake
#
# Refreshes <bundle>/Contents/Resources from the source resources and writes
# cli-manifest.json: the SHA-256 of every engine file under cli/, keyed by its
# path relative to the engine folder, which the app checks after installing.

foreach(var RESOURCES_DIR INFO_PLIST BUNDLE_DIR)
    if(NOT DEFINED ${var})
        message(FATAL_ERROR "StageResources.cmake needs -D${var}=...")
    endif()
endforeach()

set(contents "${BUNDLE_DIR}/Contents")
set(staged "${contents}/Resources")

# Start from a clean folder so that a resource removed from the tree does not
# linger in the bundle (and in the manifest).
file(REMOVE_RECURSE "${staged}")
file(MAKE_DIRECTORY "${staged}")
file(COPY "${RESOURCES_DIR}/" DESTINATION "${staged}"
    PATTERN "__pycache__" EXCLUDE
    PATTERN "*.pyc" EXCLUDE)
file(COPY_FILE "${INFO_PLIST}" "${contents}/Info.plist" ONLY_IF_DIFFERENT)

set(cli_dir "${staged}/cli")
set(entries "")
if(IS_DIRECTORY "${cli_dir}")
    file(GLOB_RECURSE cli_files LIST_DIRECTORIES false RELATIVE "${cli_dir}" "${cli_dir}/*")
    list(SORT cli_files)
    foreach(rel IN LISTS cli_files)
        file(SHA256 "${cli_dir}/${rel}" digest)
        string(REPLACE "\\" "\\\\" key "${rel}")
        string(REPLACE "\"" "\\\"" key "${key}")
        list(APPEND entries "    \"${key}\": \"${digest}\"")
    endforeach()
endif()
list(JOIN entries ",\n" body)
if(body STREQUAL "")
    set(manifest "{\n  \"files\": {}\n}\n")
else()
    set(manifest "{\n  \"files\": {\n${body}\n  }\n}\n")
endif()
file(WRITE "${staged}/cli-manifest.json" "${manifest}")
