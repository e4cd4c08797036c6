# Install rules: the programs, their man pages, the bash completion and the
# documentation, in the GNU directory layout.
include(GNUInstallDirs)

# Each program this build makes (a cross build may leave the simulator out).
foreach(program zorvidlk zorvidlk-sim)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()

# Every man/*.1 is a page: its @PROJECT_VERSION@ and @ZORVIDLK_MAN_DATE@ are
# filled in, and it is compressed as Debian wants it (gzip -9n: no name, no
# time stamp, so the same page gives the same bytes). The date is the build's
# SOURCE_DATE_EPOCH when set.
string(TIMESTAMP ZORVIDLK_MAN_DATE "%Y-%m-%d" UTC)
file(GLOB man_pages CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/man/*.1)
set(compressed_man_pages)
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
endforeach()

# The Debian change log, compressed the same way.
set(changelog ${CMAKE_BINARY_DIR}/doc/changelog)
configure_file(${CMAKE_SOURCE_DIR}/packaging/changelog ${changelog} COPYONLY)
add_custom_command(OUTPUT ${changelog}.gz
                   COMMAND gzip -9nkf ${changelog}
                   DEPENDS ${changelog}
                   VERBATIM)

add_custom_target(zorvidlk_docs ALL DEPENDS ${compressed_man_pages} ${changelog}.gz)

install(FILES ${compressed_man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/packaging/copyright
              ${changelog}.gz
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${CMAKE_SOURCE_DIR}/completion/zorvidlk
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
