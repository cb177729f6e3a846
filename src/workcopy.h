// A private copy of the skin archive that receives every change of a run, so
// that the archive itself changes in one rename when the changes are
// committed, or not at all. A copy that is neither committed nor discarded is
// removed when the process ends, also on SIGINT and SIGTERM (Ctrl+C).
//
// The platform files (workcopy_posix.cpp, workcopy_win.cpp) implement it; this
// header stays free of platform types.
#ifndef VRDSKINCFG_WORKCOPY_H
#define VRDSKINCFG_WORKCOPY_H

#include <string>

class WorkingCopy {
 public:
  WorkingCopy() = default;
  ~WorkingCopy();  // discards a copy that is still active
  WorkingCopy(const WorkingCopy&) = delete;  // owns a file on disk
  WorkingCopy& operator=(const WorkingCopy&) = delete;

  // Follows symbolic links from the archive path to the real file and copies
  // it to a new, uniquely named file in that file's folder, with the same
  // permission bits. Only one copy can be active in a process at a time. On
  // failure nothing is left on disk and *error holds the system's error text.
  bool Create(const char* archive, std::string* error);

  bool Active() const { return active_; }

  // The working file's path; after a failed Create, the path that was tried.
  const char* Path() const { return path_.c_str(); }

  // Requires an active copy that nobody has open for writing any more.
  // Flushes it to disk and renames it over the real archive file, so a crash
  // leaves either the old or the new archive, never a mix. On failure the
  // copy is removed, the archive is left as it was, and *error holds the
  // system's error text. Afterwards no copy is active.
  bool Commit(std::string* error);

  // Removes the copy; harmless when none is active.
  void Discard();

 private:
  std::string path_;    // the working file
  std::string target_;  // the real archive file it will replace
  bool active_ = false;
};

#endif
