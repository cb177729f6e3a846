// VRD_LINUX_CALLS is 1 where the Linux-only file calls the engine uses
// (copy_file_range, sync_file_range) are there, as the generated sysconfig.h
// found them; never in the macOS program, which is also built on Linux to
// check that it never needs them. Code that uses them stands inside
// `#if VRD_LINUX_CALLS` blocks, which tools/ci_macos_variant.sh leaves out of
// its check.
#ifndef VRDSKINCFG_LINUXCALLS_H
#define VRDSKINCFG_LINUXCALLS_H

#include <fcntl.h>

#include "sysconfig.h"

#define VRD_LINUX_CALLS (VRD_HAVE_COPY_FILE_RANGE && VRD_HAVE_SYNC_FILE_RANGE)

#endif
