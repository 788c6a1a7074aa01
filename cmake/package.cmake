# What `cmake --install` lays out, and the Debian package `make deb` builds from it:
#   bin/vireo, bin/vireopg, lib/libvireo_skprb.so (installed by their own folders),
#   share/vireojtag/ with sys/ (device database, bb/, FX3 image, pictures), the virtual
#   board's bridge stand-ins in virtual-board/ (never where bridges for real FPGAs are looked
#   up), the example designs and the virtual parts' BSDL files,
#   lib/udev/rules.d/60-vireojtag.rules and the man pages (the window's folder installs its
#   desktop entry and icon).
include(GNUInstallDirs)
set(VIREO_SHARE share/vireojtag)
install(TARGETS vireo_skprb LIBRARY DESTINATION lib)
install(DIRECTORY ${VIREO_BIN_DIR}/sys ${VIREO_BIN_DIR}/examples ${VIREO_BIN_DIR}/virtual-board
        DESTINATION ${VIREO_SHARE})
# What a user needs to build bridges for real FPGAs, as the flash commands' refusal tells them.
install(DIRECTORY ${CMAKE_SOURCE_DIR}/hdl/bridge DESTINATION ${VIREO_SHARE}/hdl)
install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION share/doc/vireojtag)

# Man pages from the programs' own --help and --version texts.
find_program(HELP2MAN help2man)
set(vireo_summary "JTAG programmer for Xilinx FPGAs and their SPI flash (command line)")
set(vireopg_summary "JTAG programmer for Xilinx FPGAs and their SPI flash (window)")
if(HELP2MAN AND NOT VIREO_BUILD_FUZZ)
  set(man_pages)
  foreach(program vireo vireopg)
    if(NOT TARGET ${program})
      continue()
    endif()
    set(page ${CMAKE_BINARY_DIR}/man/${program}.1)
    add_custom_command(OUTPUT ${page}.gz
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
      COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=0
              ${HELP2MAN} --no-info --no-discard-stderr --section=1
              --name=${${program}_summary} --output=${page} $<TARGET_FILE:${program}>
      COMMAND gzip -9nf ${page}
      DEPENDS ${program}
      COMMENT "Man page ${program}.1"
      VERBATIM)
    list(APPEND man_pages ${page}.gz)
  endforeach()
  add_custom_target(man_pages ALL DEPENDS ${man_pages})
  install(FILES ${man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vireojtag)
set(CPACK_PACKAGE_VENDOR "VireoJTAG developers")
set(CPACK_PACKAGE_CONTACT "VireoJTAG developers <vireojtag@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "JTAG programmer for Xilinx Spartan-6 and 7-series FPGAs and their SPI flash")
set(CPACK_PACKAGE_INSTALL_DIRECTORY vireojtag)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS fonts-noto-cjk)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/data/debian/postinst)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
