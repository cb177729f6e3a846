// The commit protocol over a platform that fails one chosen primitive: the
// archive is never half-changed or changed over another program's change,
// and no working file is left, with unnamed and with named working files.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>

#include "test_util.h"
#include "skinfile.h"

namespace {

namespace fs = std::filesystem;

enum class Step { kNone, kIdentifyPath, kIdentifyHandle, kCreate, kMetadata, kForeign, kSync,
                  kLockBusy, kLockFails, kPublish };

// The real platform, except for one primitive that fails.
class FaultyPlatform : public SkinPlatform {
 public:
  FaultyPlatform(SkinPlatform& real, Step fail) : real_(real), fail_(fail) {}

  SysResult OpenRegular(const std::string& p, Handle* h, FileIdentity* id, std::string* r,
                        std::string* e) override {
    return real_.OpenRegular(p, h, id, r, e);
  }
  SysResult CheckWritable(const std::string& p, std::string* e) override {
    return real_.CheckWritable(p, e);
  }
  SysResult IdentifyPath(const std::string& p, FileIdentity* id, std::string* e) override {
    return Fails(Step::kIdentifyPath) ? SysResult::kFailed : real_.IdentifyPath(p, id, e);
  }
  SysResult IdentifyHandle(Handle h, FileIdentity* id, std::string* e) override {
    return Fails(Step::kIdentifyHandle) ? SysResult::kFailed : real_.IdentifyHandle(h, id, e);
  }
  SysResult TryLock(Handle h, std::string* e) override {
    if (fail_ == Step::kLockBusy) return SysResult::kBusy;
    return fail_ == Step::kLockFails ? SysResult::kFailed : real_.TryLock(h, e);
  }
  void Unlock(Handle h) override { real_.Unlock(h); }
  SysResult CreateWorkFile(const std::string& f, const std::string& p, Handle* h, std::string* n,
                           std::string* e) override {
    return fail_ == Step::kCreate ? SysResult::kFailed : real_.CreateWorkFile(f, p, h, n, e);
  }
  SysResult CopyMetadata(Handle from, Handle to, std::string* e) override {
    if (Fails(Step::kMetadata)) return SysResult::kFailed;
    return Fails(Step::kForeign) ? SysResult::kForeign : real_.CopyMetadata(from, to, e);
  }
  SysResult Sync(Handle h, std::string* e) override {
    return fail_ == Step::kSync ? SysResult::kFailed : real_.Sync(h, e);
  }
  SysResult Publish(Handle w, const std::string& wp, const std::string& f, const std::string& p,
                    const std::string& t, std::string* e) override {
    if (fail_ != Step::kPublish) return real_.Publish(w, wp, f, p, t, e);
    // As a failed rename does: the working file goes, the handle is closed.
    real_.CloseWorkFile(w, wp);
    return SysResult::kFailed;
  }
  void CloseWorkFile(Handle w, const std::string& wp) override { real_.CloseWorkFile(w, wp); }
  void Close(Handle h) override { real_.Close(h); }
  std::vector<std::string> ListWorkFiles(const std::string& f, const std::string& p) override {
    return real_.ListWorkFiles(f, p);
  }
  void RemoveIfStale(const std::string& p) override { real_.RemoveIfStale(p); }
  void SplitPath(const std::string& p, std::string* f, std::string* n) override {
    real_.SplitPath(p, f, n);
  }
  std::string JoinPath(const std::string& f, const std::string& n) override {
    return real_.JoinPath(f, n);
  }
  void SleepMilliseconds(int milliseconds) override { slept += milliseconds; }
  size_t MaxNameLength(const std::string& f) override { return real_.MaxNameLength(f); }

  // The identity checks fail only once a change is under way, as when
  // another program strikes between start-up and commit.
  bool armed = false;
  int slept = 0;

 private:
  bool Fails(Step step) const { return armed && fail_ == step; }
  SkinPlatform& real_;
  Step fail_;
};

struct Case {
  Step fail;
  bool atbegin;       // fails when the change begins (else at the commit)
  SysResult result;
  const char* archive;  // what the archive holds afterwards
  int waited;           // milliseconds spent waiting for the lock, at least
};

TEST(SkinFileTest, EveryFailedStepLeavesTheArchiveAndNoWorkingFile) {
  const char* const kOld = "old archive";
  const int kFullWait = SkinFile::kLockWaitMilliseconds;
  const Case cases[] = {
      {Step::kNone, false, SysResult::kOk, "new", 0},
      {Step::kIdentifyPath, true, SysResult::kChanged, kOld, 0},
      {Step::kIdentifyHandle, true, SysResult::kFailed, kOld, 0},
      {Step::kCreate, true, SysResult::kFailed, kOld, 0},
      {Step::kForeign, true, SysResult::kForeign, kOld, 0},
      {Step::kMetadata, false, SysResult::kFailed, kOld, 0},
      {Step::kIdentifyPath, false, SysResult::kChanged, kOld, 0},
      {Step::kSync, false, SysResult::kFailed, kOld, 0},
      {Step::kLockBusy, false, SysResult::kChanged, kOld, kFullWait},
      {Step::kLockFails, false, SysResult::kFailed, kOld, 0},
      {Step::kPublish, false, SysResult::kFailed, kOld, 0},
  };
  for (bool unnamed : {true, false}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::Message() << "step " << static_cast<int>(c.fail) << " at "
                                      << (c.atbegin ? "begin" : "commit") << ", unnamed "
                                      << unnamed);
      ziptest::ScopedTempDir dir;
      const fs::path archive = dir.path() / "skin.zip";
      ziptest::WriteFileBytes(archive, kOld);
      fs::permissions(archive, fs::perms(0640));
      FaultyPlatform platform(SystemSkinPlatform(unnamed), c.fail);
      SkinFile file(platform);
      std::string error;
      ASSERT_EQ(file.Open(archive.string(), &error), SysResult::kOk) << error;

      platform.armed = c.atbegin;
      SysResult began = file.BeginChange(&error);
      SysResult result = began;
      if (began == SysResult::kOk) {
        ASSERT_EQ(write(static_cast<int>(file.WorkHandle()), "new", 3), 3);
        platform.armed = true;
        result = file.Commit(&error);
      }
      EXPECT_EQ(result, c.result);
      EXPECT_EQ(began == SysResult::kOk, !c.atbegin);
      EXPECT_FALSE(file.Changing());
      EXPECT_EQ(ziptest::ReadFileBytes(archive), c.archive);
      EXPECT_EQ(fs::status(archive).permissions(), fs::perms(0640));
      EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), {}), 1) << "working file left";
      EXPECT_GE(platform.slept, c.waited);
    }
  }
}

// Working file names stay within the file-name limit, however long the
// archive's name; stale ones of this archive go, a locked one stays.
TEST(SkinFileTest, WorkingFileNamesAndStaleFiles) {
  ziptest::ScopedTempDir dir;
  const std::string longname = std::string(250, 's') + ".zip";
  for (const std::string& name : {std::string("skin.zip"), longname}) {
    SCOPED_TRACE(name);
    const fs::path archive = dir.path() / name;
    ziptest::WriteFileBytes(archive, "archive");
    const std::string prefix = ("." + name + ".").substr(0, 249);
    const fs::path leftover = dir.path() / (prefix + "Xy12Zw");
    const fs::path other = dir.path() / ".other.zip.Xy12Zw";  // another archive's
    ziptest::WriteFileBytes(leftover, "left behind");
    ziptest::WriteFileBytes(other, "not ours");
    SkinFile file(SystemSkinPlatform(false));
    std::string error;
    ASSERT_EQ(file.Open(archive.string(), &error), SysResult::kOk) << error;
    ASSERT_EQ(file.BeginChange(&error), SysResult::kOk) << error;
    const std::string work = file.WorkName();
    EXPECT_LE(fs::path(work).filename().string().size(), 255u);
    EXPECT_TRUE(fs::exists(work));
    EXPECT_FALSE(fs::exists(leftover));
    // A second run cleaning up beside the first leaves the first one's file.
    SkinFile second(SystemSkinPlatform(false));
    ASSERT_EQ(second.Open(archive.string(), &error), SysResult::kOk) << error;
    ASSERT_EQ(second.BeginChange(&error), SysResult::kOk) << error;
    EXPECT_TRUE(fs::exists(work));
    second.Discard();
    file.Discard();
    EXPECT_FALSE(fs::exists(work));
    EXPECT_TRUE(fs::exists(other));
    fs::remove(other);
    fs::remove(archive);
  }
}

}  // namespace
