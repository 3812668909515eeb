# cmake --install: a tree that runs from any prefix.
#   <prefix>/lib/varno/VARNO.app/Contents/{MacOS/VARNO,Info.plist,Resources}
#       the staged bundle, so that resources are found beside the executable;
#   <prefix>/bin/VARNO
#       a link to the bundle's executable;
#   <prefix>/share/applications/org.varno.workshop.desktop
#       the desktop entry (it registers the varno: scheme), its Exec the
#       installed executable's absolute path;
#   <prefix>/share/icons/hicolor/scalable/apps/org.varno.workshop.svg
#       the app's icon.

set(VARNO_INSTALL_BUNDLE "lib/varno/VARNO.app")

install(TARGETS VARNO RUNTIME DESTINATION "${VARNO_INSTALL_BUNDLE}/Contents/MacOS")
install(FILES "${VARNO_BUNDLE_DIR}/Contents/Info.plist" DESTINATION "${VARNO_INSTALL_BUNDLE}/Contents")
install(DIRECTORY "${VARNO_BUNDLE_DIR}/Contents/Resources" DESTINATION "${VARNO_INSTALL_BUNDLE}/Contents"
        USE_SOURCE_PERMISSIONS)
install(FILES "${PROJECT_SOURCE_DIR}/dashboard/Resources/images/AppIcon.svg"
        DESTINATION "share/icons/hicolor/scalable/apps" RENAME "org.varno.workshop.svg")
install(CODE "set(VARNO_DESKTOP_SOURCE \"${PROJECT_SOURCE_DIR}/dashboard/Resources/org.varno.workshop.desktop\")
              set(VARNO_INSTALL_BUNDLE \"${VARNO_INSTALL_BUNDLE}\")")
install(SCRIPT "${CMAKE_CURRENT_LIST_DIR}/InstallDesktopEntry.cmake")
