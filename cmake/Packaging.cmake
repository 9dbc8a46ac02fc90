# Installation (cmake --install) and the Debian packages (cpack -G DEB in the build folder):
# brevanto-cli (component cli) holds brevanto-run and everything a server needs, with no Qt
# or X library; brevanto (component gui) adds the window and depends on brevanto-cli.
include(GNUInstallDirs)

# systemd finds a bare name in /usr/bin and /usr/local/bin; other prefixes need the path.
if(CMAKE_INSTALL_PREFIX MATCHES "^/usr(/local)?/?$")
  set(BREVANTO_RUN brevanto-run)
else()
  set(BREVANTO_RUN ${CMAKE_INSTALL_FULL_BINDIR}/brevanto-run)
endif()
set(_packaging ${CMAKE_SOURCE_DIR}/packaging)
set(_configured ${CMAKE_BINARY_DIR}/packaging)
# Lower case whatever the project's name: the path the manual pages and units point to.
set(BREVANTO_DOCDIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/brevanto)

# gzip -9n: the best compression and no time stamp, so the same input gives the same file.
set(_gzipped)
function(brevanto_gzip file)
  add_custom_command(OUTPUT ${file}.gz COMMAND gzip -9nkf ${file} DEPENDS ${file} VERBATIM)
  set(_gzipped ${_gzipped} ${file}.gz PARENT_SCOPE)
endfunction()

foreach(unit brevanto.service brevanto-task@.service brevanto-task@.timer)
  configure_file(${_packaging}/systemd/${unit} ${_configured}/systemd/${unit} @ONLY)
  install(FILES ${_configured}/systemd/${unit} DESTINATION lib/systemd/user COMPONENT cli)
endforeach()
configure_file(${_packaging}/systemd/system/brevanto@.service
               ${_configured}/systemd/system/brevanto@.service @ONLY)
install(FILES ${_configured}/systemd/system/brevanto@.service DESTINATION lib/systemd/system
        COMPONENT cli)

foreach(page brevanto-run brevanto)
  configure_file(${_packaging}/man/${page}.1 ${_configured}/man/${page}.1 @ONLY)
  brevanto_gzip(${_configured}/man/${page}.1)
endforeach()
install(FILES ${_configured}/man/brevanto-run.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT cli)
install(FILES ${_packaging}/completion/brevanto-run
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions COMPONENT cli)
install(FILES ${CMAKE_SOURCE_DIR}/docs/ADMIN.md DESTINATION ${BREVANTO_DOCDIR} COMPONENT cli)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/docs/formats DESTINATION ${BREVANTO_DOCDIR} COMPONENT cli
        FILES_MATCHING PATTERN "*.md")

# Each package carries its own copyright file and changelog (Debian policy).
configure_file(${_packaging}/debian/changelog ${_configured}/debian/changelog @ONLY)
brevanto_gzip(${_configured}/debian/changelog)
add_custom_target(brevanto_packaging_files ALL DEPENDS ${_gzipped})
set(_packages cli brevanto-cli)
if(BREVANTO_BUILD_UI)
  list(APPEND _packages gui brevanto)
  install(FILES ${_configured}/man/brevanto.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT gui)
  configure_file(${_packaging}/io.brevanto.Brevanto.metainfo.xml
                 ${_configured}/io.brevanto.Brevanto.metainfo.xml @ONLY)
  install(FILES ${_configured}/io.brevanto.Brevanto.metainfo.xml
          DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo COMPONENT gui)
  install(FILES ${_packaging}/brevanto.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications
          COMPONENT gui)
  # The icon the desktop entry names, in the theme's layout: hicolor/<size>/apps/brevanto.png
  # and hicolor/scalable/apps/brevanto.svg. The window and tray use the same files compiled in.
  install(DIRECTORY ${_packaging}/icons/hicolor DESTINATION ${CMAKE_INSTALL_DATADIR}/icons COMPONENT gui)
endif()
set(CPACK_COMPONENTS_ALL)
while(_packages)
  list(POP_FRONT _packages component package)
  list(APPEND CPACK_COMPONENTS_ALL ${component})
  string(TOUPPER ${component} upper)
  set(CPACK_DEBIAN_${upper}_PACKAGE_NAME ${package})
  install(FILES ${_packaging}/debian/copyright ${_configured}/debian/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package} COMPONENT ${component})
endwhile()

set(CPACK_PACKAGE_NAME brevanto)
set(CPACK_PACKAGE_VENDOR "Brevanto")
set(CPACK_PACKAGE_CONTACT "Brevanto developers <dev@brevanto.invalid>")
# One string per package: the first line is the synopsis, the rest the extended description.
# (A list of strings would reach the control file joined by semicolons.)
string(CONCAT _about "Brevanto keeps a list of MySQL and MariaDB tasks (backups to SQL or PHP files,\n"
           "server and database copies, table exports, SQL scripts and restores) and runs\n"
           "them unattended on schedules.\n")
string(CONCAT CPACK_DEBIAN_CLI_DESCRIPTION
  "scheduled MySQL/MariaDB backups, copies and exports (command line)\n" ${_about}
  ".\n"
  "This package holds brevanto-run, which runs tasks, the headless scheduler and\n"
  "imports and exports tasks as JSON, with systemd units for a user session or a\n"
  "dedicated system user. It needs no graphical libraries.")
string(CONCAT CPACK_DEBIAN_GUI_DESCRIPTION
  "scheduled MySQL/MariaDB backups, copies and exports (desktop)\n" ${_about}
  ".\n"
  "This package holds the Qt program brevanto: it lives in the notification area,\n"
  "shows the tasks and their logs, and creates and edits tasks with a wizard.")
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_COMPONENT_GUI_DEPENDS cli)
set(CPACK_DEBIAN_PACKAGE_SOURCE brevanto)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Restoring a backup by hand takes the stock client; the desktop package has it through brevanto-cli.
set(CPACK_DEBIAN_CLI_PACKAGE_RECOMMENDS "mariadb-client")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# gzip: a fraction of xz's time on a large program, which keeps the package test quick.
set(CPACK_DEBIAN_COMPRESSION_TYPE gzip)
set(CPACK_GENERATOR DEB)
include(CPack)
