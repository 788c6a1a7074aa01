# What `cmake --install` lays out, and the Debian package `make deb` builds from it:
#   bin/vireo, bin/vireopg (installed by their own folders), lib/libvireo_skprb.so with its C
#   header include/vireojtag/skprb.h,
#   share/vireojtag/ with sys/ (device database, bb/, FX3 image, pictures), the virtual
#   board's bridge stand-ins in virtual-board/ (never where bridges for real FPGAs are looked
#   up), the example designs and the virtual parts' BSDL files,
#   lib/udev/rules.d/60-vireojtag.rules and the man pages (the window's folder installs its
#   desktop entry and icon).
include(GNUInstallDirs)
set(VIREO_SHARE share/vireojtag)
install(TARGETS vireo_skprb LIBRARY DESTINATION lib)
install(FILES ${PROJECT_SOURCE_DIR}/include/vireojtag/skprb.h DESTINATION include/vireojtag)
install(DIRECTORY ${VIREO_BIN_DIR}/sys ${VIREO_BIN_DIR}/examples ${VIREO_BIN_DIR}/virtual-board
        DESTINATION ${VIREO_SHARE})
# What a user needs to build bridges for real FPGAs, as the flash commands' refusal tells them.
install(DIRECTORY ${CMAKE_SOURCE_DIR}/hdl/bridge DESTINATION ${VIREO_SHARE}/hdl)
install(FILES ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/data/debian/copyright
        DESTINATION share/doc/vireojtag)
# The package's changelog, compressed as Debian keeps them.
set(changelog ${CMAKE_BINARY_DIR}/changelog.gz)
add_custom_command(OUTPUT ${changelog}
  COMMAND gzip -9nc ${CMAKE_SOURCE_DIR}/data/debian/changelog > ${changelog}
  DEPENDS ${CMAKE_SOURCE_DIR}/data/debian/changelog
  VERBATIM)
add_custom_target(package_changelog ALL DEPENDS ${changelog})
install(FILES ${changelog} DESTINATION share/doc/vireojtag)

# Man pages from the programs' own --help and --version texts, each command's options included.
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
              bash ${CMAKE_SOURCE_DIR}/scripts/man-page $<TARGET_FILE:${program}>
              ${${program}_summary} ${page}
      COMMAND gzip -9nf ${page}
      DEPENDS ${program} ${CMAKE_SOURCE_DIR}/scripts/man-page
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
set(CPACK_PACKAGE_CONTACT "VireoJTAG developers <vireojtag@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "JTAG programmer for Xilinx Spartan-6 and 7-series FPGAs and their SPI flash")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "VireoJTAG finds the maker's USB 2.0 JTAG cables and boards and its FX3\n"
  "USB 3.0 boards, scans the chain and names the FPGA, configures it from\n"
  "a .bit file, and programs, verifies, erases, blank-checks and reads back the\n"
  "SPI configuration flash through an open SPI bridge design. It reads device\n"
  "DNA and configuration status, shows the pins through boundary scan,\n"
  "re-programs when a synthesis run rewrites the file, and lends the cable to\n"
  "network tools as an XVC 1.0 server. vireo is the command line, vireopg the\n"
  "window; --sim runs every command on a virtual board.")
set(CPACK_PACKAGE_INSTALL_DIRECTORY vireojtag)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS fonts-noto-cjk)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/data/debian/postinst
    ${PROJECT_SOURCE_DIR}/data/debian/postrm ${PROJECT_SOURCE_DIR}/data/debian/triggers)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
