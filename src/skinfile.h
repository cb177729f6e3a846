// The skin archive as a file on disk, and the protocol that changes it all
// at once or not at all, and never over somebody else's change.
//
// The archive is opened once at start-up and kept open for the whole run;
// its identity is remembered. A change is built in a working file beside
// the archive (unnamed where the system allows it), which replaces the
// archive only when it is complete: under an exclusive lock on the file
// read at start-up, only if the archive path still names that file,
// unchanged, and with the archive's owner, permissions and extended
// attributes. Written once over the primitives of SkinPlatform.
#ifndef VRDSKINCFG_SKINFILE_H
#define VRDSKINCFG_SKINFILE_H

#include <string>

#include "skinplatform.h"

class SkinFile {
 public:
  using Handle = SkinPlatform::Handle;
  // How long a commit waits for another run's commit to finish.
  static constexpr int kLockWaitMilliseconds = 5000;
  static constexpr int kLockPollMilliseconds = 20;

  explicit SkinFile(SkinPlatform& platform = SystemSkinPlatform()) : platform_(platform) {}
  ~SkinFile();  // discards an uncommitted change and closes the archive
  SkinFile(const SkinFile&) = delete;  // owns open files
  SkinFile& operator=(const SkinFile&) = delete;

  // Opens the archive at `path` for reading and remembers which file it is.
  // kNotFound, kNotRegular or kFailed (with the system's text in *error).
  SysResult Open(const std::string& path, std::string* error);
  bool IsOpen() const { return archive_ != SkinPlatform::kNoHandle; }
  Handle ArchiveHandle() const { return archive_; }

  // kOk while the archive path still names the file opened, unchanged;
  // kChanged otherwise.
  SysResult CheckUnchanged(std::string* error);
  // kOk when the archive path can be opened for writing.
  SysResult CheckWritable(std::string* error);

  // Starts a change: requires an unchanged archive (else kChanged) whose
  // owner this user can keep (else kForeign), removes working files that
  // earlier runs left behind, and creates the empty working file. Nothing is
  // left on disk when it fails.
  SysResult BeginChange(std::string* error);
  bool Changing() const { return work_ != SkinPlatform::kNoHandle; }
  Handle WorkHandle() const { return work_; }
  // The working file's name for messages: the file itself when it has a
  // name, else the name pattern it would get.
  std::string WorkName() const;

  // Requires a change whose working file is complete and closed by the
  // engine. Replaces the archive with it under the lock, keeping the
  // archive's metadata; kChanged when another program changed the archive
  // since it was read (or kept its lock too long), kForeign when its owner
  // cannot be kept. On any failure the archive is untouched and the working
  // file is gone. Afterwards no change is active.
  SysResult Commit(std::string* error);
  // Drops the working file; harmless without a change.
  void Discard();

 private:
  SysResult WaitForLock(std::string* error);
  void RemoveStaleWorkFiles();

  SkinPlatform& platform_;
  std::string path_;      // as the user gave it
  std::string realpath_;  // the file behind any links: what a commit replaces
  std::string folder_;    // realpath_'s folder: where working files live
  std::string prefix_;    // working file names: prefix_ + six characters
  FileIdentity identity_;
  Handle archive_ = SkinPlatform::kNoHandle;
  Handle work_ = SkinPlatform::kNoHandle;
  std::string workpath_;  // empty for an unnamed working file
};

#endif
