# Install rules and the Debian package: the program, its manual page, the
# README, our licence and the licences of the libraries linked into it.
#   cmake --install BUILD [--prefix P]    # P/bin, P/share/man/man1, P/share/doc/vrdskincfg
#   cpack --config BUILD/CPackConfig.cmake   # (Linux) vrdskincfg_<build>-1_<arch>.deb
include(GNUInstallDirs)

# The packages carry VRD_BUILD, the build number the program prints:
# CMakeLists.txt reads it from BUILD_NUMBER.

install(TARGETS ${VRD_PROGNAME} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

if(NOT VRD_PLATFORM STREQUAL "windows")
  # Compressed as Debian wants it; -n keeps name and time out of the bytes.
  set(_vrd_man ${CMAKE_BINARY_DIR}/vrdskincfg.1.gz)
  add_custom_command(OUTPUT ${_vrd_man}
    COMMAND sh -c "gzip -n -9 -c \"$1\" > \"$2\"" sh ${CMAKE_SOURCE_DIR}/doc/vrdskincfg.1 ${_vrd_man}
    DEPENDS ${CMAKE_SOURCE_DIR}/doc/vrdskincfg.1 VERBATIM)
  add_custom_target(manpage ALL DEPENDS ${_vrd_man})
  # Builds of the program alone (--target) must still be installable.
  add_dependencies(${VRD_PROGNAME} manpage)
  # Under the program's name, so that "man vrdskincfgm" finds it on a Mac.
  install(FILES ${_vrd_man} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
          RENAME ${VRD_PROGNAME}.1.gz)
endif()

# The notices and every licence text in one file, as Debian asks for; the
# LGPL text itself stays in its own file.
set(_vrd_copyright "")
foreach(part doc/NOTICE LICENSE doc/licenses/zlib.txt doc/licenses/argtable2.txt)
  file(READ ${CMAKE_SOURCE_DIR}/${part} _vrd_text)
  string(APPEND _vrd_copyright "${_vrd_text}\n")
endforeach()
file(WRITE ${CMAKE_BINARY_DIR}/copyright "${_vrd_copyright}")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
  ${CMAKE_SOURCE_DIR}/doc/NOTICE ${CMAKE_SOURCE_DIR}/LICENSE
  ${CMAKE_SOURCE_DIR}/doc/licenses/zlib.txt ${CMAKE_SOURCE_DIR}/doc/licenses/argtable2.txt)

install(FILES README.md LICENSE ${CMAKE_BINARY_DIR}/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES doc/licenses/zlib.txt DESTINATION ${CMAKE_INSTALL_DOCDIR} RENAME LICENSE.zlib)
install(FILES doc/licenses/argtable2.txt DESTINATION ${CMAKE_INSTALL_DOCDIR}
        RENAME LICENSE.argtable2)
install(FILES doc/licenses/LGPL-2.txt DESTINATION ${CMAKE_INSTALL_DOCDIR} RENAME LICENSE.LGPL-2)

if(VRD_PLATFORM STREQUAL "linux")
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGE_NAME vrdskincfg)
  set(CPACK_PACKAGE_VERSION ${VRD_BUILD})
  set(CPACK_PACKAGE_CONTACT "The vrdskincfg developers")
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "set up the user-interface skin of the game client")
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
      "The skin of the game client is one ZIP archive (vrd.zip) holding the live\n"
      "files the game reads and alternative versions of them. vrdskincfg sets up\n"
      "its 20 items (chat buttons, inventory slots and layouts, mouse cursor,\n"
      "fonts, spell checking, ...) from a menu, and exports and imports the setup\n"
      "as a small settings file, also unattended for install scripts. Changes to\n"
      "the archive are all-or-nothing.")
  string(REPLACE ";" "" CPACK_DEBIAN_PACKAGE_DESCRIPTION "${CPACK_DEBIAN_PACKAGE_DESCRIPTION}")
  set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION games)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # Depends comes from the libraries the binary really needs. File times in
  # the package come from SOURCE_DATE_EPOCH when it is set.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_STRIP_FILES ON)
  set(CPACK_OUTPUT_FILE_PREFIX ${CMAKE_BINARY_DIR}/packages)
  include(CPack)
endif()
