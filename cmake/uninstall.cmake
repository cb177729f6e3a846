# Removes every file the last "cmake --install" of a build put in place:
#   cmake -DMANIFEST=BUILD/install_manifest.txt -P cmake/uninstall.cmake
# (what the build's "uninstall" target runs). Folders are left; files that
# are gone already are skipped.
if(NOT EXISTS "${MANIFEST}")
  message(FATAL_ERROR "Nothing to uninstall: no ${MANIFEST} (run cmake --install first)")
endif()
file(STRINGS "${MANIFEST}" _files)
foreach(f IN LISTS _files)
  if(EXISTS "${f}" OR IS_SYMLINK "${f}")
    message(STATUS "Removing ${f}")
    file(REMOVE "${f}")
  endif()
endforeach()
