# argtable2 built from its unpacked source, for builds that have no argtable2
# package to link (the Windows and macOS cross builds). Set
# ARGTABLE2_SOURCE_DIR to the folder that holds src/argtable2.h; left empty,
# the system library is used.
set(ARGTABLE2_SOURCE_DIR "" CACHE PATH "Unpacked argtable2 source; empty: system library")

if(ARGTABLE2_SOURCE_DIR)
  set(_at2 ${ARGTABLE2_SOURCE_DIR}/src)
  if(NOT EXISTS ${_at2}/argtable2.h)
    message(FATAL_ERROR "ARGTABLE2_SOURCE_DIR: no src/argtable2.h in ${ARGTABLE2_SOURCE_DIR}")
  endif()
  # arg_date.c and arg_rex.c need strptime and regcomp, which mingw lacks and
  # the program does not use. The bundled GNU getopt is taken over the C
  # runtime's BSD one: only it words errors (e.g. "--nowait=3") as glibc does.
  add_library(argtable2 STATIC
    ${_at2}/argtable2.c ${_at2}/arg_end.c ${_at2}/arg_file.c ${_at2}/arg_int.c
    ${_at2}/arg_lit.c ${_at2}/arg_rem.c ${_at2}/arg_str.c ${_at2}/arg_dbl.c
    ${_at2}/getopt.c ${_at2}/getopt1.c)
  target_include_directories(argtable2 SYSTEM PUBLIC ${_at2})
  # What its configure step would have found on any C99 system.
  target_compile_definitions(argtable2 PRIVATE
    STDC_HEADERS=1 HAVE_STDLIB_H=1 HAVE_STRING_H=1 HAVE_STRINGS_H=1 HAVE_INTTYPES_H=1
    HAVE_MEMORY_H=1 HAVE_UNISTD_H=1)
  # Third-party code: its warnings are not ours to fix.
  target_compile_options(argtable2 PRIVATE -w)
  # arg_int.c names an enum value EOVERFLOW, which mingw's errno.h defines,
  # and lacks the ctype.h it needs (see the fix header).
  set_source_files_properties(${_at2}/arg_int.c PROPERTIES
    COMPILE_OPTIONS "-include;${CMAKE_CURRENT_LIST_DIR}/argtable2_errno_fix.h")
endif()
