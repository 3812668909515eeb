# cmake -DEXECUTABLE=<test executable> -DCLASSES=<class,...> -P VarnoTestClasses.cmake
#
# Fails when the test executable registers a class that is not in CLASSES
# (the classes CMake found in the suite's sources and gave a test of its
# own), or the other way round: a class CTest would never run.
execute_process(
    COMMAND "${CMAKE_COMMAND}" -E env VARNO_TEST_LIST=1 "${EXECUTABLE}"
    OUTPUT_VARIABLE output
    RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "${EXECUTABLE} could not list its test classes (exit ${result}).")
endif()
string(REGEX REPLACE "\n$" "" output "${output}")
string(REPLACE "\n" ";" registered "${output}")
list(SORT registered)
string(REPLACE "," ";" expected "${CLASSES}")

set(missing ${registered})
list(REMOVE_ITEM missing ${expected})
set(extra ${expected})
list(REMOVE_ITEM extra ${registered})
if(missing OR extra)
    message(FATAL_ERROR
        "The test classes CTest knows differ from those the executable registers.\n"
        "Registered without a test of their own: ${missing}\n"
        "Tests without a registered class: ${extra}\n"
        "Write each registration on a line of its own, as VARNO_TEST_CLASS(<Class>), and configure again.")
endif()
list(LENGTH registered count)
message(STATUS "${count} test classes, each a test of its own.")
