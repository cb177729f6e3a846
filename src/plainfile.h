// Access to plain (regular) files by path: reading one without ever blocking
// on a FIFO or a device, and the steps of replacing one in a single rename.
// The platform files (plainfile_posix.cpp, plainfile_win.cpp) implement it.
#ifndef VRDSKINCFG_PLAINFILE_H
#define VRDSKINCFG_PLAINFILE_H

#include <cstddef>
#include <cstdio>

namespace plainfile {

// Room for any path these functions produce, NUL included.
const size_t kPathSize = 4096;

enum class Kind { kMissing, kRegular, kOther };

struct Status {
  Kind kind;      // what the path names, symbolic links followed
  unsigned mode;  // permission bits, owner and group (POSIX)
  unsigned owner;
  unsigned group;
  bool writable;  // a regular file that this process may change
};

// Looks at what the path names without opening it for reading or writing,
// so a FIFO or a device cannot make it wait.
Status Inspect(const char* path);

// Opens an existing regular file for reading in binary mode. nullptr when
// the path names no regular file (*kind kOther) or cannot be opened (*kind
// kMissing, whatever the reason).
FILE* OpenForReading(const char* path, Kind* kind);

// The file that writing to path is meant to change: path with its symbolic
// links followed, also when the last one points at nothing yet. Keeps a
// link a link when the file behind it is replaced.
bool RealTarget(const char* path, char* target, size_t size);

// Creates a new, empty file with a short unique name in target's folder
// (within the file-name limit whatever target's name), opened for writing
// in binary mode, with existing's permission bits and owner where it can
// (else those of any new file). Its path goes to temp.
FILE* CreateBeside(const char* target, const Status& existing, char* temp, size_t size);

// Pushes everything written to f through to the disk.
bool FlushToDisk(FILE* f);

// Puts temp in place of target in one step.
bool MoveOver(const char* temp, const char* target);

}  // namespace plainfile

#endif
