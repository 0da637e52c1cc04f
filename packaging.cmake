# What a user gets besides the programs: documentation, and a Debian package
# made by `cpack -G DEB` in the build tree.

# Who answers for the package; the Debian package's Maintainer field. Debian's
# own tools take the packager from DEBFULLNAME and DEBEMAIL, and so does this
# default; -DAVRISP_MAINTAINER="Name <address>" names anyone else.
if(DEFINED ENV{DEBFULLNAME} AND DEFINED ENV{DEBEMAIL})
  set(avrisp_default_maintainer "$ENV{DEBFULLNAME} <$ENV{DEBEMAIL}>")
else()
  set(avrisp_default_maintainer "The tarnwick and pellory developers <maintainers@tarnwick-pellory.invalid>")
endif()
set(AVRISP_MAINTAINER "${avrisp_default_maintainer}" CACHE STRING
  "Maintainer of the Debian package, as \"Name <address>\"")

install(FILES README.md LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR})
# The example scripts are meant to be run from where they are installed.
install(DIRECTORY examples DESTINATION ${CMAKE_INSTALL_DOCDIR} USE_SOURCE_PERMISSIONS)

# bash completion, one file serving all three programs, under each one's name
# so that bash-completion loads it the first time the program is completed.
foreach(program tarnwick pellory korvo-sim)
  install(FILES scripts/completion/avrisp.bash
          DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME ${program})
endforeach()

# Debian's copyright file in its machine-readable form, with the licence text
# taken from LICENSE: continuation lines indented, blank lines as " .".
file(READ ${PROJECT_SOURCE_DIR}/LICENSE avrisp_license)
string(REGEX MATCH "Copyright \\(c\\) ([^\n]*)" avrisp_holder_line "${avrisp_license}")
set(avrisp_holder "${CMAKE_MATCH_1}")
string(REGEX REPLACE "^MIT License\n+" "" avrisp_license_body "${avrisp_license}")
string(STRIP "${avrisp_license_body}" avrisp_license_body)
string(REPLACE "\n\n" "\n.\n" avrisp_license_body "${avrisp_license_body}")
string(REPLACE "\n" "\n " avrisp_license_body "${avrisp_license_body}")
file(WRITE ${PROJECT_BINARY_DIR}/packaging/copyright
  "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
  "Upstream-Name: ${PROJECT_NAME}\n"
  "\n"
  "Files: *\n"
  "Copyright: ${avrisp_holder}\n"
  "License: Expat\n"
  " ${avrisp_license_body}\n")

# The Debian changelog, dated by SOURCE_DATE_EPOCH when set so that a package
# can be built again byte for byte.
string(TIMESTAMP avrisp_changelog_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
set(AVRISP_DEBIAN_RELEASE 1)
file(WRITE ${PROJECT_BINARY_DIR}/packaging/changelog.Debian
  "${PROJECT_NAME} (${PROJECT_VERSION}-${AVRISP_DEBIAN_RELEASE}) unstable; urgency=medium\n"
  "\n"
  "  * Package built from the ${PROJECT_NAME} ${PROJECT_VERSION} sources.\n"
  "\n"
  " -- ${AVRISP_MAINTAINER}  ${avrisp_changelog_date}\n")
find_program(AVRISP_GZIP gzip REQUIRED)
# -n leaves out the name and time, so the same text gives the same bytes.
add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/packaging/changelog.Debian.gz
  COMMAND ${AVRISP_GZIP} -9nc changelog.Debian > changelog.Debian.gz
  DEPENDS ${PROJECT_BINARY_DIR}/packaging/changelog.Debian
  WORKING_DIRECTORY ${PROJECT_BINARY_DIR}/packaging
  COMMENT "Compressing the Debian changelog")
add_custom_target(debian_changelog ALL DEPENDS ${PROJECT_BINARY_DIR}/packaging/changelog.Debian.gz)
install(FILES ${PROJECT_BINARY_DIR}/packaging/copyright
              ${PROJECT_BINARY_DIR}/packaging/changelog.Debian.gz
        DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_PACKAGE_NAME ${PROJECT_NAME})
set(CPACK_PACKAGE_VENDOR "The tarnwick and pellory developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "in-circuit AVR programming through a Korvo USB programmer or Marlow cable")
set(CPACK_PACKAGE_CONTACT "${AVRISP_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${AVRISP_MAINTAINER}")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${AVRISP_DEBIAN_RELEASE})
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The summary above is the first line; this is the long description below it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "tarnwick drives the Korvo USB programmer, pellory the Marlow parallel-port\n\
cable: each downloads Intel HEX and ELF images to an AVR's flash and EEPROM,\n\
reads them back, and reads and writes its fuses and lock byte, from the\n\
command line or an interactive prompt.\n\
.\n\
korvo-sim simulates a Korvo with an AVR behind it on a pseudo-terminal, and a\n\
simulated cable library stands in for the Marlow, so both can be tried\n\
without hardware.")
# dpkg-shlibdeps names the libraries with the versions this build needs
# (libedit among them); without it the list is written out by hand.
find_program(AVRISP_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(AVRISP_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR}/lib)
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6, libgcc-s1, libedit2")
endif()
include(CPack)
