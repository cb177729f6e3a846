// The replace protocol of ReplacedFile, over the primitives of SkinPlatform.
#include "skinfile.h"

#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <random>
#include <vector>

namespace {

// The buffer that content is read through.
const size_t kDigestBuffer = size_t{256} * 1024;

// No file system this program writes to takes longer names, whatever
// limit it reports (vfat and exfat report one in bytes of UTF-16).
const size_t kNameLimit = 255;

// Cuts a UTF-8 text to at most `limit` bytes without splitting a character.
std::string CutUtf8(const std::string& text, size_t limit) {
  if (text.size() <= limit) return text;
  size_t end = limit;
  // text[end] is the first byte left out: while it continues a character,
  // that character would be split.
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return text.substr(0, end);
}

std::string RandomPart() {
  static std::mt19937 generator(
      std::random_device{}() ^
      static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count()));
  const size_t choices = std::strlen(ReplacedFile::kNameChars);
  std::string part(ReplacedFile::kRandomPart, 'X');
  for (char& c : part) c = ReplacedFile::kNameChars[generator() % choices];
  return part;
}

// True for exactly the names `prefix` plus a random part.
bool IsWorkName(const std::string& name, const std::string& prefix) {
  return name.size() == prefix.size() + ReplacedFile::kRandomPart &&
         name.compare(0, prefix.size(), prefix) == 0 &&
         name.find_first_not_of(ReplacedFile::kNameChars, prefix.size()) == std::string::npos;
}

}  // namespace

ReplacedFile::~ReplacedFile() {
  Discard();
  if (Exists()) platform_.Close(target_);
  target_ = SkinPlatform::kNoHandle;
}

SysResult ReplacedFile::Open(const std::string& path, bool creatable, std::string* error) {
  if (IsOpen()) return SysResult::kOk;
  SysResult result = SysResult::kChanged;
  for (int attempt = 1; result == SysResult::kChanged; ++attempt) {
    realpath_.clear();
    result = platform_.OpenRegular(path, &target_, &identity_, &realpath_, error);
    if (result != SysResult::kOk) break;
    result = platform_.LocateOpen(target_, path, &realpath_, error);
    // Another program put a new file in the path's place after the open:
    // that one is opened next. Replaced again and again, the run keeps the
    // file it opened; a change finds that the path names another file.
    if (result == SysResult::kChanged && attempt == kOpenAttempts) {
      if (realpath_.empty()) realpath_ = path;
      result = SysResult::kOk;
    }
    if (result != SysResult::kOk) platform_.Close(target_);
  }
  if (result == SysResult::kNotFound && creatable) {
    if (realpath_.empty()) realpath_ = path;
    result = SysResult::kOk;
  } else if (result != SysResult::kOk) {
    target_ = SkinPlatform::kNoHandle;
    return result;
  }
  opened_ = true;
  path_ = path;
  std::string name;
  platform_.SplitPath(realpath_, &folder_, &name);
  // "." + name + mark + random part stays within the file-name limit,
  // however long the name is.
  const size_t limit = std::min(platform_.NameRoom(folder_), kNameLimit);
  const size_t fixed = 1 + std::strlen(kWorkMark) + kRandomPart;
  prefix_ = "." + CutUtf8(name, limit > fixed ? limit - fixed : 0) + kWorkMark;
  return SysResult::kOk;
}

SysResult ReplacedFile::ReadAt(uint64_t offset, void* data, size_t size, size_t* got,
                               std::string* error) {
  *got = 0;
  if (!Exists()) return SysResult::kOk;
  return platform_.ReadAt(target_, offset, data, size, got, error);
}

// A CRC-32 of the bytes and their count: a change confined to 32 bits in a
// row (a CRC or a time field of one entry) is always seen, any other
// with a chance of 1 in 2^32 to be missed.
SysResult ReplacedFile::Digest(uint64_t offset, uint64_t* digest, std::string* error) {
  std::vector<unsigned char> buffer(kDigestBuffer);
  uLong crc = crc32(0L, Z_NULL, 0);
  uint64_t count = 0;
  for (;;) {
    size_t got = 0;
    SysResult result = ReadAt(offset + count, buffer.data(), buffer.size(), &got, error);
    if (result != SysResult::kOk) return result;
    if (got == 0) break;
    crc = crc32(crc, buffer.data(), static_cast<uInt>(got));
    count += got;
  }
  *digest = (count << 32) ^ crc;
  return SysResult::kOk;
}

SysResult ReplacedFile::RememberContent(uint64_t offset, std::string* error) {
  contentknown_ = false;
  if (!Exists()) return SysResult::kOk;
  SysResult result = Digest(offset, &contentdigest_, error);
  contentfrom_ = offset;
  contentknown_ = result == SysResult::kOk;
  return result;
}

SysResult ReplacedFile::CheckIdentityAndContent(std::string* error) {
  SysResult result = CheckUnchanged(error);
  if (result != SysResult::kOk || !contentknown_) return result;
  uint64_t digest = 0;
  result = Digest(contentfrom_, &digest, error);
  if (result != SysResult::kOk) return result;
  return digest == contentdigest_ ? SysResult::kOk : SysResult::kChanged;
}

SysResult ReplacedFile::CheckUnchanged(std::string* error) {
  FileIdentity now;
  SysResult result = platform_.IdentifyPath(path_, &now, error);
  // A file still to be made: nobody may have made it meanwhile.
  if (!Exists()) return result == SysResult::kNotFound ? SysResult::kOk : SysResult::kChanged;
  // What the path names now, and what became of the file read at the start
  // (a program that rewrites it in place keeps the name).
  if (result != SysResult::kOk || now != identity_) return SysResult::kChanged;
  result = platform_.IdentifyHandle(target_, &now, error);
  if (result != SysResult::kOk) return result;
  return now == identity_ ? SysResult::kOk : SysResult::kChanged;
}

SysResult ReplacedFile::CheckWritable(std::string* error) {
  if (!Exists()) return SysResult::kOk;  // the folder decides when the file is made
  return RetryWhileBusy([&] { return platform_.CheckWritable(realpath_, error); });
}

SysResult ReplacedFile::BeginChange(std::string* error) {
  if (!IsOpen()) return SysResult::kChanged;
  if (Changing()) return SysResult::kOk;
  const bool locking = locking_ && Exists();
  SysResult result = locking ? WaitForLock(error) : SysResult::kOk;
  if (result != SysResult::kOk) return result;
  result = CheckIdentityAndContent(error);
  if (result == SysResult::kOk) {
    // Under the lock: no other run is publishing its working file now.
    RemoveStaleWorkFiles();
    // A new file gets what the folder gives any new file; a replacing one
    // starts private and gets the target's metadata.
    result = CreateWorkFile(Exists() ? 0600 : 0666, error);
  }
  // Finds out now, before any work, whether the owner can be kept.
  if (result == SysResult::kOk && Exists()) {
    result = platform_.CopyMetadata(target_, work_, error);
    if (result != SysResult::kOk) Discard();
  }
  if (locking) platform_.Unlock(target_);
  return result;
}

SysResult ReplacedFile::CreateWorkFile(unsigned mode, std::string* error) {
  SysResult result = platform_.CreateUnnamedFile(folder_, mode, &work_, error);
  if (result == SysResult::kUnsupported) {
    result = WithFreshName(error, [&](const std::string& path) {
      return platform_.CreateNamedFile(path, mode, &work_, error);
    });
  }
  if (result != SysResult::kOk) work_ = SkinPlatform::kNoHandle;
  return result;
}

template <typename Step>
SysResult ReplacedFile::WithFreshName(std::string* error, const Step& step) {
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    const std::string path = platform_.JoinPath(folder_, prefix_ + RandomPart());
    const SysResult result = step(path);
    if (result == SysResult::kOk) workpath_ = path;
    if (result != SysResult::kExists) return result;
  }
  if (error->empty()) *error = "File exists";
  return SysResult::kFailed;  // *error: the system's text for a taken name
}

void ReplacedFile::DropWorkFile(bool keep) {
  if (keep) {
    platform_.KeepWorkFile(work_, workpath_);
  } else {
    platform_.CloseWorkFile(work_, workpath_);
  }
  work_ = SkinPlatform::kNoHandle;
  workpath_.clear();
}

SysResult ReplacedFile::Write(const void* data, size_t size, std::string* error) {
  if (!Changing()) return SysResult::kFailed;
  SysResult result = platform_.Write(work_, data, size, error);
  return result == SysResult::kOk ? platform_.Sync(work_, error) : result;
}

std::string ReplacedFile::WorkName() const {
  if (!workpath_.empty()) return workpath_;
  return platform_.JoinPath(folder_, prefix_ + std::string(kRandomPart, 'X'));
}

SysResult ReplacedFile::WaitForLock(std::string* error) {
  for (int waited = 0;; waited += kLockPollMilliseconds) {
    SysResult result = platform_.TryLock(target_, error);
    if (result != SysResult::kBusy) return result;
    if (waited >= kLockWaitMilliseconds) return SysResult::kLocked;
    platform_.SleepMilliseconds(kLockPollMilliseconds);
  }
}

// Programs that hold a freshly written file for a moment (virus scanners,
// indexers, cloud sync) let go soon: a step they block is tried again with
// growing pauses, for a bounded time.
template <typename Step>
SysResult ReplacedFile::RetryWhileBusy(const Step& step) {
  int pause = kShareFirstPauseMilliseconds;
  for (int waited = 0;; waited += pause, pause = std::min(2 * pause, kShareMaxPauseMilliseconds)) {
    SysResult result = step();
    if (result != SysResult::kBusy && result != SysResult::kDenied) return result;
    if (waited >= kShareWaitMilliseconds) {
      return result == SysResult::kBusy ? SysResult::kInUse : SysResult::kNoAccess;
    }
    platform_.SleepMilliseconds(pause);
  }
}

SysResult ReplacedFile::Commit(std::string* error) {
  if (!Changing()) return SysResult::kFailed;
  SysResult result = platform_.Sync(work_, error);
  const bool locking = result == SysResult::kOk && locking_ && Exists();
  if (locking) {
    result = WaitForLock(error);
    if (result != SysResult::kOk) {
      Discard();
      return result;
    }
  }
  // Between this check and the replace, any other run that wants to commit
  // waits for the lock; it then finds that the path names a new file.
  if (result == SysResult::kOk) result = CheckIdentityAndContent(error);
  if (result == SysResult::kOk && Exists()) result = platform_.CopyMetadata(target_, work_, error);
  if (result == SysResult::kOk) result = Publish(error);
  Discard();
  if (locking) platform_.Unlock(target_);
  return result;
}

SysResult ReplacedFile::Publish(std::string* error) {
  // A named working file keeps its name; an unnamed one gets a fresh one.
  auto name = [&](const std::string& path) { return platform_.Release(&work_, path, true, error); };
  SysResult result = workpath_.empty() ? WithFreshName(error, name)
                                       : platform_.Release(&work_, workpath_, false, error);
  if (result != SysResult::kOk) return result;
  const std::string& work = workpath_;
  if (Exists()) {
    result = RetryWhileBusy([&] { return platform_.Replace(work, realpath_, error); });
  } else {
    result = RetryWhileBusy([&] { return platform_.MoveInto(work, realpath_, error); });
    // Another program made the file after the last check.
    if (result == SysResult::kExists) result = SysResult::kChanged;
  }
  // Whatever the failure is called, a target that is gone leaves the
  // working file as the only copy: it must take the target's name.
  FileIdentity now;
  std::string ignored;
  if (result != SysResult::kOk && result != SysResult::kHalfReplaced && Exists() &&
      platform_.IdentifyPath(realpath_, &now, &ignored) == SysResult::kNotFound) {
    result = SysResult::kHalfReplaced;
  }
  if (result == SysResult::kHalfReplaced) {
    // The original is gone already: the working file is the only copy and
    // must take the target's name, or stay where it is.
    result = RetryWhileBusy([&] { return platform_.MoveInto(work, realpath_, error); });
    if (result != SysResult::kOk) {
      *error += "\nThe new file is kept as: " + workpath_;
      DropWorkFile(true);
      return SysResult::kHalfReplaced;
    }
  }
  if (result != SysResult::kOk) return result;  // the working file goes with Discard
  platform_.SyncFolder(folder_);
  DropWorkFile(true);
  return SysResult::kOk;
}

void ReplacedFile::Discard() {
  if (work_ != SkinPlatform::kNoHandle || !workpath_.empty()) DropWorkFile(false);
}

void ReplacedFile::RemoveStaleWorkFiles() {
  for (const std::string& name : platform_.ListNames(folder_, prefix_)) {
    if (IsWorkName(name, prefix_)) platform_.RemoveIfStale(platform_.JoinPath(folder_, name));
  }
}
