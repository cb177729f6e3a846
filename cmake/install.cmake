# Install rules and the Debian package: the program, its manual page, its
# bash completion, the players' guide, NEWS, our licence and the licences of
# the libraries linked into it.
#   cmake --install BUILD [--prefix P]    # P/bin, P/share/man/man1, P/share/doc/vrdskincfg,
#                                         # P/share/bash-completion/completions
#   cmake --build BUILD --target uninstall   # removes them again
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
  # bash-completion loads it by the program's name when the name is first completed.
  install(FILES doc/vrdskincfg.bash-completion
          DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME ${VRD_PROGNAME})
endif()

# The players' guide, what changed, our licence, the licences of the
# libraries linked in, and Debian's machine-readable copyright file.
if(VRD_PLATFORM STREQUAL "windows")
  install(FILES doc/README-windows.txt DESTINATION ${CMAKE_INSTALL_DOCDIR} RENAME README.txt)
else()
  install(FILES doc/README-linux.txt DESTINATION ${CMAKE_INSTALL_DOCDIR} RENAME README)
endif()
install(FILES NEWS.md LICENSE doc/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES doc/licenses/zlib.txt DESTINATION ${CMAKE_INSTALL_DOCDIR} RENAME LICENSE.zlib)
install(FILES doc/licenses/argtable2.txt DESTINATION ${CMAKE_INSTALL_DOCDIR}
        RENAME LICENSE.argtable2)
install(FILES doc/licenses/LGPL-2.txt DESTINATION ${CMAKE_INSTALL_DOCDIR} RENAME LICENSE.LGPL-2)

# cmake --build BUILD --target uninstall removes what the last install of
# BUILD put in place, as listed in BUILD/install_manifest.txt.
add_custom_target(uninstall
  COMMAND ${CMAKE_COMMAND} -DMANIFEST=${CMAKE_BINARY_DIR}/install_manifest.txt
          -P ${CMAKE_SOURCE_DIR}/cmake/uninstall.cmake
  VERBATIM)

if(VRD_PLATFORM STREQUAL "linux")
  set(VRD_DEB_MAINTAINER "The vrdskincfg developers <maintainers@users.noreply.c-seed-9c262607.example>")
  # dpkg-shlibdeps sees only this machine's own architecture; a cross build
  # names its Depends (tools/release.sh takes them from the native package).
  set(VRD_DEB_DEPENDS "" CACHE STRING "Depends of a cross-built Debian package")

  # A build-id note and the compiler's .comment are all the linker leaves
  # that no one needs; Debian's own packages drop .comment and .note.
  if(CMAKE_OBJCOPY)
    install(CODE "execute_process(COMMAND ${CMAKE_OBJCOPY} --remove-section=.comment
      --remove-section=.note \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/${VRD_PROGNAME}\"
      COMMAND_ERROR_IS_FATAL ANY)")
  endif()

  # The package's changelog, for the package only: its date is the release's
  # (SOURCE_DATE_EPOCH when set, which string(TIMESTAMP) follows).
  string(TIMESTAMP _vrd_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
  file(WRITE ${CMAKE_BINARY_DIR}/changelog.Debian
    "vrdskincfg (${VRD_BUILD}-1) unstable; urgency=medium\n\n"
    "  * Build ${VRD_BUILD}; what it changed for players is in NEWS.md.\n\n"
    " -- ${VRD_DEB_MAINTAINER}  ${_vrd_date}\n")
  set(_vrd_changelog ${CMAKE_BINARY_DIR}/changelog.Debian.gz)
  add_custom_command(OUTPUT ${_vrd_changelog}
    COMMAND gzip -n -9 -f -k ${CMAKE_BINARY_DIR}/changelog.Debian
    DEPENDS ${CMAKE_BINARY_DIR}/changelog.Debian VERBATIM)
  add_custom_target(debian_changelog ALL DEPENDS ${_vrd_changelog})
  install(FILES ${_vrd_changelog} DESTINATION ${CMAKE_INSTALL_DOCDIR}
          COMPONENT debian EXCLUDE_FROM_ALL)
  file(WRITE ${CMAKE_BINARY_DIR}/lintian-overrides
    "# The package is not meant for the Debian archive, so its first entry has\n"
    "# no ITP bug to close.\n"
    "vrdskincfg: initial-upload-closes-no-bugs\n")
  install(FILES ${CMAKE_BINARY_DIR}/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides
          RENAME vrdskincfg COMPONENT debian EXCLUDE_FROM_ALL)

  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGE_NAME vrdskincfg)
  set(CPACK_PACKAGE_VERSION ${VRD_BUILD})
  set(CPACK_PACKAGE_CONTACT "${VRD_DEB_MAINTAINER}")
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
  # A tool for a game's files, not a game.
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(aarch64|arm64)$")
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE arm64)
  endif()
  if(CMAKE_CROSSCOMPILING)
    if(NOT VRD_DEB_DEPENDS)
      message(STATUS "VRD_DEB_DEPENDS is empty: a package made now would declare no Depends")
    endif()
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "${VRD_DEB_DEPENDS}")
  else()
    # Depends from the libraries the program really needs.
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  endif()
  # One package of everything, the changelog included. File times in the
  # package come from SOURCE_DATE_EPOCH when it is set.
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
  set(CPACK_COMPONENTS_ALL Unspecified debian)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_STRIP_FILES ON)
  set(CPACK_OUTPUT_FILE_PREFIX ${CMAKE_BINARY_DIR}/packages)
  include(CPack)
endif()
