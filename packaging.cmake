# What a user gets besides the programs: documentation, and a Debian package
# made by `cpack -G DEB` in the build tree.

install(FILES README.md LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(DIRECTORY examples DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_PACKAGE_NAME ${PROJECT_NAME})
set(CPACK_PACKAGE_VENDOR "The tarnwick and pellory developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_CONTACT "The tarnwick and pellory developers <tarnwick@localhost>")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "tarnwick drives the Korvo USB programmer, pellory the Marlow\n\
parallel-port cable; korvo-sim simulates a Korvo with an AVR behind it on a\n\
pseudo-terminal, and a simulated cable library stands in for the Marlow.")
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
