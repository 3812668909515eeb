# The app is staged as a bundle with the same layout on every platform:
#   VARNO.app/Contents/MacOS/<executable>
#   VARNO.app/Contents/Info.plist
#   VARNO.app/Contents/Resources/   (engine, cli-manifest.json, registries, images, fonts)
# so resource lookup and version facts need no special case in development.

set(VARNO_BUNDLE_DIR "${CMAKE_BINARY_DIR}/VARNO.app" CACHE INTERNAL "Staged app bundle")
set(VARNO_STAGE_SCRIPT "${CMAKE_CURRENT_LIST_DIR}/StageResources.cmake")

# Copies the resources and Info.plist into the bundle and writes the engine
# manifest. Re-runs whenever a resource file changes; new or removed files are
# picked up by the glob at the next configure, which the glob itself triggers.
function(varno_stage_bundle executable_target)
    set(resources_dir "${PROJECT_SOURCE_DIR}/dashboard/Resources")
    set(info_plist "${PROJECT_SOURCE_DIR}/dashboard/Sources/VARNO/Info.plist")
    file(GLOB_RECURSE resource_files CONFIGURE_DEPENDS
        LIST_DIRECTORIES false "${resources_dir}/*")
    list(FILTER resource_files EXCLUDE REGEX "/__pycache__/|\\.pyc$")

    set(stamp "${CMAKE_BINARY_DIR}/varno_resources.stamp")
    add_custom_command(
        OUTPUT "${stamp}"
        COMMAND "${CMAKE_COMMAND}"
            -DRESOURCES_DIR=${resources_dir}
            -DINFO_PLIST=${info_plist}
            -DBUNDLE_DIR=${VARNO_BUNDLE_DIR}
            -P "${VARNO_STAGE_SCRIPT}"
        COMMAND "${CMAKE_COMMAND}" -E touch "${stamp}"
        DEPENDS ${resource_files} "${info_plist}" "${VARNO_STAGE_SCRIPT}"
        COMMENT "Staging VARNO.app resources and engine manifest"
        VERBATIM)
    add_custom_target(varno_resources ALL DEPENDS "${stamp}")

    set_target_properties(${executable_target} PROPERTIES
        RUNTIME_OUTPUT_DIRECTORY "${VARNO_BUNDLE_DIR}/Contents/MacOS")
    add_dependencies(${executable_target} varno_resources)
endfunction()
