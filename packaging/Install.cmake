# Where an installed Nimbrel lives (Debian's layout) and the .deb that carries it:
#   /usr/lib/nimbrel/        nimbrelsvc, nimbrelwd, nimbrel-start (prepares the user's run
#                            directory, then runs the watchdog), make-certs, nimbrel-untrust
#   /usr/share/nimbrel/web/  the pages the service serves
#   /etc/nimbrel/config.ini  the configuration every user's run directory links to
#   /etc/xdg/autostart/nimbrel.desktop   starts nimbrel-start at login
# Each user's run directory ($XDG_DATA_HOME/nimbrel) is made at the first start, see nimbrel-start.
# Build the package:  cmake --build build && cpack --config build/CPackConfig.cmake -B build/package
include(GNUInstallDirs)

set(NIMBREL_MAINTAINER "Nimbrel developers <nimbrel@example.org>" CACHE STRING
    "The package's Maintainer field and changelog signature")
set(NIMBREL_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)
set(NIMBREL_INSTALL_LIBEXEC lib/nimbrel)
set(NIMBREL_INSTALL_WEB ${CMAKE_INSTALL_DATAROOTDIR}/nimbrel/web)
set(NIMBREL_INSTALL_DOC ${CMAKE_INSTALL_DATAROOTDIR}/doc/nimbrel)
# Configuration belongs in /etc whatever the prefix: absolute, as Debian wants it.
set(NIMBREL_INSTALL_CONFIG /etc/nimbrel)
set(NIMBREL_INSTALL_AUTOSTART /etc/xdg/autostart)
# The launcher, the autostart entry and the maintainer scripts name installed files by these
# paths: the layout is the package's, under /usr.
set(NIMBREL_PROGRAM_DIR /usr/${NIMBREL_INSTALL_LIBEXEC})
set(NIMBREL_WEB_DIR /usr/${NIMBREL_INSTALL_WEB})

install(TARGETS nimbrelsvc nimbrelwd RUNTIME DESTINATION ${NIMBREL_INSTALL_LIBEXEC})
configure_file(${NIMBREL_PACKAGING_DIR}/nimbrel-start.in ${CMAKE_BINARY_DIR}/packaging/nimbrel-start @ONLY)
install(PROGRAMS ${CMAKE_BINARY_DIR}/packaging/nimbrel-start ${NIMBREL_PACKAGING_DIR}/nimbrel-untrust
        DESTINATION ${NIMBREL_INSTALL_LIBEXEC})
install(PROGRAMS ${PROJECT_SOURCE_DIR}/scripts/make-certs.sh DESTINATION ${NIMBREL_INSTALL_LIBEXEC}
        RENAME make-certs)
# Only what the service would serve: web file types, no tests.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/web/ DESTINATION ${NIMBREL_INSTALL_WEB}
        FILES_MATCHING
        PATTERN "*.html" PATTERN "*.htm" PATTERN "*.js" PATTERN "*.mjs" PATTERN "*.css" PATTERN "*.json"
        PATTERN "*.png" PATTERN "*.jpg" PATTERN "*.jpeg" PATTERN "*.gif" PATTERN "*.svg" PATTERN "*.ico"
        PATTERN "*.webp" PATTERN "*.woff" PATTERN "*.woff2" PATTERN "*.ttf"
        PATTERN "test" EXCLUDE PATTERN "node_modules" EXCLUDE)
install(FILES ${NIMBREL_RUN_DIR}/config.ini DESTINATION ${NIMBREL_INSTALL_CONFIG})
configure_file(${NIMBREL_PACKAGING_DIR}/nimbrel.desktop.in ${CMAKE_BINARY_DIR}/packaging/nimbrel.desktop @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/packaging/nimbrel.desktop DESTINATION ${NIMBREL_INSTALL_AUTOSTART})

# Debian wants a copyright file and a compressed changelog in the package's doc folder.
configure_file(${NIMBREL_PACKAGING_DIR}/changelog.in ${CMAKE_BINARY_DIR}/packaging/changelog.Debian @ONLY)
execute_process(COMMAND gzip -9nf ${CMAKE_BINARY_DIR}/packaging/changelog.Debian)
install(FILES ${NIMBREL_PACKAGING_DIR}/copyright ${CMAKE_BINARY_DIR}/packaging/changelog.Debian.gz
        DESTINATION ${NIMBREL_INSTALL_DOC})
install(FILES ${NIMBREL_PACKAGING_DIR}/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides
        RENAME nimbrel)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME nimbrel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${NIMBREL_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# certutil trusts the root in the browsers' stores; openssl makes each user's certificates;
# runuser (util-linux, essential) runs the removal as each user.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libnss3-tools, openssl")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "zenity, xdg-utils")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "chromium | firefox-esr")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "local media service for video-surveillance web pages")
set(CPACK_PACKAGE_DESCRIPTION "A web page in an ordinary browser drives the service over a
loopback WebSocket (ws:// and wss:// on 127.0.0.1 and ::1); the service lays
native video windows exactly over the page and plays, records and snapshots
camera streams in them.
.
The watchdog starts at login, keeps the service running and has the user's
Chromium and Firefox trust a root certificate that can vouch for nothing but
127.0.0.1, ::1 and localhost.")
configure_file(${NIMBREL_PACKAGING_DIR}/prerm.in ${CMAKE_BINARY_DIR}/packaging/control/prerm @ONLY)
configure_file(${NIMBREL_PACKAGING_DIR}/postrm.in ${CMAKE_BINARY_DIR}/packaging/control/postrm @ONLY)
file(WRITE ${CMAKE_BINARY_DIR}/packaging/control/conffiles
     "${NIMBREL_INSTALL_CONFIG}/config.ini\n${NIMBREL_INSTALL_AUTOSTART}/nimbrel.desktop\n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${CMAKE_BINARY_DIR}/packaging/control/prerm ${CMAKE_BINARY_DIR}/packaging/control/postrm
    ${CMAKE_BINARY_DIR}/packaging/control/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
