// The replace protocol over a platform that fails or disturbs one chosen
// primitive: the file is never half-changed or changed over another
// program's change, and no working file is left, with unnamed and with
// named working files.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

#include "forwardingplatform.h"
#include "skinfile.h"
#include "test_util.h"

namespace {

namespace fs = std::filesystem;
using Handle = SkinPlatform::Handle;

// The real platform, primitive by primitive, except that pauses only count.
class ForwardingPlatform : public ForwardingSkinPlatform {
 public:
  using ForwardingSkinPlatform::ForwardingSkinPlatform;
  void SleepMilliseconds(int milliseconds) override { slept += milliseconds; }

  int slept = 0;
};

enum class Step {
  kNone,
  kReplacedOnce,    // another file put in the path's place after the open
  kReplacedAlways,  // ... after every open
  kOpenFails,       // as with too many open files
  kRewritten,       // rewritten in place, times put back (change time by the fake)
  kNotWritable,     // as on a read-only file system
  kNoLocks,         // a file system without locks
  kIdentifyPath,
  kIdentifyHandle,
  kResized,
  kStatusChanged,
  kCreate,
  kMetadata,
  kForeign,
  kSync,
  kLockBusy,
  kLockFails,
  kWritableBusy,  // another program's handle is in the way twice
  kRelease,
  kReplace,
  kReplaceDenied,  // denied twice, as while a scanner holds the file
  kReplaceStaysBusy,
  kReplaceStaysDenied,
  kHalfReplaced,
  kLostReplaced,
  kHalfStuck
};

// Fails one primitive once it is `armed` (at the open, the start of the
// change or the commit), as when another program strikes in between.
class FaultyPlatform : public ForwardingPlatform {
 public:
  FaultyPlatform(SkinPlatform& real, Step fail) : ForwardingPlatform(real), fail_(fail) {}

  SysResult OpenRegular(const std::string& p, Handle* h, FileIdentity* id, std::string* r,
                        std::string* e) override {
    if (Fails(Step::kOpenFails)) {
      *e = std::strerror(EMFILE);
      return SysResult::kFailed;
    }
    SysResult result = target_.OpenRegular(p, h, id, r, e);
    opened = *id;
    return result;
  }
  // Publishes another file over the path, as a run of this program does.
  SysResult LocateOpen(Handle h, const std::string& g, std::string* r, std::string* e) override {
    if (Fails(Step::kReplacedAlways) || (Fails(Step::kReplacedOnce) && ++replaced == 1)) {
      ziptest::WriteFileBytes(g + ".other", "other archive");
      fs::rename(g + ".other", g);
    }
    return target_.LocateOpen(h, g, r, e);
  }
  SysResult CheckWritable(const std::string& p, std::string* e) override {
    if (Fails(Step::kNotWritable)) {
      *e = std::strerror(EROFS);
      return SysResult::kFailed;
    }
    if (Fails(Step::kWritableBusy) && ++checks < 3) return SysResult::kBusy;
    return target_.CheckWritable(p, e);
  }
  SysResult IdentifyPath(const std::string& p, FileIdentity* id, std::string* e) override {
    if (Fails(Step::kIdentifyPath)) return SysResult::kFailed;
    if (Fails(Step::kRewritten)) Rewrite(p);
    return Altered(target_.IdentifyPath(p, id, e), id);
  }
  SysResult IdentifyHandle(Handle h, FileIdentity* id, std::string* e) override {
    if (Fails(Step::kIdentifyHandle)) return SysResult::kFailed;
    return Altered(target_.IdentifyHandle(h, id, e), id);
  }
  SysResult TryLock(Handle h, std::string* e) override {
    if (Fails(Step::kLockBusy)) return SysResult::kBusy;
    if (Fails(Step::kNoLocks)) return SysResult::kNoLocks;
    return Fails(Step::kLockFails) ? SysResult::kFailed : target_.TryLock(h, e);
  }
  SysResult CreateUnnamedFile(const std::string& f, unsigned m, Handle* h,
                              std::string* e) override {
    SysResult result = target_.CreateUnnamedFile(f, m, h, e);
    if (result != SysResult::kOk || !Fails(Step::kCreate)) return result;
    target_.Close(*h);
    return SysResult::kFailed;
  }
  SysResult CreateNamedFile(const std::string& p, unsigned m, Handle* h, std::string* e) override {
    return Fails(Step::kCreate) ? SysResult::kFailed : target_.CreateNamedFile(p, m, h, e);
  }
  SysResult CopyMetadata(Handle from, Handle to, std::string* e) override {
    if (Fails(Step::kMetadata)) return SysResult::kFailed;
    return Fails(Step::kForeign) ? SysResult::kForeign : target_.CopyMetadata(from, to, e);
  }
  SysResult Sync(Handle h, std::string* e) override {
    return Fails(Step::kSync) ? SysResult::kFailed : target_.Sync(h, e);
  }
  SysResult Release(Handle* w, const std::string& p, bool u, std::string* e) override {
    return Fails(Step::kRelease) ? SysResult::kFailed : target_.Release(w, p, u, e);
  }
  // Windows' ReplaceFile: failing before anything moved, blocked by another
  // program's handle for a while, or failing after the original was moved
  // away (the working file keeps its own name), whichever code it gives.
  SysResult Replace(const std::string& w, const std::string& t, std::string* e) override {
    ++replaces;
    if (Fails(Step::kReplace)) return SysResult::kFailed;
    if (Fails(Step::kReplaceDenied) && replaces < 3) return SysResult::kDenied;
    if (Fails(Step::kReplaceStaysBusy)) return SysResult::kBusy;
    if (Fails(Step::kReplaceStaysDenied)) return SysResult::kDenied;
    if (Fails(Step::kHalfReplaced) || Fails(Step::kHalfStuck) || Fails(Step::kLostReplaced)) {
      fs::remove(t);
      return Fails(Step::kLostReplaced) ? SysResult::kFailed : SysResult::kHalfReplaced;
    }
    return target_.Replace(w, t, e);
  }
  SysResult MoveInto(const std::string& w, const std::string& t, std::string* e) override {
    return Fails(Step::kHalfStuck) ? SysResult::kBusy : target_.MoveInto(w, t, e);
  }

  bool armed = false;
  int checks = 0;
  int replaces = 0;
  int replaced = 0;
  FileIdentity opened;

 private:
  bool Fails(Step step) const { return armed && fail_ == step; }
  // Another program's change of one byte in place, with the modification
  // time put back as "touch -d" does; only the change time moved.
  void Rewrite(const std::string& path) {
    if (rewritten_) return;
    rewritten_ = true;
    std::string bytes = ziptest::ReadFileBytes(path);
    bytes[0] = 'O';
    ziptest::WriteFileBytes(path, bytes);
    const struct timespec times[2] = {{0, UTIME_OMIT}, {opened.modified, opened.modifiednsec}};
    utimensat(AT_FDCWD, path.c_str(), times, 0);
  }
  // A file rewritten in place whose other times were put back: only its
  // size, or only its change time, differs; or nothing but its bytes, where
  // the file system keeps no change time.
  SysResult Altered(SysResult result, FileIdentity* id) const {
    id->size += Fails(Step::kResized);
    id->changednsec += Fails(Step::kStatusChanged);
    if (Fails(Step::kRewritten)) {
      id->changed = opened.changed;
      id->changednsec = opened.changednsec;
    }
    return result;
  }
  bool rewritten_ = false;
  Step fail_;
};

enum When { kAtOpen, kAtBegin, kAtCommit };

struct Case {
  Step fail;
  When when;  // armed from the open, the start of the change, or the commit on
  SysResult result;
  const char* archive;  // what the archive holds afterwards
  int waited;           // milliseconds spent waiting, at least
  int files;            // files in the folder afterwards
};

TEST(ReplacedFileTest, EveryFailedStepLeavesTheFileAndNoWorkingFile) {
  const char* const kOld = "old archive";
  const int kLockWait = ReplacedFile::kLockWaitMilliseconds;
  const int kShareWait = ReplacedFile::kShareWaitMilliseconds;
  const Case cases[] = {
      {Step::kNone, kAtCommit, SysResult::kOk, "new", 0, 1},
      // The newer file is opened again; replaced at every open, the first
      // one opened is kept, and the change finds it replaced.
      {Step::kReplacedOnce, kAtOpen, SysResult::kOk, "new", 0, 1},
      {Step::kReplacedAlways, kAtOpen, SysResult::kChanged, "other archive", 0, 1},
      {Step::kOpenFails, kAtOpen, SysResult::kFailed, kOld, 0, 1},
      {Step::kNotWritable, kAtBegin, SysResult::kFailed, kOld, 0, 1},
      {Step::kWritableBusy, kAtBegin, SysResult::kOk, "new", 100 + 200, 1},
      {Step::kRewritten, kAtBegin, SysResult::kChanged, "Old archive", 0, 1},
      {Step::kNoLocks, kAtBegin, SysResult::kNoLocks, kOld, 0, 1},
      {Step::kIdentifyPath, kAtBegin, SysResult::kChanged, kOld, 0, 1},
      {Step::kIdentifyHandle, kAtBegin, SysResult::kFailed, kOld, 0, 1},
      {Step::kResized, kAtBegin, SysResult::kChanged, kOld, 0, 1},
      {Step::kStatusChanged, kAtBegin, SysResult::kChanged, kOld, 0, 1},
      {Step::kCreate, kAtBegin, SysResult::kFailed, kOld, 0, 1},
      {Step::kForeign, kAtBegin, SysResult::kForeign, kOld, 0, 1},
      {Step::kLockBusy, kAtBegin, SysResult::kLocked, kOld, kLockWait, 1},
      {Step::kMetadata, kAtCommit, SysResult::kFailed, kOld, 0, 1},
      {Step::kIdentifyPath, kAtCommit, SysResult::kChanged, kOld, 0, 1},
      {Step::kRewritten, kAtCommit, SysResult::kChanged, "Old archive", 0, 1},
      {Step::kSync, kAtCommit, SysResult::kFailed, kOld, 0, 1},
      {Step::kLockBusy, kAtCommit, SysResult::kLocked, kOld, kLockWait, 1},
      {Step::kNoLocks, kAtCommit, SysResult::kNoLocks, kOld, 0, 1},
      {Step::kLockFails, kAtCommit, SysResult::kFailed, kOld, 0, 1},
      {Step::kRelease, kAtCommit, SysResult::kFailed, kOld, 0, 1},
      {Step::kReplace, kAtCommit, SysResult::kFailed, kOld, 0, 1},
      {Step::kReplaceDenied, kAtCommit, SysResult::kOk, "new", 100 + 200, 1},
      {Step::kReplaceStaysBusy, kAtCommit, SysResult::kInUse, kOld, kShareWait, 1},
      {Step::kReplaceStaysDenied, kAtCommit, SysResult::kNoAccess, kOld, kShareWait, 1},
      {Step::kHalfReplaced, kAtCommit, SysResult::kOk, "new", 0, 1},
      // A failure of another name that took the original away all the same.
      {Step::kLostReplaced, kAtCommit, SysResult::kOk, "new", 0, 1},
      // The original is gone: the working file, the only copy, stays.
      {Step::kHalfStuck, kAtCommit, SysResult::kHalfReplaced, nullptr, kShareWait, 1},
  };
  for (bool unnamed : {true, false}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::Message() << "step " << static_cast<int>(c.fail) << " armed at "
                                      << c.when << ", unnamed " << unnamed);
      ziptest::ScopedTempDir dir;
      const fs::path archive = dir.path() / "skin.zip";
      ziptest::WriteFileBytes(archive, kOld);
      fs::permissions(archive, fs::perms(0640));
      FaultyPlatform platform(SystemSkinPlatform(unnamed), c.fail);
      ReplacedFile file(platform);
      std::string error;
      platform.armed = c.when == kAtOpen;
      SysResult result = file.Open(archive.string(), false, &error);
      if (result == SysResult::kOk) result = file.RememberContent(0, &error);
      platform.armed = c.when <= kAtBegin;
      if (result == SysResult::kOk) result = file.CheckWritable(&error);
      if (result == SysResult::kOk) result = file.BeginChange(&error);
      const bool began = result == SysResult::kOk;
      if (began) {
        ASSERT_EQ(write(static_cast<int>(file.WorkHandle()), "new", 3), 3);
        platform.armed = true;
        result = file.Commit(&error);
      }
      EXPECT_EQ(result, c.result) << error;
      EXPECT_EQ(began, c.when == kAtCommit || c.result == SysResult::kOk);
      EXPECT_FALSE(file.Changing());
      EXPECT_GE(platform.slept, c.waited);
      EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), {}), c.files)
          << "working file left";
      if (c.archive == nullptr) {
        EXPECT_FALSE(fs::exists(archive));
        const fs::path kept = fs::directory_iterator(dir.path())->path();
        EXPECT_NE(error.find(kept.string()), std::string::npos) << error;
        EXPECT_EQ(ziptest::ReadFileBytes(kept), "new");
        // Kept for good: not even the removal at exit takes it.
        if (fork() == 0) std::exit(0);
        wait(nullptr);
        EXPECT_TRUE(fs::exists(kept));
        continue;
      }
      EXPECT_EQ(ziptest::ReadFileBytes(archive), c.archive);
      // The system's reason reaches the caller.
      if (c.fail == Step::kOpenFails || c.fail == Step::kNotWritable) {
        EXPECT_EQ(error, std::strerror(c.fail == Step::kOpenFails ? EMFILE : EROFS));
      }
      // A file put in its place has its own.
      if (c.when != kAtOpen) {
        EXPECT_EQ(fs::status(archive).permissions(), fs::perms(0640));
      }
    }
  }
}

// Working file names keep within 255 bytes and whole UTF-8 characters,
// whatever the file system reports; only names of exactly that form for
// this file are removed, and only when no live run holds them.
class ReportedLimit : public ForwardingPlatform {
 public:
  ReportedLimit(SkinPlatform& real, size_t limit) : ForwardingPlatform(real), limit_(limit) {}
  size_t NameRoom(const std::string&) override { return limit_; }

 private:
  size_t limit_;
};

TEST(ReplacedFileTest, WorkingFileNamesAndStaleFiles) {
  ziptest::ScopedTempDir dir;
  std::string cyrillic;
  for (int i = 0; i < 125; ++i) cyrillic += "\xD0\xAF";  // 250 bytes
  const std::string names[] = {"skin.zip", std::string(250, 's') + ".zip", cyrillic + ".zip"};
  for (const std::string& name : names) {
    for (size_t reported : {size_t(255), size_t(1530)}) {
      SCOPED_TRACE(testing::Message() << name.size() << "-byte name, limit " << reported);
      const fs::path archive = dir.path() / name;
      ziptest::WriteFileBytes(archive, "archive");
      ReportedLimit platform(SystemSkinPlatform(false), reported);
      ReplacedFile file(platform);
      std::string error;
      ASSERT_EQ(file.Open(archive.string(), false, &error), SysResult::kOk) << error;
      ASSERT_EQ(file.BeginChange(&error), SysResult::kOk) << error;
      const std::string work = fs::path(file.WorkName()).filename().string();
      const std::string prefix = work.substr(0, work.size() - 6);
      EXPECT_LE(work.size(), 255u);
      EXPECT_EQ(prefix.substr(prefix.size() - 12), ".vrdskincfg-");
      // "." + the name cut between two characters.
      const std::string cut = prefix.substr(1, prefix.size() - 13);
      EXPECT_EQ(name.compare(0, cut.size(), cut), 0);
      EXPECT_TRUE(cut.size() == name.size() || (name[cut.size()] & 0xC0) != 0x80);

      const std::string stale = prefix + "Xy12Zw";
      const std::string base = prefix.substr(0, prefix.size() - 12);  // "." + name, cut
      const std::string kept[] = {base + ".backup",  base + ".orig01",
                                  prefix + "Xy12Z~", prefix + "~bCd12",
                                  prefix + "Xy12Z",  ".other.zip.vrdskincfg-Xy12Zw"};
      for (const std::string& other : kept) ziptest::WriteFileBytes(dir.path() / other, "x");
      ziptest::WriteFileBytes(dir.path() / stale, "left behind");
      // A second run cleaning up beside the first leaves the first one's file.
      ReplacedFile second(platform);
      ASSERT_EQ(second.Open(archive.string(), false, &error), SysResult::kOk) << error;
      file.Discard();
      ASSERT_EQ(file.BeginChange(&error), SysResult::kOk) << error;
      ASSERT_EQ(second.BeginChange(&error), SysResult::kOk) << error;
      EXPECT_TRUE(fs::exists(file.WorkName()));
      EXPECT_FALSE(fs::exists(dir.path() / stale));
      second.Discard();
      file.Discard();
      EXPECT_FALSE(fs::exists(file.WorkName()));
      for (const std::string& other : kept) {
        EXPECT_TRUE(fs::exists(dir.path() / other)) << other;
        fs::remove(dir.path() / other);
      }
      fs::remove(archive);
      EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), {}), 0);
    }
  }
}

// Another run's whole change strikes at a chosen step of a commit; of the
// two, exactly one may succeed, and its bytes are the file's.
class Interleaved : public ForwardingPlatform {
 public:
  Interleaved(SkinPlatform& real, bool inreplace)
      : ForwardingPlatform(real), inreplace_(inreplace) {}
  SysResult TryLock(Handle h, std::string* e) override {
    if (!inreplace_ && armed) Strike();
    return target_.TryLock(h, e);
  }
  SysResult Replace(const std::string& w, const std::string& t, std::string* e) override {
    if (inreplace_ && armed) Strike();
    return target_.Replace(w, t, e);
  }

  bool armed = false;
  std::function<void()> other;

 private:
  void Strike() {
    armed = false;
    other();
  }
  bool inreplace_;
};

TEST(ReplacedFileTest, AnotherCommitAtAnyStepNeverLosesAReportedChange) {
  for (bool inreplace : {false, true}) {
    SCOPED_TRACE(inreplace ? "inside the replace" : "just before the lock");
    ziptest::ScopedTempDir dir;
    const fs::path archive = dir.path() / "skin.zip";
    ziptest::WriteFileBytes(archive, "old");
    Interleaved platform(SystemSkinPlatform(), inreplace);
    ForwardingPlatform quiet(SystemSkinPlatform());
    ReplacedFile first(platform), second(quiet);
    std::string error;
    ASSERT_EQ(first.Open(archive.string(), false, &error), SysResult::kOk);
    ASSERT_EQ(second.Open(archive.string(), false, &error), SysResult::kOk);
    ASSERT_EQ(first.BeginChange(&error), SysResult::kOk);
    ASSERT_EQ(first.Write("first", 5, &error), SysResult::kOk);
    SysResult secondresult = SysResult::kFailed;
    platform.other = [&] {
      secondresult = second.BeginChange(&error);
      if (secondresult != SysResult::kOk) return;
      second.Write("second", 6, &error);
      secondresult = second.Commit(&error);
    };
    platform.armed = true;
    const SysResult firstresult = first.Commit(&error);
    EXPECT_NE(firstresult == SysResult::kOk, secondresult == SysResult::kOk);
    EXPECT_EQ(ziptest::ReadFileBytes(archive), firstresult == SysResult::kOk ? "first" : "second");
  }
}

// A file still to be made never replaces one that another program made
// between the last check and the move.
class TakenMeanwhile : public ForwardingPlatform {
 public:
  using ForwardingPlatform::ForwardingPlatform;
  SysResult MoveInto(const std::string& w, const std::string& t, std::string* e) override {
    ziptest::WriteFileBytes(t, "theirs");
    return target_.MoveInto(w, t, e);
  }
};

TEST(ReplacedFileTest, ANewFileNeverReplacesOneMadeMeanwhile) {
  for (bool unnamed : {true, false}) {
    SCOPED_TRACE(testing::Message() << "unnamed " << unnamed);
    ziptest::ScopedTempDir dir;
    const fs::path path = dir.path() / "new.cfg";
    TakenMeanwhile platform(SystemSkinPlatform(unnamed));
    ReplacedFile file(platform, false);
    std::string error;
    ASSERT_EQ(file.Open(path.string(), true, &error), SysResult::kOk);
    ASSERT_EQ(file.BeginChange(&error), SysResult::kOk) << error;
    ASSERT_EQ(file.Write("ours", 4, &error), SysResult::kOk);
    EXPECT_EQ(file.Commit(&error), SysResult::kChanged);
    EXPECT_EQ(ziptest::ReadFileBytes(path), "theirs");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), {}), 1) << "working file left";
  }
}

}  // namespace
