// The one way the program replaces a file it writes (the skin archive, the
// settings file): all at once or not at all, and never over somebody
// else's change.
//
// The target is opened once, through the system, and kept open; its
// identity is remembered. A change is built in a working file beside the
// target (unnamed where the system allows it, else named
// ".<name>.vrdskincfg-XXXXXX"), which replaces the target only when it is
// complete: only if the path still names that file, unchanged, with the
// target's owner, group, permissions and extended attributes, and (with
// locking) under an exclusive lock on the file read at the start. Written
// once over the primitives of SkinPlatform.
#ifndef VRDSKINCFG_SKINFILE_H
#define VRDSKINCFG_SKINFILE_H

#include <string>

#include "skinplatform.h"

class ReplacedFile {
 public:
  using Handle = SkinPlatform::Handle;
  // How long a run waits for another process's lock on the target.
  static constexpr int kLockWaitMilliseconds = 5000;
  static constexpr int kLockPollMilliseconds = 20;
  // How long a replace that another program's open handle blocks is tried
  // again, the first pause, and the longest pause.
  static constexpr int kShareWaitMilliseconds = 3000;
  static constexpr int kShareFirstPauseMilliseconds = 100;
  static constexpr int kShareMaxPauseMilliseconds = 800;
  // What working files add to the target's name.
  static constexpr const char* kWorkMark = ".vrdskincfg-";
  static constexpr size_t kRandomPart = 6;

  // With `locking`, changes are made under the lock (the skin archive, whose
  // readers and writers are other runs); without it the lock is left alone.
  explicit ReplacedFile(SkinPlatform& platform = SystemSkinPlatform(), bool locking = true)
      : platform_(platform), locking_(locking) {}
  ~ReplacedFile();  // discards an uncommitted change and closes the target
  ReplacedFile(const ReplacedFile&) = delete;  // owns open files
  ReplacedFile& operator=(const ReplacedFile&) = delete;

  // Opens the file at `path` for reading and remembers which file it is.
  // kNotFound, kNotRegular or kFailed (with the system's text in *error).
  // With `creatable`, a path that names nothing is a file still to be
  // made: kOk, and Exists() is false.
  SysResult Open(const std::string& path, bool creatable, std::string* error);
  bool IsOpen() const { return opened_; }
  bool Exists() const { return target_ != SkinPlatform::kNoHandle; }
  Handle TargetHandle() const { return target_; }

  // kOk while the path still names the file opened, unchanged; kChanged
  // otherwise.
  SysResult CheckUnchanged(std::string* error);
  // kOk when this user may replace the file; kInUse when another program
  // keeps it open in a way that blocks a replace.
  SysResult CheckWritable(std::string* error);

  // Starts a change: requires an unchanged file (else kChanged, or kLocked
  // when another process keeps the lock too long) whose owner this user can
  // keep (else kForeign), removes working files that earlier runs left
  // behind, and creates the empty working file. Nothing is left on disk
  // when it fails.
  SysResult BeginChange(std::string* error);
  bool Changing() const { return work_ != SkinPlatform::kNoHandle; }
  Handle WorkHandle() const { return work_; }
  // Writes the whole content of the working file and forces it to the
  // device (the skin's working file is written by the engine instead).
  SysResult Write(const void* data, size_t size, std::string* error);
  // The working file's name for messages: the file itself when it has a
  // name, else the name pattern it would get.
  std::string WorkName() const;

  // Requires a change whose working file is complete. Replaces the file
  // with it, keeping the file's metadata; kChanged, kLocked, kForeign,
  // kInUse as above. On any failure the file is untouched and the working
  // file is gone, except after kHalfReplaced, where the working file is the
  // only copy left and keeps its name (in *error). Afterwards no change is
  // active.
  SysResult Commit(std::string* error);
  // Drops the working file; harmless without a change.
  void Discard();

 private:
  SysResult WaitForLock(std::string* error);
  template <typename Step>
  SysResult RetryWhileBusy(const Step& step);
  SysResult Publish(std::string* error);
  void RemoveStaleWorkFiles();

  SkinPlatform& platform_;
  const bool locking_;
  bool opened_ = false;
  std::string path_;      // as the user gave it
  std::string realpath_;  // where the system found the file: what a commit replaces
  std::string folder_;    // realpath_'s folder: where working files live
  std::string prefix_;    // working file names: prefix_ + six characters
  FileIdentity identity_;
  Handle target_ = SkinPlatform::kNoHandle;
  Handle work_ = SkinPlatform::kNoHandle;
  std::string workpath_;  // empty for an unnamed working file
};

#endif
