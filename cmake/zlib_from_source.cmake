# zlib built from its unpacked source, for builds whose toolchain has zlib's
# header but no library to link (the macOS cross build). Set ZLIB_SOURCE_DIR
# to the folder that holds zlib.h and the library's C files; left empty,
# find_package(ZLIB) finds the system's.
set(ZLIB_SOURCE_DIR "" CACHE PATH "Unpacked zlib source; empty: system library")

if(ZLIB_SOURCE_DIR)
  if(NOT EXISTS ${ZLIB_SOURCE_DIR}/zlib.h OR NOT EXISTS ${ZLIB_SOURCE_DIR}/zconf.h)
    message(FATAL_ERROR "ZLIB_SOURCE_DIR: no zlib.h and zconf.h in ${ZLIB_SOURCE_DIR}")
  endif()
  # The library proper, as zlib's own build compiles it (no gz* file calls:
  # the engine reads and writes through its own storage).
  set(_zl ${ZLIB_SOURCE_DIR})
  add_library(vrd_zlib STATIC
    ${_zl}/adler32.c ${_zl}/compress.c ${_zl}/crc32.c ${_zl}/deflate.c ${_zl}/infback.c
    ${_zl}/inffast.c ${_zl}/inflate.c ${_zl}/inftrees.c ${_zl}/trees.c ${_zl}/uncompr.c
    ${_zl}/zutil.c)
  # Its header comes first, before any zlib.h the toolchain carries.
  target_include_directories(vrd_zlib SYSTEM BEFORE PUBLIC ${_zl})
  target_compile_definitions(vrd_zlib PRIVATE HAVE_UNISTD_H=1 HAVE_STDARG_H=1)
  # Third-party code: its warnings are not ours to fix.
  target_compile_options(vrd_zlib PRIVATE -w)
  add_library(ZLIB::ZLIB ALIAS vrd_zlib)
endif()
