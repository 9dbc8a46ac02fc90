# Installation (cmake --install) and the Debian package (cpack -G DEB in the build folder).
include(GNUInstallDirs)

# systemd finds a bare name in /usr/bin and /usr/local/bin; other prefixes need the path.
if(CMAKE_INSTALL_PREFIX MATCHES "^/usr(/local)?/?$")
  set(BREVANTO_RUN brevanto-run)
else()
  set(BREVANTO_RUN ${CMAKE_INSTALL_FULL_BINDIR}/brevanto-run)
endif()
set(_packaging ${CMAKE_SOURCE_DIR}/packaging)
set(_configured ${CMAKE_BINARY_DIR}/packaging)

foreach(unit brevanto.service brevanto-task@.service brevanto-task@.timer)
  configure_file(${_packaging}/systemd/${unit} ${_configured}/systemd/${unit} @ONLY)
  install(FILES ${_configured}/systemd/${unit} DESTINATION lib/systemd/user)
endforeach()
foreach(page brevanto.1 brevanto-run.1)
  configure_file(${_packaging}/man/${page} ${_configured}/man/${page} @ONLY)
  install(FILES ${_configured}/man/${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
configure_file(${_packaging}/io.brevanto.Brevanto.metainfo.xml
               ${_configured}/io.brevanto.Brevanto.metainfo.xml @ONLY)
install(FILES ${_configured}/io.brevanto.Brevanto.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${_packaging}/completion/brevanto-run
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
install(FILES ${CMAKE_SOURCE_DIR}/docs/ADMIN.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
if(BREVANTO_BUILD_UI)
  install(FILES ${_packaging}/brevanto.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  # The icon the desktop entry names, in the theme's layout: hicolor/<size>/apps/brevanto.png
  # and hicolor/scalable/apps/brevanto.svg. The window and tray use the same files compiled in.
  install(DIRECTORY ${_packaging}/icons/hicolor DESTINATION ${CMAKE_INSTALL_DATADIR}/icons)
endif()

set(CPACK_PACKAGE_NAME brevanto)
set(CPACK_PACKAGE_VENDOR "Brevanto")
set(CPACK_PACKAGE_CONTACT "Brevanto developers <dev@brevanto.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "scheduled backups, copies and exports of MySQL/MariaDB databases")
set(CPACK_PACKAGE_DESCRIPTION
    "Keeps a list of database tasks (backups to SQL/PHP files, server and database copies,\n"
    "table exports, SQL scripts, restores) and runs them on schedules, from the notification\n"
    "area or headless as a systemd user service.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "mariadb-client")
# gzip: a fraction of xz's time on a large program, which keeps the package test quick.
set(CPACK_DEBIAN_COMPRESSION_TYPE gzip)
set(CPACK_GENERATOR DEB)
include(CPack)
