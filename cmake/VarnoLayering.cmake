# varno_forbid_link(<target> <forbidden>...)
#
# Fails the configure step when <target> links, directly or through any target
# it links, one of the forbidden targets. The check runs at the end of the
# directory, after every target_link_libraries() call of that directory.

function(_varno_collect_links target out_var)
    set(seen "${${out_var}}")
    foreach(prop LINK_LIBRARIES INTERFACE_LINK_LIBRARIES)
        get_target_property(links ${target} ${prop})
        if(NOT links)
            continue()
        endif()
        foreach(link IN LISTS links)
            # Unwrap $<LINK_ONLY:x> and similar single-argument wrappers; skip
            # other generator expressions, which name no target of ours.
            string(REGEX REPLACE "^\\$<LINK_ONLY:(.*)>$" "\\1" link "${link}")
            string(REGEX REPLACE "^::@\\([^)]*\\)::" "" link "${link}")
            if(link MATCHES "^\\$<" OR link IN_LIST seen)
                continue()
            endif()
            list(APPEND seen "${link}")
            if(TARGET ${link})
                get_target_property(aliased ${link} ALIASED_TARGET)
                if(aliased)
                    list(APPEND seen "${aliased}")
                    set(link "${aliased}")
                endif()
                _varno_collect_links(${link} seen)
            endif()
        endforeach()
    endforeach()
    set(${out_var} "${seen}" PARENT_SCOPE)
endfunction()

function(_varno_check_forbidden_links target)
    set(all "")
    _varno_collect_links(${target} all)
    foreach(forbidden IN LISTS ARGN)
        set(names "${forbidden}")
        if(TARGET ${forbidden})
            get_target_property(aliased ${forbidden} ALIASED_TARGET)
            if(aliased)
                list(APPEND names "${aliased}")
            endif()
        endif()
        foreach(name IN LISTS names)
            if(name IN_LIST all)
                message(FATAL_ERROR
                    "${target} must not link ${forbidden}: it is the headless core "
                    "(engine, records, model, services, platform). Move the code "
                    "that needs it into a widget subsystem.")
            endif()
        endforeach()
    endforeach()
endfunction()

function(varno_forbid_link target)
    cmake_language(EVAL CODE "
        cmake_language(DEFER CALL _varno_check_forbidden_links [[${target}]] ${ARGN})")
endfunction()

# varno_check_include_layers(<root> LOWER <folder> VIEWS <folder>... HOST <folder>)
#
# Fails the configure step when a source breaks the widget layers' direction:
# host (the app's entry and what hosts scenes) -> views -> lower kit. No file
# of the kit or of a view folder may include the host, and nothing in the kit
# may include a view folder. Sources are re-globbed on every configure, and the
# globs that collect them re-run configure when a file is added.
function(varno_check_include_layers root)
    cmake_parse_arguments(PARSE_ARGV 1 arg "" "LOWER;HOST" "VIEWS")
    # One rule per folder: "folder|forbidden|forbidden...".
    string(JOIN "|" rules ${arg_LOWER} ${arg_HOST} ${arg_VIEWS})
    foreach(view IN LISTS arg_VIEWS)
        list(APPEND rules "${view}|${arg_HOST}")
    endforeach()

    set(violations "")
    foreach(rule IN LISTS rules)
        string(REPLACE "|" ";" parts "${rule}")
        list(POP_FRONT parts folder)
        file(GLOB_RECURSE files "${root}/${folder}/*.cpp" "${root}/${folder}/*.h")
        foreach(file IN LISTS files)
            file(STRINGS "${file}" includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"[^\"]+\"")
            foreach(line IN LISTS includes)
                string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]+)\".*$" "\\1" included "${line}")
                foreach(forbidden IN LISTS parts)
                    if(included MATCHES "^${forbidden}/")
                        file(RELATIVE_PATH shown "${root}" "${file}")
                        list(APPEND violations "${shown} includes ${included}")
                    endif()
                endforeach()
            endforeach()
        endforeach()
    endforeach()

    list(JOIN arg_VIEWS ", " views)
    if(violations)
        list(JOIN violations "\n  " listed)
        message(FATAL_ERROR
            "The widget layers point one way: ${arg_HOST} -> views (${views}) -> "
            "${arg_LOWER}. These includes point back:\n  ${listed}")
    endif()
endfunction()
