// VRD_LINUX_CALLS is 1 where the Linux-only file calls (O_TMPFILE, linkat
// with AT_EMPTY_PATH, copy_file_range) may be used: on Linux, but not in the
// macOS program, which is also built on Linux to check that it never needs
// them. Code that uses them stands inside `#if VRD_LINUX_CALLS` blocks, which
// tools/ci_macos_variant.sh leaves out of its check.
#ifndef VRDSKINCFG_LINUXCALLS_H
#define VRDSKINCFG_LINUXCALLS_H

#include <fcntl.h>

#if defined(__linux__) && !defined(VRD_PLATFORM_MACOS) && defined(O_TMPFILE)
#define VRD_LINUX_CALLS 1
#else
#define VRD_LINUX_CALLS 0
#endif

#endif
