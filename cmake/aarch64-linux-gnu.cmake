# Cross build of the Linux program for aarch64 (ARM64) with Debian's
# g++-aarch64-linux-gnu. zlib and argtable2 of that architecture come from
# Debian's arm64 packages, unpacked (not installed) into VRD_ARM64_LIBS by
#   tools/fetch_from_apt.sh arm64 build-sources/arm64 zlib1g zlib1g-dev libargtable2-dev
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(VRD_CROSS_PREFIX aarch64-linux-gnu)
set(CMAKE_C_COMPILER ${VRD_CROSS_PREFIX}-gcc)
set(CMAKE_CXX_COMPILER ${VRD_CROSS_PREFIX}-g++)
set(CMAKE_LIBRARY_ARCHITECTURE ${VRD_CROSS_PREFIX})

if(NOT VRD_ARM64_LIBS)
  set(VRD_ARM64_LIBS ${CMAKE_CURRENT_LIST_DIR}/../build-sources/arm64)
endif()
set(CMAKE_FIND_ROOT_PATH /usr/${VRD_CROSS_PREFIX} ${VRD_ARM64_LIBS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# ctest and the release check run the programs under user-mode QEMU.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64-static)
