# The installed tree on Linux (`cmake --install`, and the .deb that CPack makes of it):
#
#   <prefix>/lib/quorvel/bin/      Quorvel, quorvel-cli, vexil-sim, Write_Verify.cd8
#   <prefix>/lib/quorvel/lib/      libbrindlex.so (the programs' RPATH is $ORIGIN/../lib)
#   <prefix>/lib/quorvel/TRG/      the target descriptions (the programs' ../TRG rule)
#   <prefix>/lib/quorvel/examples/ the simulator setups and the demo program (TRGDIR=../TRG)
#   <prefix>/bin/                  links to the programs
#   <prefix>/share/man/man1/quorvel-cli.1, the bash completion, the documentation
set(root ${QUORVEL_INSTALL_ROOT})

install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/TRG/ DESTINATION ${root}/TRG
  FILES_MATCHING PATTERN "*.TRG")
install(FILES ${PROJECT_SOURCE_DIR}/examples/Write_Verify.cd8 DESTINATION ${QUORVEL_INSTALL_BIN})
install(FILES ${PROJECT_SOURCE_DIR}/examples/sim/demo.ini ${PROJECT_SOURCE_DIR}/examples/sim/faults.ini
  ${PROJECT_SOURCE_DIR}/examples/programs/demo-qx16a064.hex DESTINATION ${root}/examples)

# Relative links, so that the tree works wherever it is unpacked.
set(links)
foreach(program quorvel-cli vexil-sim Quorvel)
  if(TARGET ${program})
    string(TOLOWER ${program} link)
    set(path ${CMAKE_BINARY_DIR}/install-links/${link})
    file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/install-links)
    file(CREATE_LINK ../${QUORVEL_INSTALL_BIN}/${program} ${path} SYMBOLIC)
    list(APPEND links ${path})
  endif()
endforeach()
install(FILES ${links} DESTINATION bin)

install(FILES ${PROJECT_SOURCE_DIR}/app/cli/quorvel-cli.bash-completion
  DESTINATION share/bash-completion/completions RENAME quorvel-cli)
file(GLOB docs CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/docs/*.md)
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${docs} DESTINATION share/doc/quorvel)

# The manual page, made from --help and --version (help2man) at build time.
find_program(QUORVEL_HELP2MAN help2man)
if(QUORVEL_HELP2MAN AND TARGET quorvel-cli)
  set(man ${CMAKE_BINARY_DIR}/man/quorvel-cli.1)
  add_custom_command(OUTPUT ${man}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
    COMMAND ${QUORVEL_HELP2MAN} --no-info --section=1 --source=Quorvel
      "--name=flash programmer for Vexil adapters, without a window"
      --include=${PROJECT_SOURCE_DIR}/app/cli/quorvel-cli.h2m --output=${man}
      $<TARGET_FILE:quorvel-cli>
    DEPENDS quorvel-cli ${PROJECT_SOURCE_DIR}/app/cli/quorvel-cli.h2m
    COMMENT "Manual page quorvel-cli.1"
    VERBATIM)
  add_custom_target(quorvel_cli_man ALL DEPENDS ${man})
  install(FILES ${man} DESTINATION share/man/man1)
else()
  message(STATUS "help2man not found (Debian package help2man): no manual page")
endif()

# cpack -G DEB in the build folder: quorvel_<version>_<arch>.deb of the Linux programs.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quorvel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Ostrel")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "Production flash programmer for up to 32 Vexil USB adapters")
set(CPACK_PACKAGE_DESCRIPTION
  "Quorvel writes, verifies and erases the flash of up to 32 target boards at once through\n\
Vexil USB adapters: the window Quorvel, the console program quorvel-cli for automated lines,\n\
the Brindlex library, the target descriptions, and the adapter simulator vexil-sim.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Quorvel developers <quorvel@localhost>")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# libbrindlex.so is the package's own: dpkg-shlibdeps finds it here.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/lib)
set(CPACK_STRIP_FILES ON)
include(CPack)
