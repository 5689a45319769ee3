# Installing the system like any Linux software, and its Debian package.
#
# The programs that print, the driver and the platform's shared libraries live together
# in one private folder, <prefix>/lib/qx, as they do beside each other on the handheld:
# the graphics engine looks for the driver beside the running program, and every file
# there finds the others through an $ORIGIN run path, so an installed tree works from
# any prefix or scratch root. <prefix>/bin holds links to the programs; the engine
# follows the link to the program's own folder.
include(GNUInstallDirs)

set(QX_VERSION 0.1.0)
set(QX_DOCDIR ${CMAKE_INSTALL_DATADIR}/doc/qx-printing)
set(QX_INSTALL_PKGDIR lib/qx CACHE STRING "Folder below the prefix for the programs, the driver and their libraries")
file(RELATIVE_PATH QX_BIN_TO_PKGDIR /prefix/${CMAKE_INSTALL_BINDIR} /prefix/${QX_INSTALL_PKGDIR})

foreach(lib qx_platform qx_gdi qx_ui qx_ui_qt QX470 QX250)
  if(TARGET ${lib})
    set_target_properties(${lib} PROPERTIES INSTALL_RPATH "$ORIGIN")
    install(TARGETS ${lib} LIBRARY DESTINATION ${QX_INSTALL_PKGDIR} COMPONENT runtime)
  endif()
endforeach()

# Programs that load the driver or the platform's libraries, each linked from bin/.
foreach(program qx-print PrintDemo QX470SETUP QX250SETUP qx-printer-app)
  if(TARGET ${program})
    set_target_properties(${program} PROPERTIES INSTALL_RPATH "$ORIGIN")
    install(TARGETS ${program} RUNTIME DESTINATION ${QX_INSTALL_PKGDIR} COMPONENT runtime)
    install(CODE "
      set(link \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/${program}\")
      file(MAKE_DIRECTORY \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
      message(STATUS \"Installing: \${link} -> ${QX_BIN_TO_PKGDIR}/${program}\")
      file(CREATE_LINK \"${QX_BIN_TO_PKGDIR}/${program}\" \"\${link}\" SYMBOLIC)
    " COMPONENT runtime)
  endif()
endforeach()

# The printer application's job worker runs beside its server, started by it alone.
if(TARGET qx-printer-app-worker)
  set_target_properties(qx-printer-app-worker PROPERTIES INSTALL_RPATH "$ORIGIN")
  install(TARGETS qx-printer-app-worker RUNTIME DESTINATION ${QX_INSTALL_PKGDIR} COMPONENT runtime)
  install(TARGETS qx-printer-app-pdf LIBRARY DESTINATION ${QX_INSTALL_PKGDIR} COMPONENT runtime)
endif()

# The emulator needs none of them.
if(TARGET qx-emulator)
  install(TARGETS qx-emulator RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
endif()

# Desktop entries and their icons (the Oxygen icons of the utilities, LGPL-3+).
set(QX_ICONS ${PROJECT_SOURCE_DIR}/setup/res/icons)
set(QX_ICON_DIR ${CMAKE_INSTALL_DATADIR}/icons/hicolor/32x32/apps)
if(TARGET QX470SETUP OR TARGET QX250SETUP)
  install(FILES ${QX_ICONS}/128-printer.png DESTINATION ${QX_ICON_DIR} RENAME qx-setup.png COMPONENT runtime)
endif()
if(TARGET QX470SETUP)
  install(FILES packaging/qx470setup.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT runtime)
endif()
if(TARGET QX250SETUP)
  install(FILES packaging/qx250setup.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT runtime)
endif()
if(TARGET PrintDemo)
  install(FILES ${QX_ICONS}/137-document-print.png DESTINATION ${QX_ICON_DIR} RENAME qx-printdemo.png
          COMPONENT runtime)
  install(FILES packaging/printdemo.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT runtime)
endif()
install(FILES ${QX_ICONS}/COPYRIGHT ${QX_ICONS}/LGPL-3 ${QX_ICONS}/GPL-3
        DESTINATION ${QX_DOCDIR}/icons COMPONENT runtime)
# A user's guide, not the developers' README; the licence terms; the changelog,
# compressed as Debian wants it.
install(FILES packaging/user-guide.md DESTINATION ${QX_DOCDIR} COMPONENT runtime)
install(FILES debian/copyright DESTINATION ${QX_DOCDIR} COMPONENT runtime)
set(QX_CHANGELOG ${CMAKE_BINARY_DIR}/doc/changelog.gz)
add_custom_command(OUTPUT ${QX_CHANGELOG}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/doc
  COMMAND gzip -9 -n -c ${PROJECT_SOURCE_DIR}/debian/changelog > ${QX_CHANGELOG}
  DEPENDS ${PROJECT_SOURCE_DIR}/debian/changelog VERBATIM)
add_custom_target(qx_changelog ALL DEPENDS ${QX_CHANGELOG})
install(FILES ${QX_CHANGELOG} DESTINATION ${QX_DOCDIR} COMPONENT runtime)

# The printer application as a system service and as a user's own; the PAM service
# its administrators sign in with.
if(TARGET qx-printer-app)
  install(FILES debian/qx-printer-app.service DESTINATION lib/systemd/system COMPONENT runtime)
  install(FILES debian/qx-printer-app.user.service DESTINATION lib/systemd/user
          RENAME qx-printer-app.service COMPONENT runtime)
  # PAM reads /etc/pam.d whatever the prefix.
  install(FILES debian/qx-printer-app.pam DESTINATION /etc/pam.d
          RENAME qx-printer-app COMPONENT runtime)
endif()

# Man pages, compressed as Debian wants them.
set(QX_MAN_PAGES "")
set(QX_PAGES qx-print qx-emulator)
foreach(program PrintDemo QX470SETUP QX250SETUP qx-printer-app)
  if(TARGET ${program})
    list(APPEND QX_PAGES ${program})
  endif()
endforeach()
foreach(page ${QX_PAGES})
  set(gz ${CMAKE_BINARY_DIR}/man/${page}.1.gz)
  add_custom_command(OUTPUT ${gz}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
    COMMAND gzip -9 -n -c ${PROJECT_SOURCE_DIR}/packaging/${page}.1 > ${gz}
    DEPENDS ${PROJECT_SOURCE_DIR}/packaging/${page}.1 VERBATIM)
  list(APPEND QX_MAN_PAGES ${gz})
endforeach()
add_custom_target(qx_man_pages ALL DEPENDS ${QX_MAN_PAGES})
install(FILES ${QX_MAN_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT runtime)

# The package test installs this build into a scratch root and prints with what it
# installed; building it builds everything that is installed.
qx_add_test(package_install_itest LABEL integration SOURCES packaging/tests/install_itest.cpp
            LIBS qx_emulator qx_platform)
if(TARGET package_install_itest)
  foreach(t qx_platform qx_gdi qx_ui qx_ui_qt QX470 QX250 qx-print PrintDemo QX470SETUP QX250SETUP qx-printer-app
            qx-printer-app-worker qx-printer-app-pdf qx-emulator qx_man_pages qx_changelog)
    if(TARGET ${t})
      add_dependencies(package_install_itest ${t})
    endif()
  endforeach()
  target_compile_definitions(package_install_itest PRIVATE QX_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    QX_BUILD_DIR="${CMAKE_BINARY_DIR}" QX_CMAKE="${CMAKE_COMMAND}" QX_CPACK="${CMAKE_CPACK_COMMAND}"
    QX_PKGDIR="${QX_INSTALL_PKGDIR}")
endif()

# The Debian package: make package, then apt install ./qx-printing_*.deb.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME qx-printing)
set(CPACK_PACKAGE_VERSION ${QX_VERSION})
set(CPACK_PACKAGE_CONTACT "QX Printing Team <qx-printing@example.org>")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "QX Printing Team <qx-printing@example.org>")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://qx-printing.example.org/")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "drivers, settings utilities and IPP printing for QX thermal printers")
set(CPACK_PACKAGE_DESCRIPTION "The QX-470 and QX-250 printer drivers, for the 3-inch label printer
(model A) and the 2-inch receipt printer (model B), with their settings
utilities QX470SETUP and QX250SETUP and the sample program PrintDemo.
.
qx-printer-app is an IPP printer application: computers, phones and CUPS
queues print to the printers through their drivers. It runs as a system
service; changing it needs an administrator.
.
qx-print prints images and text files from a shell, and qx-emulator takes
a printer's place and renders what it would print as PNG files.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
# The libraries the programs link come from dpkg-shlibdeps; the fonts that stand in
# for "Arial", "System" and the Korean texts are named here.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# dpkg-shlibdeps runs in the package's staging root.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS usr/${QX_INSTALL_PKGDIR})
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-liberation, fonts-nanum, adduser")
# The libraries in lib/qx are private: no shlibs file and no ldconfig trigger.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The service is enabled and started as other printer applications' packages do it.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/debian/postinst ${PROJECT_SOURCE_DIR}/debian/prerm
    ${PROJECT_SOURCE_DIR}/debian/postrm ${PROJECT_SOURCE_DIR}/debian/conffiles)
include(CPack)
