# The Debian package: `cpack` in a configured build directory (scripts/package.sh
# does it all) makes zorvidlk_<version>_<arch>.deb from the install rules.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zorvidlk)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "zorvidlk team")
set(CPACK_PACKAGE_CONTACT "zorvidlk team <zorvidlk-team@users.noreply.invalid>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "console controller for a serial spectrometer board")
# The synopsis is the summary above; CPack indents these lines.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "zorvidlk drives a small instrument board (a 256-pixel spectrometer and two
status LEDs) on a serial line from a one-key menu. Spectra come out on
standard output as a comma-separated table; the transfer is paced by hand on
the RTS and CTS lines.

The package also holds zorvidlk-sim, a simulated board served over RFC 2217
on a Unix-domain socket, for trying the program without hardware, and
zorvidlk-plot, which draws the spectra of a captured session with gnuplot.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# zorvidlk-plot is a Python script that draws through gnuplot; the
# controller itself needs neither.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "python3")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS gnuplot-nox)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS bash-completion)
include(CPack)
