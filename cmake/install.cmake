# Install rules and the Debian package: the program, its manual page, its
# completions for bash, zsh and fish, the players' guide, NEWS, the copyright
# file and our licence.
#   cmake --install BUILD [--prefix P]    # P/bin, P/share/man/man1, P/share/doc/vrdskincfg,
#                                         # P/share/{bash-completion,zsh,fish}/...
#   cmake --build BUILD --target uninstall   # removes them again
#   cpack --config BUILD/CPackConfig.cmake   # (Linux) vrdskincfg_<version>-1_<arch>.deb
include(GNUInstallDirs)

# The packages carry VRD_VERSION, <build>.<release>: CMakeLists.txt reads it
# from BUILD_NUMBER and RELEASE_NUMBER.

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
  # bash-completion loads it by the program's name when the name is first
  # completed, fish likewise; zsh's compinit reads every file of its folders
  # (Debian's zsh: vendor-completions). All three are made by
  # tools/completions.py from one description of the options.
  install(FILES doc/completions/vrdskincfg.bash
          DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME ${VRD_PROGNAME})
  install(FILES doc/completions/_vrdskincfg DESTINATION ${CMAKE_INSTALL_DATADIR}/zsh/vendor-completions)
  install(FILES doc/completions/vrdskincfg.fish
          DESTINATION ${CMAKE_INSTALL_DATADIR}/fish/vendor_completions.d RENAME ${VRD_PROGNAME}.fish)
endif()

# The players' guide, what changed, and Debian's machine-readable copyright
# file (with this release's source archive named in it); our licence apart,
# as the copyright file holds it for the Debian package. The release adds
# the notices of each download's libraries (tools/release_texts.py).
if(VRD_PLATFORM STREQUAL "windows")
  install(FILES doc/README-windows.txt DESTINATION ${CMAKE_INSTALL_DOCDIR} RENAME README.txt)
else()
  install(FILES doc/README-linux.txt DESTINATION ${CMAKE_INSTALL_DOCDIR} RENAME README)
endif()
install(FILES NEWS.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
configure_file(doc/copyright ${CMAKE_BINARY_DIR}/copyright @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT copyright)
install(FILES LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT licence)

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

  # The package's changelog, for the package only: one entry per release of
  # NEWS.md, dated as there.
  find_program(VRD_PYTHON3 python3 REQUIRED)
  set(_vrd_changelog ${CMAKE_BINARY_DIR}/changelog.Debian.gz)
  add_custom_command(OUTPUT ${_vrd_changelog}
    COMMAND ${VRD_PYTHON3} ${CMAKE_SOURCE_DIR}/tools/release_texts.py changelog
            ${CMAKE_SOURCE_DIR}/NEWS.md "${VRD_DEB_MAINTAINER}" ${CMAKE_BINARY_DIR}/changelog.Debian
    COMMAND gzip -n -9 -f -k ${CMAKE_BINARY_DIR}/changelog.Debian
    DEPENDS ${CMAKE_SOURCE_DIR}/NEWS.md ${CMAKE_SOURCE_DIR}/tools/release_texts.py VERBATIM)
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
  set(CPACK_PACKAGE_VERSION ${VRD_VERSION})
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
  # One package of everything but LICENSE (the copyright file holds it), the
  # changelog included. File times in the
  # package come from SOURCE_DATE_EPOCH when it is set.
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
  set(CPACK_COMPONENTS_ALL Unspecified copyright debian)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_STRIP_FILES ON)
  set(CPACK_OUTPUT_FILE_PREFIX ${CMAKE_BINARY_DIR}/packages)
  include(CPack)
endif()
