# Install rules: the programs, their man pages, the bash completion and the
# documentation, in the GNU directory layout. Every file belongs to a
# component, one per Debian package (cmake/Package.cmake):
#   runtime      the programs, their pages, the completion, the docs
#   library      the shared library (api/CMakeLists.txt)
#   development  the header, the .so link, zorvidlk.pc, the CMake package
#                (api/CMakeLists.txt) and the library's page zorvidlk(3)
include(GNUInstallDirs)

# Each program this build makes (a cross build may leave the simulator out).
foreach(program zorvidlk zorvidlk-sim)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
  endif()
endforeach()

# Every man/*.<section> is a page: its @PROJECT_VERSION@ and
# @ZORVIDLK_MAN_DATE@ are filled in, and it is compressed as Debian wants it
# (gzip -9n: no name, no time stamp, so the same page gives the same bytes).
# The date is the build's SOURCE_DATE_EPOCH when set. Section 1 pages go with
# the programs, section 3 (the C library's) with the development files.
string(TIMESTAMP ZORVIDLK_MAN_DATE "%Y-%m-%d" UTC)
set(compressed_man_pages)
set(man_sections 1 3)
set(man_section_components runtime development)
foreach(section component IN ZIP_LISTS man_sections man_section_components)
  file(GLOB man_pages CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/man/*.${section})
  foreach(page IN LISTS man_pages)
    get_filename_component(page_name ${page} NAME)
    set(filled ${CMAKE_BINARY_DIR}/man/${page_name})
    configure_file(${page} ${filled} @ONLY)
    add_custom_command(OUTPUT ${filled}.gz
                       COMMAND gzip -9nkf ${filled}
                       DEPENDS ${filled}
                       COMMENT "Compressing man page ${page_name}"
                       VERBATIM)
    list(APPEND compressed_man_pages ${filled}.gz)
    install(FILES ${filled}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section}
            COMPONENT ${component})
  endforeach()
endforeach()

# The Debian change log, compressed the same way.
set(changelog ${CMAKE_BINARY_DIR}/doc/changelog)
configure_file(${CMAKE_SOURCE_DIR}/packaging/changelog ${changelog} COPYONLY)
add_custom_command(OUTPUT ${changelog}.gz
                   COMMAND gzip -9nkf ${changelog}
                   DEPENDS ${changelog}
                   VERBATIM)

add_custom_target(zorvidlk_docs ALL DEPENDS ${compressed_man_pages} ${changelog}.gz)

install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT runtime)
install(FILES ${CMAKE_SOURCE_DIR}/completion/zorvidlk
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions COMPONENT runtime)

# Each package carries the copyright file and the change log in a
# documentation directory of its own name, as Debian requires.
# zorvidlk_package_docs(COMPONENT PACKAGE)
function(zorvidlk_package_docs component package)
  install(FILES ${CMAKE_SOURCE_DIR}/packaging/copyright ${changelog}.gz
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package} COMPONENT ${component})
endfunction()
