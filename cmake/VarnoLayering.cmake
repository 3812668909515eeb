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

# varno_check_include_layers(<root> LAYERS <layer>...)
#
# Fails the configure step when a source includes a header of a folder that is
# not below its own. Each <layer> is one folder, or several folders separated
# by commas that sit side by side (the views): lowest layer first. A file of
# folder F may include headers of F itself and of folders in lower layers;
# never of a higher layer, and never of a sibling in its own layer. Every
# folder under <root> must be named in a layer. Sources are re-globbed on
# every configure, and the globs that collect them re-run configure when a
# file is added.
function(varno_check_include_layers root)
    cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "LAYERS")
    set(rank 0)
    set(folders "")
    foreach(layer IN LISTS arg_LAYERS)
        string(REPLACE "," ";" members "${layer}")
        foreach(folder IN LISTS members)
            string(STRIP "${folder}" folder)
            set(_rank_${folder} ${rank})
            list(APPEND folders ${folder})
        endforeach()
        math(EXPR rank "${rank} + 1")
    endforeach()

    file(GLOB children LIST_DIRECTORIES true RELATIVE "${root}" "${root}/*")
    set(violations "")
    foreach(child IN LISTS children)
        if(IS_DIRECTORY "${root}/${child}" AND NOT child IN_LIST folders)
            list(APPEND violations "${child}/ is in no layer")
        endif()
    endforeach()

    foreach(folder IN LISTS folders)
        file(GLOB_RECURSE files "${root}/${folder}/*.cpp" "${root}/${folder}/*.h")
        foreach(file IN LISTS files)
            file(STRINGS "${file}" includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"[^\"]+/[^\"]+\"")
            foreach(line IN LISTS includes)
                string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"/]+)/.*$" "\\1" target "${line}")
                if(target STREQUAL folder OR NOT DEFINED _rank_${target})
                    continue()
                endif()
                if(NOT _rank_${target} LESS _rank_${folder})
                    file(RELATIVE_PATH shown "${root}" "${file}")
                    string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]+)\".*$" "\\1" included "${line}")
                    list(APPEND violations "${shown} includes ${included}")
                endif()
            endforeach()
        endforeach()
    endforeach()

    if(violations)
        list(JOIN arg_LAYERS " < " order)
        list(JOIN violations "\n  " listed)
        message(FATAL_ERROR
            "Sources include only their own folder and the layers below it "
            "(${order}; folders joined by a comma are siblings and do not "
            "include each other). These includes break it:\n  ${listed}")
    endif()
endfunction()
