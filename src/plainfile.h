// Access to plain (regular) files by path: reading one without ever blocking
// on a FIFO or a device (files are written through ReplacedFile).
// The platform files (plainfile_posix.cpp, plainfile_win.cpp) implement it.
#ifndef VRDSKINCFG_PLAINFILE_H
#define VRDSKINCFG_PLAINFILE_H

#include <cstdio>

namespace plainfile {

enum class Kind { kMissing, kRegular, kOther };

// Opens an existing regular file for reading in binary mode. nullptr when
// the path names no regular file (*kind kOther) or cannot be opened (*kind
// kMissing, whatever the reason).
FILE* OpenForReading(const char* path, Kind* kind);

}  // namespace plainfile

#endif
