# Cross build of the macOS program on Linux with Zig's toolchain (clang,
# libc++, macOS headers and libSystem stubs), as tools/build_macos.sh and the
# macos-cross presets use it. VRD_MACOS_ARCH picks the slice: aarch64 (Apple
# silicon) or x86_64 (Intel); VRD_MACOS_MIN the lowest macOS it runs on.
# The compilers are the wrappers beside this file: they run
# build-sources/zig/zig (tools/fetch_from_npm.sh unpacks it there; VRD_ZIG
# names another) with Zig's cache outside the build folders.
set(CMAKE_SYSTEM_NAME Darwin)
set(VRD_MACOS_ARCH aarch64 CACHE STRING "macOS slice: aarch64 or x86_64")
set(VRD_MACOS_MIN 11.0 CACHE STRING "Lowest macOS version the program runs on")
if(VRD_MACOS_ARCH STREQUAL "aarch64")
  set(CMAKE_SYSTEM_PROCESSOR arm64)
elseif(VRD_MACOS_ARCH STREQUAL "x86_64")
  set(CMAKE_SYSTEM_PROCESSOR x86_64)
else()
  message(FATAL_ERROR "VRD_MACOS_ARCH: aarch64 or x86_64, not ${VRD_MACOS_ARCH}")
endif()
# try_compile projects get the same slice and minimum.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES VRD_MACOS_ARCH VRD_MACOS_MIN)

set(CMAKE_C_COMPILER ${CMAKE_CURRENT_LIST_DIR}/zig-cc)
set(CMAKE_CXX_COMPILER ${CMAKE_CURRENT_LIST_DIR}/zig-c++)
# The slice and minimum, and no trace of the build's folders: sources are
# named relative to the repository, and the program is linked stripped (-s),
# which drops the debug map with the objects' absolute paths. Zig's linker
# signs the arm64 slice ad hoc after stripping.
get_filename_component(_vrd_root ${CMAKE_CURRENT_LIST_DIR} DIRECTORY)
set(_vrd_flags "-target ${VRD_MACOS_ARCH}-macos.${VRD_MACOS_MIN}-none -ffile-prefix-map=${_vrd_root}=.")
set(CMAKE_C_FLAGS_INIT "${_vrd_flags}")
set(CMAKE_CXX_FLAGS_INIT "${_vrd_flags}")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-s")
# Zig compiles libc++, libc++abi and compiler_rt once per slice, optimisation
# mode and stripping, and keeps them in its cache: CMake's compiler checks
# link with the Release flags too, so they need the same build as the
# program (else a cold cache compiles them twice).
set(CMAKE_TRY_COMPILE_CONFIGURATION Release)
# Apple's archive format, as its libtool writes it, for Zig's Mach-O linker.
find_program(VRD_LLVM_AR NAMES llvm-ar llvm-ar-14 REQUIRED)
set(CMAKE_AR ${VRD_LLVM_AR})
set(CMAKE_RANLIB ${VRD_LLVM_AR})
foreach(_lang C CXX)
  set(CMAKE_${_lang}_ARCHIVE_CREATE "<CMAKE_AR> qc --format=darwin -D <TARGET> <OBJECTS>")
  set(CMAKE_${_lang}_ARCHIVE_APPEND "<CMAKE_AR> q --format=darwin -D <TARGET> <OBJECTS>")
  set(CMAKE_${_lang}_ARCHIVE_FINISH "<CMAKE_AR> s --format=darwin -D <TARGET>")
endforeach()

# Nothing of the host's libraries or headers: zlib and argtable2 come from
# their sources (ZLIB_SOURCE_DIR, ARGTABLE2_SOURCE_DIR).
set(CMAKE_FIND_ROOT_PATH ${CMAKE_CURRENT_LIST_DIR}/no-such-root)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
