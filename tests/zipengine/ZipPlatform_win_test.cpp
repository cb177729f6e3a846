// The engine's Windows layer: CZipFile over kernel32 handles (errors mapped
// to the causes the POSIX build throws, the file pointer rule the engine
// relies on) and the platform points. Runs under Wine in the cross build;
// Wine words system messages differently, so their texts are checked for
// shape only.
#ifdef VRD_PLATFORM_WINDOWS

#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "ZipException.h"
#include "ZipFile.h"
#include "ZipPlatform.h"

namespace {

namespace fs = std::filesystem;

// A system text is present, one line, and not the fallback.
bool IsSystemText(const std::string& text) {
  return !text.empty() && text != "Unspecified error" && text.find_first_of("\r\n") == std::string::npos;
}

class ZipFileWinTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    CZipFile f;
    f.Open(Sub("f.bin").c_str(), CZipFile::modeReadWrite | CZipFile::modeCreate, true);
    f.Write("0123456789", 10);
    f.Close();
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  std::string Sub(const char* name) const { return (dir_ / name).string(); }

  fs::path dir_ = fs::temp_directory_path() / ("vrdzipwin-" + std::to_string(GetCurrentProcessId()));
};

// The system's own error (216 here) is described by the platform points below.
TEST_F(ZipFileWinTest, OpenFailuresThrowTheCauseThePosixBuildWould) {
  const struct { const char* name; uint32_t flags; int cause; } cases[] = {
      {"missing.bin", CZipFile::modeRead, 2},
      {"nofolder\\missing.bin", CZipFile::modeReadWrite, 2},
      {".", CZipFile::modeReadWrite | CZipFile::modeNoTruncate, 13},
      {"bad|name.bin", CZipFile::modeReadWrite | CZipFile::modeCreate, 216},
  };
  for (const auto& c : cases) {
    std::string path = Sub(c.name);
    CZipFile quiet, loud;
    EXPECT_FALSE(quiet.Open(path.c_str(), c.flags, false)) << c.name;
    try {
      loud.Open(path.c_str(), c.flags, true);
      ADD_FAILURE() << c.name << " opened";
    } catch (const CZipException& e) {
      EXPECT_EQ(e.m_iCause, c.cause) << c.name;
      EXPECT_EQ(e.m_szFileName, path);
    }
  }
}

// SetEndOfFile works at the file pointer; ftruncate does not move it, and the
// engine relies on that when it cuts the file after moving data down.
TEST_F(ZipFileWinTest, SetLengthLeavesThePositionAlone) {
  CZipFile f;
  f.Open(Sub("f.bin").c_str(), CZipFile::modeReadWrite | CZipFile::modeNoTruncate, true);
  EXPECT_EQ(f.Seek(6, CZipFile::begin), 6u);
  f.SetLength(3);
  EXPECT_EQ(f.GetLength(), 3u);
  EXPECT_EQ(f.GetPosition(), 6u);
  f.SetLength(8);
  EXPECT_EQ(f.SeekToBegin(), 0u);
  char buffer[16] = {};
  EXPECT_EQ(f.Read(buffer, sizeof buffer), 8u);  // short count at the end, no throw
  EXPECT_EQ(std::string(buffer, 3), "012");
}

TEST(ZipPlatformWinTest, PlatformPoints) {
  ZipPlatform::ZipNameCompare insensitive = ZipPlatform::GetNameCompare(false);
  std::string name = "gui/icons\\small/x.png";
  ZipPlatform::NameToPlatform(name);
  SetLastError(ERROR_SHARING_VIOLATION);
  std::string text = ZipPlatform::GetSystemErrorDescription();
  bool errorKept = GetLastError() == static_cast<DWORD>(ERROR_SHARING_VIOLATION) &&
                   ZipPlatform::GetSystemErrorDescription() == text;
  SetLastError(ERROR_SUCCESS);
  std::string none = ZipPlatform::GetSystemErrorDescription();
  SetLastError(0x2BADBEEF);  // no message for it
  std::string unknown = ZipPlatform::GetSystemErrorDescription();
  const struct { const char* what; bool holds; } points[] = {
      {"lookups ignore case", !ZipPlatform::GetSystemCaseSensitivity() &&
                                  insensitive("GUI\\Pointer_Normal.PNG", "gui\\pointer_normal.png") == 0},
      {"the case-sensitive compare does not", ZipPlatform::GetNameCompare(true)("Chat.xml", "chat.xml") != 0},
      // A binary search needs one order whatever the case.
      {"a < B < c < chat", insensitive("a.xml", "B.xml") < 0 && insensitive("B.xml", "c.xml") < 0 &&
                               insensitive("chat.xml", "Books.xml") > 0},
      {"names get backslashes", name == "gui\\icons\\small\\x.png"},
      {"error text is the system's, one line", IsSystemText(text)},
      {"describing leaves the error alone", errorKept},
      {"no error or no text falls back", none == "Unspecified error" && unknown == "Unspecified error"},
      {"new entries are made on FAT", ZipPlatform::GetSystemID() == 0 &&
                                          ZipPlatform::GetDefaultAttributes(0, false) == 0x20u &&
                                          ZipPlatform::GetDefaultAttributes(0, true) == 0x10u},
  };
  for (const auto& p : points) EXPECT_TRUE(p.holds) << p.what;
}

}  // namespace

#endif  // VRD_PLATFORM_WINDOWS
