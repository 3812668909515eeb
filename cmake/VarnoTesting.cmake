# varno_add_test_suite(<subsystem> [UI] [LIBRARIES <lib>...])
#
# One Qt Test executable per folder of dashboard/Tests: every .cpp of the folder
# is compiled in, each test class registers itself with VARNO_TEST_CLASS, and
# the shared main runs them all. Every test executable runs offscreen, with its
# own temporary HOME, settings file and XDG folders (made by the shared main),
# so that no test ever touches the real home folder.
#
# CTest sees one test per class, `<subsystem>.<Class>`, which runs the suite's
# executable with VARNO_TEST_CLASS=<Class>: a failure names its class, and the
# classes of a large suite spread over the cores. Every test of a suite carries
# the suite's name as its label (`ctest -L '^model$'`). The classes are read
# from the folder's .cpp files when CMake configures, and an edit of one of
# them configures again; `<subsystem>.classes` fails when the executable
# registers a class that has no test of its own.
#
# Suites of the headless core link varno_core only; UI suites link varno_ui.

set(VARNO_TEST_TIMEOUT 600 CACHE STRING "Seconds a test executable may run")

function(varno_add_test_suite subsystem)
    cmake_parse_arguments(ARG "UI" "" "LIBRARIES" ${ARGN})
    file(GLOB sources CONFIGURE_DEPENDS
        "${CMAKE_CURRENT_SOURCE_DIR}/*.cpp" "${CMAKE_CURRENT_SOURCE_DIR}/*.h")
    set(target tst_${subsystem})
    add_executable(${target} ${sources})
    if(ARG_UI)
        target_link_libraries(${target} PRIVATE varno_test_main_ui varno_ui)
    else()
        target_link_libraries(${target} PRIVATE varno_test_main_core varno_core)
    endif()
    target_link_libraries(${target} PRIVATE varno_testsupport Qt6::Test ${ARG_LIBRARIES})
    varno_set_warnings(${target})
    if(ARG_UI)
        varno_precompile(${target} UI TEST)
    else()
        varno_precompile(${target} TEST)
    endif()
    varno_autogen_tracks_sources(${target})
    add_dependencies(${target} varno_resources)

    set(env
        "QT_QPA_PLATFORM=offscreen"
        "QT_LOGGING_RULES=qt.qpa.*=false"
        "LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/.ci/lsan.supp:print_suppressions=0"
        "ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:detect_stack_use_after_return=0"
        "UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1")

    set(classes "")
    foreach(source IN LISTS sources)
        if(NOT source MATCHES "\\.cpp$")
            continue()
        endif()
        set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${source}")
        file(STRINGS "${source}" lines REGEX "^[ \t]*VARNO_TEST_CLASS\\([A-Za-z_][A-Za-z0-9_]*\\)")
        foreach(line IN LISTS lines)
            string(REGEX REPLACE "^[ \t]*VARNO_TEST_CLASS\\(([A-Za-z0-9_]+)\\).*$" "\\1" class "${line}")
            list(APPEND classes "${class}")
        endforeach()
    endforeach()
    list(SORT classes)
    if(NOT classes)
        message(FATAL_ERROR "The test suite ${subsystem} registers no class with VARNO_TEST_CLASS(<Class>).")
    endif()

    foreach(class IN LISTS classes)
        set(name "${subsystem}.${class}")
        add_test(NAME ${name} COMMAND ${target})
        set_tests_properties(${name} PROPERTIES
            ENVIRONMENT "${env};VARNO_TEST_CLASS=${class}"
            TIMEOUT ${VARNO_TEST_TIMEOUT}
            LABELS "${subsystem}")
    endforeach()

    list(JOIN classes "," class_list)
    add_test(NAME ${subsystem}.classes
        COMMAND ${CMAKE_COMMAND} "-DEXECUTABLE=$<TARGET_FILE:${target}>" "-DCLASSES=${class_list}"
            -P "${PROJECT_SOURCE_DIR}/cmake/VarnoTestClasses.cmake")
    set_tests_properties(${subsystem}.classes PROPERTIES
        ENVIRONMENT "${env}"
        TIMEOUT 120
        LABELS "${subsystem}")
endfunction()
