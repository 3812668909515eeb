# Settings shared by our own targets.

# Warnings for our own targets. Qt and QCoro headers are included as system
# headers by their imported targets, so only our code is held to these. With
# VARNO_WERROR (CI) every warning is an error.
function(varno_set_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wno-missing-field-initializers)
    if(VARNO_WERROR)
        target_compile_options(${target} PRIVATE -Werror)
    endif()
endfunction()

# Sources of our targets come from globs. When a glob picks up a new file at
# build time, CMake re-runs, but the target's moc step does not know that its
# source list changed and the new file's "<name>.moc" is never made. So keep
# the source list in a file, and when it differs from the last configure,
# drop the moc step's time stamp so that the step runs again.
function(varno_autogen_tracks_sources target)
    get_target_property(sources ${target} SOURCES)
    list(SORT sources)
    list(JOIN sources "\n" listing)
    set(list_file "${CMAKE_CURRENT_BINARY_DIR}/${target}_sources.txt")
    set(previous "")
    if(EXISTS "${list_file}")
        file(READ "${list_file}" previous)
    endif()
    if(NOT previous STREQUAL "${listing}\n")
        file(WRITE "${list_file}" "${listing}\n")
        file(REMOVE "${CMAKE_CURRENT_BINARY_DIR}/${target}_autogen/timestamp")
    endif()
endfunction()
