# Install rules and the Debian package.
#
#   <prefix>/bin/axiscore
#   <prefix>/lib/axiscore/        libaxiscore.so, libkestrel.so, libaxiscore-gui.so (private)
#   <prefix>/share/axiscore/      resources/ (dialog templates, pictures, help, motor databases)
#                                 and setups/ (the bundled demo drive's setups)
#   <prefix>/share/doc/axiscore/  README.md and docs/
#
# Nothing refers to the prefix: the executable finds the libraries through its RUNPATH
# ($ORIGIN/../lib/axiscore) and the plug-in, the front end and the resources relative to its own
# folder, so `cmake --install build --prefix DIR`, DESTDIR and a moved tree all work.

install(TARGETS axiscore_app RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS axiscore kestrel LIBRARY DESTINATION ${AXIS_INSTALL_LIBDIR})
if(AXIS_BUILD_GUI)
  install(TARGETS axiscore_gui LIBRARY DESTINATION ${AXIS_INSTALL_LIBDIR})
endif()
install(DIRECTORY resources/ DESTINATION ${AXIS_INSTALL_DATADIR}/resources
        PATTERN README.md EXCLUDE)
install(DIRECTORY setups/ DESTINATION ${AXIS_INSTALL_DATADIR}/setups)
install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(DIRECTORY docs/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/docs)

# `cpack -G DEB` in the build folder (or `cmake --build build --target package`) makes
# axiscore_<version>_<arch>.deb, installing under /usr.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME axiscore)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "axiscore developers")
set(AXIS_PACKAGE_MAINTAINER "axiscore maintainers <maintainers@axiscore.invalid>"
    CACHE STRING "The Maintainer field of the Debian package")
set(CPACK_PACKAGE_CONTACT ${AXIS_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "setup and commissioning of digital servo drives")
set(CPACK_PACKAGE_DESCRIPTION
    "axiscore completes, converts and tunes the setup of a family of digital servo
drives that run linear brushless permanent-magnet motors: physical values from
the drive's integer registers and back, controller tuning from a pass band and
damping, and biquad filter design. It offers a command line (axiscore) and,
through axiscore edit, a Qt 6 desktop editor of the drive setup.")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# The package's dependencies come from the libraries its programs link (Qt 6, libstdc++, libc)
# when dpkg-shlibdeps (dpkg-dev) is there; otherwise they are listed here.
find_program(AXIS_DPKG_SHLIBDEPS dpkg-shlibdeps)
find_program(AXIS_FILE_PROGRAM file)  # CPack looks for the ELF files with it
if(AXIS_DPKG_SHLIBDEPS AND AXIS_FILE_PROGRAM)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6, libgcc-s1")
  if(AXIS_BUILD_GUI)
    string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", libqt6core6, libqt6gui6, libqt6widgets6, libqt6svg6")
  endif()
endif()
include(CPack)
