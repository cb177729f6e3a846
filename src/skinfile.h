// The one way the program opens, reads and replaces its files (the skin
// archive, the settings file): opened through the system without ever
// blocking, replaced all at once or not at all, and never over somebody
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
//
// "Unchanged" is decided by identity (device, file number, size and
// times) and, where the caller asked for it (RememberContent), by content:
// file systems with coarse or no times (FAT, exFAT, FUSE and network
// mounts) keep the identity of a file rewritten in place.
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
  // How often a file replaced between its opening and the look-up of its
  // place is opened again before the run keeps the one it opened.
  static constexpr int kOpenAttempts = 5;
  // What working files add to the target's name: the mark and six random
  // characters of kNameChars (any platform's program makes only such).
  static constexpr const char* kWorkMark = ".vrdskincfg-";
  static constexpr size_t kRandomPart = 6;
  static constexpr const char* kNameChars =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  // How many random names are tried before a working file is given up.
  static constexpr int kNameAttempts = 100;

  // With `locking`, changes are made under the lock (the skin archive, whose
  // readers and writers are other runs); without it the lock is left alone.
  explicit ReplacedFile(SkinPlatform& platform = SystemSkinPlatform(), bool locking = true)
      : platform_(platform), locking_(locking) {}
  ~ReplacedFile();  // discards an uncommitted change and closes the target
  ReplacedFile(const ReplacedFile&) = delete;  // owns open files
  ReplacedFile& operator=(const ReplacedFile&) = delete;

  // Opens the file at `path` for reading and remembers which file it is.
  // kNotFound (no such file), kNotRegular or kFailed (with the system's
  // text in *error). A file that another program puts in the path's place
  // while it is being opened is opened again (kOpenAttempts in all); after
  // that the run keeps the file it opened, which no longer has the path
  // (a change of it then fails with kChanged). With `creatable`, a path
  // that names nothing is a file still to be made: kOk, and Exists() is
  // false.
  SysResult Open(const std::string& path, bool creatable, std::string* error);
  bool IsOpen() const { return opened_; }
  bool Exists() const { return target_ != SkinPlatform::kNoHandle; }
  Handle TargetHandle() const { return target_; }
  // The size of the file opened.
  uint64_t Size() const { return identity_.size; }
  // Reads up to `size` bytes at `offset` of the file opened (fewer at its
  // end), without moving its position.
  SysResult ReadAt(uint64_t offset, void* data, size_t size, size_t* got, std::string* error);

  // Remembers what the file opened holds from `offset` to its end, read
  // now (call it before reading what a change will be based on). From then
  // on BeginChange and Commit also require those bytes unchanged, whatever
  // the file system's times say.
  SysResult RememberContent(uint64_t offset, std::string* error);

  // kOk while the path still names the file opened with its identity
  // unchanged (the cheap test: content is compared under the lock only);
  // kChanged otherwise.
  SysResult CheckUnchanged(std::string* error);
  // kOk when this user may replace the file; kInUse when another program
  // keeps it open in a way that blocks a replace; kNoAccess when this user
  // lacks the permission; kFailed with the system's text otherwise.
  SysResult CheckWritable(std::string* error);

  // Starts a change: requires an unchanged file, identity and remembered
  // content (else kChanged, or kLocked when another process keeps the lock
  // too long, kNoLocks where the file system has none: a file that is
  // locked is never changed without its lock) whose owner this user can
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
  // with it, keeping the file's metadata; kChanged, kLocked, kNoLocks,
  // kForeign, kInUse as above. On any failure the file is untouched and the working
  // file is gone, except after kHalfReplaced, where the working file is the
  // only copy left and keeps its name (in *error). Afterwards no change is
  // active.
  SysResult Commit(std::string* error);
  // Drops the working file; harmless without a change.
  void Discard();

 private:
  SysResult WaitForLock(std::string* error);
  // CheckUnchanged and the remembered content.
  SysResult CheckIdentityAndContent(std::string* error);
  // A digest of the bytes from `offset` to the end of the file opened.
  SysResult Digest(uint64_t offset, uint64_t* digest, std::string* error);
  template <typename Step>
  SysResult RetryWhileBusy(const Step& step);
  SysResult Publish(std::string* error);
  void RemoveStaleWorkFiles();
  // Creates the working file: unnamed where the platform allows, else
  // under a fresh name.
  SysResult CreateWorkFile(unsigned mode, std::string* error);
  // Runs `step` on fresh working-file names until one is not taken; the one
  // it succeeds with becomes workpath_.
  template <typename Step>
  SysResult WithFreshName(std::string* error, const Step& step);
  // Closes the working file and forgets it: removed, or kept where it is
  // (published, or the only copy left) for good.
  void DropWorkFile(bool keep);

  SkinPlatform& platform_;
  const bool locking_;
  bool opened_ = false;
  std::string path_;      // as the user gave it
  std::string realpath_;  // where the system found the file: what a commit replaces
  std::string folder_;    // realpath_'s folder: where working files live
  std::string prefix_;    // working file names: prefix_ + six characters
  FileIdentity identity_;
  bool contentknown_ = false;  // RememberContent: a digest of the bytes from contentfrom_ on
  uint64_t contentfrom_ = 0;
  uint64_t contentdigest_ = 0;
  Handle target_ = SkinPlatform::kNoHandle;
  Handle work_ = SkinPlatform::kNoHandle;
  std::string workpath_;  // empty for an unnamed working file
};

#endif
