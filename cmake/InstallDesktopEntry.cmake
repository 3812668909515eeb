# Runs at install time (see VarnoInstall.cmake): links <prefix>/bin/VARNO to
# the bundle's executable and writes the desktop entry with that path as Exec.

set(root "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
file(MAKE_DIRECTORY "${root}/bin" "${root}/share/applications")
file(RELATIVE_PATH target "${root}/bin" "${root}/${VARNO_INSTALL_BUNDLE}/Contents/MacOS/VARNO")
file(REMOVE "${root}/bin/VARNO")
file(CREATE_LINK "${target}" "${root}/bin/VARNO" SYMBOLIC)
message(STATUS "Installing: ${root}/bin/VARNO -> ${target}")

# Exec names the executable bare when it holds none of the characters that
# desktop entries reserve (so that simple launchers such as xdg-open's own
# run it too); otherwise it is quoted as desktop entries want: inside the
# quotes ", `, $ and \ take a backslash, then every backslash is doubled
# once more (the value is an escaped string). A percent sign is doubled.
set(executable "${CMAKE_INSTALL_PREFIX}/bin/VARNO")
if(executable MATCHES "[] \t\n\"'\\><~|&;$*?#()`[]")
    string(REGEX REPLACE "([\"`$\\\\])" "\\\\\\1" quoted "${executable}")
    string(REPLACE "\\" "\\\\" quoted "${quoted}")
    set(quoted "\"${quoted}\"")
else()
    set(quoted "${executable}")
endif()
string(REPLACE "%" "%%" quoted "${quoted}")

file(STRINGS "${VARNO_DESKTOP_SOURCE}" lines)
set(entry "")
foreach(line IN LISTS lines)
    if(line MATCHES "^#")
        continue()
    elseif(line MATCHES "^Exec=")
        string(APPEND entry "Exec=${quoted} %u\n")
    else()
        string(APPEND entry "${line}\n")
    endif()
endforeach()
set(desktop "${root}/share/applications/org.varno.workshop.desktop")
file(WRITE "${desktop}" "${entry}")
message(STATUS "Installing: ${desktop}")
