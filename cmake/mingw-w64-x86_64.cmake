# Cross build of the Windows program with Debian's mingw-w64 (win32 threads).
# Everything is linked statically so that the .exe needs only Windows' own DLLs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VRD_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VRD_MINGW_PREFIX}-gcc)
set(CMAKE_CXX_COMPILER ${VRD_MINGW_PREFIX}-g++)
set(CMAKE_RC_COMPILER ${VRD_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VRD_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# FindZLIB would otherwise take the import library of zlib1.dll.
set(ZLIB_USE_STATIC_LIBS ON)
# ctest runs the cross-built test programs under Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
