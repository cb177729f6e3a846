// The commit protocol of SkinFile, over the primitives of SkinPlatform.
#include "skinfile.h"

namespace {

const size_t kRandomPart = 6;  // characters a working file adds to its prefix

// Cuts a UTF-8 text to at most `limit` bytes without splitting a character.
std::string CutUtf8(const std::string& text, size_t limit) {
  if (text.size() <= limit) return text;
  size_t end = limit;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return text.substr(0, end);
}

}  // namespace

SkinFile::~SkinFile() {
  Discard();
  if (IsOpen()) platform_.Close(archive_);
  archive_ = SkinPlatform::kNoHandle;
}

SysResult SkinFile::Open(const std::string& path, std::string* error) {
  if (IsOpen()) return SysResult::kOk;
  SysResult result = platform_.OpenRegular(path, &archive_, &identity_, &realpath_, error);
  if (result != SysResult::kOk) {
    archive_ = SkinPlatform::kNoHandle;
    return result;
  }
  path_ = path;
  std::string name;
  platform_.SplitPath(realpath_, &folder_, &name);
  // The working file's name stays within the file-name limit, however long
  // the archive's name is: "." + name + ".", cut, then the random part.
  size_t limit = platform_.MaxNameLength(folder_);
  prefix_ = CutUtf8("." + name + ".", limit > kRandomPart ? limit - kRandomPart : 1);
  return SysResult::kOk;
}

SysResult SkinFile::CheckUnchanged(std::string* error) {
  FileIdentity now;
  // What the path names now, and what became of the file read at start-up
  // (a program that rewrites it in place keeps the name but not the size
  // or time).
  SysResult result = platform_.IdentifyPath(path_, &now, error);
  if (result != SysResult::kOk || now != identity_) return SysResult::kChanged;
  result = platform_.IdentifyHandle(archive_, &now, error);
  if (result != SysResult::kOk) return result;
  return now == identity_ ? SysResult::kOk : SysResult::kChanged;
}

SysResult SkinFile::CheckWritable(std::string* error) { return platform_.CheckWritable(path_, error); }

SysResult SkinFile::BeginChange(std::string* error) {
  if (!IsOpen()) return SysResult::kChanged;
  if (Changing()) return SysResult::kOk;
  SysResult result = CheckUnchanged(error);
  if (result != SysResult::kOk) return result;
  RemoveStaleWorkFiles();
  result = platform_.CreateWorkFile(folder_, prefix_, &work_, &workpath_, error);
  if (result != SysResult::kOk) {
    work_ = SkinPlatform::kNoHandle;
    workpath_.clear();
    return result;
  }
  // Finds out now, before any work, whether the owner can be kept.
  result = platform_.CopyMetadata(archive_, work_, error);
  if (result != SysResult::kOk) Discard();
  return result;
}

std::string SkinFile::WorkName() const {
  if (!workpath_.empty()) return workpath_;
  return platform_.JoinPath(folder_, prefix_ + std::string(kRandomPart, 'X'));
}

SysResult SkinFile::WaitForLock(std::string* error) {
  for (int waited = 0;; waited += kLockPollMilliseconds) {
    SysResult result = platform_.TryLock(archive_, error);
    if (result != SysResult::kBusy) return result;
    if (waited >= kLockWaitMilliseconds) return SysResult::kChanged;
    platform_.SleepMilliseconds(kLockPollMilliseconds);
  }
}

SysResult SkinFile::Commit(std::string* error) {
  if (!Changing()) return SysResult::kFailed;
  SysResult result = platform_.Sync(work_, error);
  if (result == SysResult::kOk) result = WaitForLock(error);
  if (result != SysResult::kOk) {
    Discard();
    return result;
  }
  // Between this check and the replace, any other run that wants to commit
  // waits for the lock; it then finds that the path names a new file.
  result = CheckUnchanged(error);
  if (result == SysResult::kOk) result = platform_.CopyMetadata(archive_, work_, error);
  if (result == SysResult::kOk) {
    // Publish takes the working file over, whatever its outcome.
    result = platform_.Publish(work_, workpath_, folder_, prefix_, realpath_, error);
    work_ = SkinPlatform::kNoHandle;
    workpath_.clear();
  }
  Discard();
  platform_.Unlock(archive_);
  return result;
}

void SkinFile::Discard() {
  if (!Changing()) return;
  platform_.CloseWorkFile(work_, workpath_);
  work_ = SkinPlatform::kNoHandle;
  workpath_.clear();
}

void SkinFile::RemoveStaleWorkFiles() {
  for (const std::string& path : platform_.ListWorkFiles(folder_, prefix_)) {
    platform_.RemoveIfStale(path);
  }
}
