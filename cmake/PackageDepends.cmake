# Read by cpack before it packages (CPACK_PROJECT_CONFIG_FILE): the library
# package's Depends, from dpkg-shlibdeps on the built library, as CPack would
# compute them were it not to add ldconfig scripts with them (see
# cmake/Package.cmake). dpkg-shlibdeps wants a debian/control, empty will do.
if(CPACK_GENERATOR STREQUAL "DEB")
  if(NOT EXISTS "${CPACK_ZORVIDLK_LIBRARY_FILE}")
    message(FATAL_ERROR "${CPACK_ZORVIDLK_LIBRARY_FILE} is not built: build before cpack "
                        "(scripts/package.sh does both)")
  endif()
  set(shlibdeps_dir "${CPACK_PACKAGE_DIRECTORY}/_CPack_Packages/shlibdeps")
  file(MAKE_DIRECTORY "${shlibdeps_dir}/debian")
  file(WRITE "${shlibdeps_dir}/debian/control" "")
  execute_process(COMMAND dpkg-shlibdeps -O "${CPACK_ZORVIDLK_LIBRARY_FILE}"
                  WORKING_DIRECTORY "${shlibdeps_dir}"
                  RESULT_VARIABLE shlibdeps_result
                  OUTPUT_VARIABLE shlibdeps_output
                  ERROR_VARIABLE shlibdeps_error)
  if(NOT shlibdeps_result EQUAL 0 OR NOT shlibdeps_output MATCHES "shlibs:Depends=([^\n]+)")
    message(FATAL_ERROR "dpkg-shlibdeps failed on ${CPACK_ZORVIDLK_LIBRARY_FILE}: "
                        "${shlibdeps_error}${shlibdeps_output}")
  endif()
  set(CPACK_DEBIAN_LIBRARY_PACKAGE_DEPENDS "${CMAKE_MATCH_1}")
endif()
