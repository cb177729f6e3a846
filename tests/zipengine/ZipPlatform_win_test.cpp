// The engine's Windows layer: CZipFile over kernel32 handles (errors mapped
// to the causes the POSIX build throws, file pointer rules) and the platform
// points (names, lookups, system error texts). Runs under Wine in the cross
// build; Wine words system messages differently, so their texts are checked
// for shape only.
#ifdef VRD_PLATFORM_WINDOWS

#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "ZipException.h"
#include "ZipFile.h"
#include "ZipPlatform.h"

namespace {

namespace fs = std::filesystem;

class ZipFileWinTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("vrdzipwin-" + std::to_string(GetCurrentProcessId()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  std::string Sub(const char* name) const { return (dir_ / name).string(); }
  void Make(const char* name, const std::string& data) {
    CZipFile f;
    f.Open(Sub(name).c_str(), CZipFile::modeReadWrite | CZipFile::modeCreate, true);
    f.Write(data.data(), static_cast<uint32_t>(data.size()));
    f.Close();
  }

  fs::path dir_;
};

// A system text is present, one line, and not the fallback.
void ExpectSystemText(const std::string& text) {
  EXPECT_FALSE(text.empty());
  EXPECT_NE(text, "Unspecified error");
  EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos) << text;
}

TEST_F(ZipFileWinTest, OpenFailuresThrowTheCauseThePosixBuildWould) {
  Make("file.bin", "x");
  struct Case {
    const char* name;
    uint32_t flags;
    int cause;
    const char* description;  // nullptr: 216 with the system's own text
  } cases[] = {
      {"missing.bin", CZipFile::modeRead, 2, "No such file or directory."},
      {"nofolder\\missing.bin", CZipFile::modeReadWrite, 2, "No such file or directory."},
      {".", CZipFile::modeReadWrite | CZipFile::modeNoTruncate, 13, "Permission denied."},
      {"bad|name.bin", CZipFile::modeReadWrite | CZipFile::modeCreate, 216, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string path = Sub(c.name);
    CZipFile quiet;
    EXPECT_FALSE(quiet.Open(path.c_str(), c.flags, false));
    EXPECT_TRUE(quiet.IsClosed());
    try {
      CZipFile f;
      f.Open(path.c_str(), c.flags, true);
      ADD_FAILURE() << "opened";
    } catch (const CZipException& e) {
      EXPECT_EQ(e.m_iCause, c.cause);
      EXPECT_EQ(e.m_szFileName, path);
      std::string description = e.GetErrorDescription();
      if (c.description != nullptr) {
        EXPECT_EQ(description, c.description);
      } else {
        const std::string lead = "A file error occurred (";
        ASSERT_EQ(description.compare(0, lead.size(), lead), 0) << description;
        ASSERT_EQ(description.substr(description.size() - 2), ").");
        ExpectSystemText(description.substr(lead.size(), description.size() - lead.size() - 2));
      }
    }
  }
}

TEST_F(ZipFileWinTest, OpenModesTruncateOnlyWhenAsked) {
  struct Case {
    uint32_t flags;
    uint64_t length;
  } cases[] = {
      {CZipFile::modeRead, 5},
      {CZipFile::modeReadWrite | CZipFile::modeNoTruncate, 5},
      {CZipFile::modeReadWrite | CZipFile::modeCreate | CZipFile::modeNoTruncate, 5},
      {CZipFile::modeReadWrite | CZipFile::modeCreate, 0},
      {CZipFile::modeReadWrite, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.flags);
    Make("f.bin", "12345");
    CZipFile f;
    ASSERT_TRUE(f.Open(Sub("f.bin").c_str(), c.flags, true));
    EXPECT_EQ(f.GetLength(), c.length);
  }
}

// SetEndOfFile works at the file pointer; ftruncate does not move it, and the
// engine relies on that when it cuts the file after moving data down.
TEST_F(ZipFileWinTest, SetLengthLeavesThePositionAlone) {
  Make("f.bin", "0123456789");
  CZipFile f;
  f.Open(Sub("f.bin").c_str(), CZipFile::modeReadWrite | CZipFile::modeNoTruncate, true);
  EXPECT_EQ(f.Seek(6, CZipFile::begin), 6u);
  f.SetLength(3);
  EXPECT_EQ(f.GetLength(), 3u);
  EXPECT_EQ(f.GetPosition(), 6u);
  f.SetLength(8);
  EXPECT_EQ(f.GetLength(), 8u);
  EXPECT_EQ(f.SeekToBegin(), 0u);
  char buffer[16] = {};
  EXPECT_EQ(f.Read(buffer, sizeof buffer), 8u);  // short count at the end, no throw
  EXPECT_EQ(std::string(buffer, 3), "012");
  EXPECT_EQ(f.Read(buffer, sizeof buffer), 0u);
  EXPECT_EQ(f.Seek(-2, CZipFile::end), 6u);
  try {
    f.Seek(-1, CZipFile::begin);
    ADD_FAILURE() << "seek before the start";
  } catch (const CZipException& e) {
    EXPECT_EQ(e.m_iCause, 22);
  }
}

TEST_F(ZipFileWinTest, StorageSharingDeniesWritersButNotReadersOrRemoval) {
  Make("a.zip", "data");
  std::string path = Sub("a.zip");
  CZipFile held;
  held.Open(path.c_str(),
            CZipFile::modeReadWrite | CZipFile::modeNoTruncate | CZipFile::shareDenyWrite, true);
  CZipFile reader;
  EXPECT_TRUE(reader.Open(path.c_str(), CZipFile::modeRead | 0x40, false));
  reader.Close();
  try {
    CZipFile writer;
    writer.Open(path.c_str(), CZipFile::modeReadWrite | CZipFile::modeNoTruncate | 0x40, true);
    ADD_FAILURE() << "a second writer got in";
  } catch (const CZipException& e) {
    EXPECT_EQ(e.m_iCause, 13);
  }
  // The working copy's Ctrl+C cleanup removes the file while it is open.
  EXPECT_NE(DeleteFileA(path.c_str()), 0);
  held.Close();
  EXPECT_FALSE(fs::exists(path));
}

TEST(ZipPlatformWinTest, LookupsIgnoreCaseAndOrderConsistently) {
  ZipPlatform::ZipNameCompare insensitive = ZipPlatform::GetNameCompare(false);
  ZipPlatform::ZipNameCompare sensitive = ZipPlatform::GetNameCompare(true);
  EXPECT_FALSE(ZipPlatform::GetSystemCaseSensitivity());
  EXPECT_EQ(insensitive("Chat.xml", "chat.xml"), 0);
  EXPECT_EQ(insensitive("GUI\\Pointer_Normal.PNG", "gui\\pointer_normal.png"), 0);
  EXPECT_NE(sensitive("Chat.xml", "chat.xml"), 0);
  // A binary search needs one order whatever the case: a < B < c.
  EXPECT_LT(insensitive("a.xml", "B.xml"), 0);
  EXPECT_LT(insensitive("B.xml", "c.xml"), 0);
  EXPECT_GT(insensitive("chat.xml", "Books.xml"), 0);
}

TEST(ZipPlatformWinTest, NamesAndNewEntries) {
  std::string name = "gui/icons\\small/x.png";
  ZipPlatform::NameToPlatform(name);
  EXPECT_EQ(name, "gui\\icons\\small\\x.png");
  EXPECT_EQ(ZipPlatform::GetSystemID(), 0);
  EXPECT_EQ(ZipPlatform::GetDefaultAttributes(0, false), 0x20u);
  EXPECT_EQ(ZipPlatform::GetDefaultAttributes(0, true), 0x10u);
  EXPECT_EQ(ZipPlatform::GetDefaultAttributes(3, false), 0100644u << 16);
}

TEST(ZipPlatformWinTest, SystemErrorTextsComeFromTheSystem) {
  SetLastError(ERROR_SUCCESS);
  EXPECT_EQ(ZipPlatform::GetSystemErrorDescription(), "Unspecified error");
  SetLastError(0x2BADBEEF);  // no message for it
  EXPECT_EQ(ZipPlatform::GetSystemErrorDescription(), "Unspecified error");
  SetLastError(ERROR_SHARING_VIOLATION);
  std::string text = ZipPlatform::GetSystemErrorDescription();
  ExpectSystemText(text);
  // Describing twice gives the same text: the error is left as it was.
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_EQ(ZipPlatform::GetSystemErrorDescription(), text);
}

}  // namespace

#endif  // VRD_PLATFORM_WINDOWS
