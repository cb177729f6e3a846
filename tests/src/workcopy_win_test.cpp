// WorkingCopy on Windows: the copy lives beside the archive, a commit
// replaces the archive, and nothing is left behind after a discard, a failed
// create, or a removal while the engine still holds the copy open.
#ifdef VRD_PLATFORM_WINDOWS

#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "ZipFile.h"
#include "workcopy.h"

namespace {

namespace fs = std::filesystem;

class WorkingCopyWinTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("vrdwcwin-" + std::to_string(GetCurrentProcessId()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    archive_ = (dir_ / "vrd.zip").string();
    Write(archive_, "old archive");
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  static void Write(const std::string& path, const std::string& data) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << data;
  }
  static std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  std::vector<std::string> Files() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_)) {
      names.push_back(entry.path().filename().string());
    }
    return names;
  }

  fs::path dir_;
  std::string archive_;
};

TEST_F(WorkingCopyWinTest, CommitReplacesTheArchiveWithTheCopy) {
  WorkingCopy copy;
  std::string error;
  ASSERT_TRUE(copy.Create(archive_.c_str(), &error)) << error;
  EXPECT_TRUE(copy.Active());
  EXPECT_EQ(fs::path(copy.Path()).parent_path(), fs::path(archive_).parent_path());
  EXPECT_EQ(Read(copy.Path()), "old archive");
  Write(copy.Path(), "new archive");
  EXPECT_EQ(Read(archive_), "old archive");
  ASSERT_TRUE(copy.Commit(&error)) << error;
  EXPECT_FALSE(copy.Active());
  EXPECT_EQ(Read(archive_), "new archive");
  EXPECT_EQ(Files(), std::vector<std::string>{"vrd.zip"});
}

TEST_F(WorkingCopyWinTest, NothingIsLeftWhenTheCopyIsNotCommitted) {
  struct Case {
    const char* what;
    void (*end)(WorkingCopy&);
  } cases[] = {
      {"discard", [](WorkingCopy& c) { c.Discard(); }},
      {"destructor", [](WorkingCopy&) {}},
      // What the Ctrl+C handler meets: the engine still has the copy open.
      {"discard while open", [](WorkingCopy& c) {
         CZipFile held;
         held.Open(c.Path(), CZipFile::modeReadWrite | CZipFile::modeNoTruncate |
                                 CZipFile::shareDenyWrite, true);
         c.Discard();
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    {
      WorkingCopy copy;
      std::string error;
      ASSERT_TRUE(copy.Create(archive_.c_str(), &error)) << error;
      Write(copy.Path(), "changed");
      c.end(copy);
    }
    EXPECT_EQ(Files(), std::vector<std::string>{"vrd.zip"});
    EXPECT_EQ(Read(archive_), "old archive");
  }
}

TEST_F(WorkingCopyWinTest, MissingArchiveCreatesNothing) {
  WorkingCopy copy;
  std::string error;
  std::string missing = (dir_ / "other.zip").string();
  EXPECT_FALSE(copy.Create(missing.c_str(), &error));
  EXPECT_FALSE(copy.Active());
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(Files(), std::vector<std::string>{"vrd.zip"});
}

}  // namespace

#endif  // VRD_PLATFORM_WINDOWS
