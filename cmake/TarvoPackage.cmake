# Installation (cmake --install) and the Debian package CPack builds from
# it (scripts/package).
include(GNUInstallDirs)

# Debian wants manual pages and changelogs compressed; -n leaves the name
# and time stamp out so the same sources give the same package.
find_program(TARVO_GZIP gzip REQUIRED)
configure_file(doc/tarvo.1.in ${CMAKE_BINARY_DIR}/doc/tarvo.1 @ONLY)
configure_file(doc/changelog ${CMAKE_BINARY_DIR}/doc/changelog COPYONLY)
add_custom_command(
  OUTPUT ${CMAKE_BINARY_DIR}/doc/tarvo.1.gz ${CMAKE_BINARY_DIR}/doc/changelog.gz
  COMMAND ${TARVO_GZIP} -9nkf tarvo.1 changelog
  DEPENDS ${CMAKE_BINARY_DIR}/doc/tarvo.1 ${CMAKE_BINARY_DIR}/doc/changelog
  WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/doc
  VERBATIM)
add_custom_target(tarvo_docs ALL DEPENDS ${CMAKE_BINARY_DIR}/doc/tarvo.1.gz ${CMAKE_BINARY_DIR}/doc/changelog.gz)

install(TARGETS tarvo RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_BINARY_DIR}/doc/tarvo.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES README.md doc/copyright ${CMAKE_BINARY_DIR}/doc/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(DIRECTORY examples/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)

set(TARVO_PACKAGE_MAINTAINER "the tarvo developers <tarvo@example.org>"
  CACHE STRING "Maintainer field of the Debian package")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarvo)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${TARVO_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "unattended batch file transfer over FTP and HTTP")
set(CPACK_PACKAGE_DESCRIPTION [=[
tarvo runs the transfer jobs of one INI job file without any interactive
input, as a scheduler (a systemd timer, cron, a Kubernetes CronJob) starts
it: FTP downloads and uploads by wildcard mask, HTTP GET of one URL, and
HTTP PUT or multipart POST uploads of local files. Every download is
checked by size and put in place by one rename, every upload against the
server's answer; sources can be deleted once verified.

Every step is logged as a time-stamped line on standard output, and the
exit status tells whether the last job succeeded, failed on the server or
failed locally. It speaks FTP (active and passive, firewall logons, many
listing styles) and HTTP/1.0 and 1.1 with https, proxies and CONNECT
tunnels.]=])
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# libc6, libssl3 and libstdc++6 come from the binary; the MIME type table is
# read at run time.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "media-types")
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
include(CPack)
