# What the system offers the file code, found by trying it on the compiler
# that builds the program: the generated sysconfig.h, which the program and
# the engine include. The macOS program, also built on Linux to check that
# it never needs them, is given none of the calls that Linux alone has; the
# Windows program uses none of these.
include(CheckCXXSourceCompiles)
include(CheckCXXSymbolExists)

set(VRD_SYSCONFIG_SWITCHES
  VRD_HAVE_O_TMPFILE VRD_HAVE_AT_EMPTY_PATH VRD_HAVE_PROC_SELF_FD VRD_HAVE_COPY_FILE_RANGE
  VRD_HAVE_SYNC_FILE_RANGE VRD_HAVE_RENAMEAT2 VRD_HAVE_F_FULLFSYNC VRD_HAVE_F_GETPATH
  VRD_HAVE_XATTR VRD_HAVE_XATTR_OPTIONS)
if(NOT VRD_PLATFORM STREQUAL "windows")
  check_cxx_symbol_exists(F_FULLFSYNC fcntl.h VRD_HAVE_F_FULLFSYNC)
  check_cxx_symbol_exists(F_GETPATH fcntl.h VRD_HAVE_F_GETPATH)
  # Through the program's own xattr_calls.h, which stands in for a missing
  # <sys/xattr.h> on macOS (the checks link, so libSystem must have them).
  set(CMAKE_REQUIRED_INCLUDES ${CMAKE_SOURCE_DIR}/src)
  # (The results' cache names are not the switches', which build folders
  # configured before kept from a check of <sys/xattr.h> alone.)
  check_cxx_symbol_exists(flistxattr xattr_calls.h VRD_XATTR_CALLS)
  # macOS's extended-attribute calls take a position and options more.
  check_cxx_source_compiles([=[
    #include "xattr_calls.h"
    int main() { return static_cast<int>(flistxattr(0, nullptr, 0, 0)); }]=]
    VRD_XATTR_CALLS_OPTIONS)
  unset(CMAKE_REQUIRED_INCLUDES)
  set(VRD_HAVE_XATTR ${VRD_XATTR_CALLS})
  set(VRD_HAVE_XATTR_OPTIONS ${VRD_XATTR_CALLS_OPTIONS})
  if(NOT VRD_PLATFORM STREQUAL "macos")
    check_cxx_symbol_exists(O_TMPFILE fcntl.h VRD_HAVE_O_TMPFILE)
    check_cxx_symbol_exists(AT_EMPTY_PATH fcntl.h VRD_HAVE_AT_EMPTY_PATH)
    check_cxx_symbol_exists(copy_file_range unistd.h VRD_HAVE_COPY_FILE_RANGE)
    check_cxx_symbol_exists(sync_file_range fcntl.h VRD_HAVE_SYNC_FILE_RANGE)
    check_cxx_symbol_exists(renameat2 stdio.h VRD_HAVE_RENAMEAT2)
    if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
      set(VRD_HAVE_PROC_SELF_FD 1)
    endif()
  endif()
endif()

# The checks leave 1 or nothing: the header gets 1 or 0.
foreach(switch ${VRD_SYSCONFIG_SWITCHES})
  if(${switch})
    set(${switch} 1)
  else()
    set(${switch} 0)
  endif()
endforeach()
configure_file(${CMAKE_CURRENT_LIST_DIR}/sysconfig.h.in ${CMAKE_BINARY_DIR}/generated/sysconfig.h
               @ONLY)
