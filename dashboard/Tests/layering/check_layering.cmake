# cmake -DSOURCES=<sources> -DMODULE=<VarnoLayering.cmake> -DLAYERS=<a|b|c,d|...>
#       -DWORK=<scratch folder> -P check_layering.cmake
#
# Copies the source folders, runs the include check on the copy as it stands
# (it must pass), then once for each planted include (each must fail, naming
# the file and the include).

cmake_minimum_required(VERSION 3.25)
string(REPLACE "|" ";" layers "${LAYERS}")

# Each case: "<folder>/<file>|<include line>|<why it is wrong>".
set(plants
    "records/Planted.cpp|#include \"engine/VARNOProcess.h\"|records include the engine"
    "base/Planted.h|#include \"platform/Clock.h\"|the lowest folder includes a higher one"
    "engine/Planted.cpp|#include \"model/AppModel.h\"|the engine includes the model"
    "model/Planted.cpp|#include \"kit/VarnoColor.h\"|the core includes a widget folder"
    "cards/Planted.cpp|#include \"sheets/ContributeSheet.h\"|a view includes a sibling view"
    "workshop/Planted.h|#include \"cards/CardParts.h\"|the shelf includes the cards"
    "widgets/Planted.cpp|#include \"cards/CardParts.h\"|a shared widget includes a view"
    "kit/Planted.cpp|#include \"widgets/Skeleton.h\"|the kit includes a folder above it"
    "shell/Planted.cpp|#include \"screenshots/ScreenshotScenes.h\"|the app includes the screenshot scenes"
    "newfolder/Planted.cpp|#include \"kit/VarnoColor.h\"|a folder that is in no layer")

function(run_check root out_result out_output)
    set(script "${WORK}/run.cmake")
    file(WRITE "${script}" "cmake_minimum_required(VERSION 3.25)\ninclude([[${MODULE}]])\nvarno_check_include_layers([[${root}]] LAYERS")
    foreach(layer IN LISTS layers)
        file(APPEND "${script}" " [[${layer}]]")
    endforeach()
    file(APPEND "${script}" ")\n")
    execute_process(COMMAND "${CMAKE_COMMAND}" -P "${script}"
        RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
    set(${out_result} "${result}" PARENT_SCOPE)
    set(${out_output} "${output}" PARENT_SCOPE)
endfunction()

file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")
set(copy "${WORK}/sources")
file(COPY "${SOURCES}/" DESTINATION "${copy}" FILES_MATCHING PATTERN "*.h" PATTERN "*.cpp")

set(failures "")
run_check("${copy}" result output)
if(NOT result EQUAL 0)
    list(APPEND failures "the untouched sources fail the check:\n${output}")
endif()

foreach(plant IN LISTS plants)
    string(REPLACE "|" ";" parts "${plant}")
    list(GET parts 0 file)
    list(GET parts 1 line)
    list(GET parts 2 why)
    get_filename_component(folder "${copy}/${file}" DIRECTORY)
    file(MAKE_DIRECTORY "${folder}")
    file(WRITE "${copy}/${file}" "${line}\n")
    run_check("${copy}" result output)
    file(REMOVE "${copy}/${file}")
    if(file MATCHES "^newfolder/")
        file(REMOVE_RECURSE "${copy}/newfolder")
        set(expected "newfolder/ is in no layer")
    else()
        string(REGEX REPLACE "^#include \"(.*)\"$" "\\1" included "${line}")
        set(expected "${file} includes ${included}")
    endif()
    if(result EQUAL 0)
        list(APPEND failures "passed although ${why} (${file}: ${line})")
    else()
        string(FIND "${output}" "${expected}" at)
        if(at EQUAL -1)
            list(APPEND failures "failed without naming \"${expected}\" (${why}):\n${output}")
        endif()
    endif()
endforeach()

if(failures)
    list(JOIN failures "\n" listed)
    message(FATAL_ERROR "${listed}")
endif()
list(LENGTH plants count)
message(STATUS "The include check passes the sources and stops all ${count} planted includes")
