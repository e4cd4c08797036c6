# The Debian packages: `cpack` in a configured build directory
# (scripts/package.sh does it all) makes one package per install component,
# <package>_<version>_<arch>.deb, from the install rules:
#   runtime      zorvidlk         the programs, their pages, the completion
#   library      libzorvidlk1     the shared library libzorvidlk.so.1
#   development  libzorvidlk-dev  the header, the .so link, zorvidlk.pc, the
#                                 CMake package, zorvidlk(3)
#   python       python3-zorvidlk the Python package over the library (Linux)
# A package is one zorvidlk_deb_package() call below; each gets the copyright
# file and the change log in its own /usr/share/doc/<package>.
set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_PACKAGE_NAME zorvidlk)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "zorvidlk team")
set(CPACK_PACKAGE_CONTACT "zorvidlk team <zorvidlk-team@users.noreply.invalid>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
# All the packages come from one source, whose change log they carry.
set(CPACK_DEBIAN_PACKAGE_SOURCE zorvidlk)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# CPack's own shared-library handling (SHLIBDEPS or GENERATE_SHLIBS on a
# package holding a library) adds postinst and postrm scripts that call
# ldconfig, which Debian replaced by a dpkg trigger. So the library's package
# has neither: its control files are written here (the shlibs file: a program
# built against libzorvidlk.so.1 of this version depends on libzorvidlk1 (>=
# this version); the trigger), and cmake/PackageDepends.cmake runs
# dpkg-shlibdeps on the built library when cpack starts.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)
set(library_control ${CMAKE_BINARY_DIR}/packaging/library)
file(WRITE ${library_control}/shlibs
     "libzorvidlk ${ZORVIDLK_API_MAJOR} libzorvidlk${ZORVIDLK_API_MAJOR} (>= ${PROJECT_VERSION})\n")
file(WRITE ${library_control}/triggers "activate-noawait ldconfig\n")
set(CPACK_ZORVIDLK_LIBRARY_FILE ${CMAKE_BINARY_DIR}/lib/libzorvidlk.so.${PROJECT_VERSION})
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_SOURCE_DIR}/cmake/PackageDepends.cmake)
# Components packaged, in the order of the calls below.
set(CPACK_COMPONENTS_ALL)

# zorvidlk_deb_package(COMPONENT PACKAGE SECTION section [ARCHITECTURE all]
#     [SHLIBDEPS] [DEPENDS ...] [RECOMMENDS ...] [SUGGESTS ...]
#     [CONTROL_EXTRA file...] DESCRIPTION synopsis line...)
# The description's first line is the synopsis; the others, the long
# description, are joined with newlines (a line "." is an empty one).
macro(zorvidlk_deb_package component package)
  cmake_parse_arguments(deb "SHLIBDEPS" "SECTION;ARCHITECTURE"
                        "DEPENDS;RECOMMENDS;SUGGESTS;CONTROL_EXTRA;DESCRIPTION" ${ARGN})
  string(TOUPPER ${component} deb_upper)
  list(APPEND CPACK_COMPONENTS_ALL ${component})
  set(CPACK_DEBIAN_${deb_upper}_PACKAGE_NAME ${package})
  set(CPACK_DEBIAN_${deb_upper}_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_${deb_upper}_PACKAGE_SECTION ${deb_SECTION})
  if(deb_ARCHITECTURE)
    set(CPACK_DEBIAN_${deb_upper}_PACKAGE_ARCHITECTURE ${deb_ARCHITECTURE})
  endif()
  if(deb_SHLIBDEPS)
    set(CPACK_DEBIAN_${deb_upper}_PACKAGE_SHLIBDEPS ON)
  else()
    set(CPACK_DEBIAN_${deb_upper}_PACKAGE_SHLIBDEPS OFF)
  endif()
  foreach(relation DEPENDS RECOMMENDS SUGGESTS)
    list(JOIN deb_${relation} ", " deb_joined)
    set(CPACK_DEBIAN_${deb_upper}_PACKAGE_${relation} "${deb_joined}")
  endforeach()
  set(CPACK_DEBIAN_${deb_upper}_PACKAGE_CONTROL_EXTRA ${deb_CONTROL_EXTRA})
  list(JOIN deb_DESCRIPTION "\n" CPACK_DEBIAN_${deb_upper}_DESCRIPTION)
  zorvidlk_package_docs(${component} ${package})
endmacro()

zorvidlk_deb_package(runtime zorvidlk SECTION electronics SHLIBDEPS
  # zorvidlk-plot is a Python script that draws through gnuplot; the
  # controller itself needs neither.
  DEPENDS python3
  RECOMMENDS gnuplot-nox
  SUGGESTS bash-completion
  DESCRIPTION
  "console controller for a serial spectrometer board"
  "zorvidlk drives a small instrument board (a 256-pixel spectrometer and two"
  "status LEDs) on a serial line from a one-key menu. Spectra come out on"
  "standard output as a comma-separated table; the transfer is paced by hand on"
  "the RTS and CTS lines."
  "."
  "The package also holds zorvidlk-sim, a simulated board served over RFC 2217"
  "on a Unix-domain socket, for trying the program without hardware, and"
  "zorvidlk-plot, which draws the spectra of a captured session with gnuplot.")

# Its Depends come from cmake/PackageDepends.cmake (see above).
zorvidlk_deb_package(library libzorvidlk${ZORVIDLK_API_MAJOR} SECTION libs
  CONTROL_EXTRA ${library_control}/shlibs ${library_control}/triggers
  DESCRIPTION
  "serial spectrometer board as a C library"
  "libzorvidlk drives a small instrument board (a 256-pixel spectrometer and"
  "two status LEDs) on a serial line from a program: open the port, ask the"
  "firmware, switch or blink the LEDs, acquire spectra. Ports are named as COM"
  "numbers, device paths or RFC 2217 servers on the network."
  "."
  "This package contains the shared library.")

zorvidlk_deb_package(development libzorvidlk-dev SECTION libdevel
  DEPENDS "libzorvidlk${ZORVIDLK_API_MAJOR} (= ${PROJECT_VERSION})"
  DESCRIPTION
  "serial spectrometer board as a C library - development files"
  "libzorvidlk drives a small instrument board (a 256-pixel spectrometer and"
  "two status LEDs) on a serial line from a program: open the port, ask the"
  "firmware, switch or blink the LEDs, acquire spectra."
  "."
  "This package contains the header, the pkg-config file, the CMake package"
  "(find_package(zorvidlk) gives zorvidlk::zorvidlk) and the zorvidlk(3) manual"
  "page.")

if(NOT WIN32)
  zorvidlk_deb_package(python python3-zorvidlk SECTION python ARCHITECTURE all
    DEPENDS "python3:any" python3-numpy "libzorvidlk${ZORVIDLK_API_MAJOR} (= ${PROJECT_VERSION})"
    SUGGESTS python3-pymeasure
    DESCRIPTION
    "serial spectrometer board from Python"
    "The Python 3 package zorvidlk drives a small instrument board (a 256-pixel"
    "spectrometer and two status LEDs on a serial line) through the libzorvidlk"
    "C library: acquisitions come back as numpy arrays, failures as exceptions,"
    "and Ctrl+C cancels a running acquisition."
    "."
    "It also holds zorvidlk.pymeasure, a driver for the PyMeasure"
    "lab-automation framework, with an example procedure.")
endif()

include(CPack)
