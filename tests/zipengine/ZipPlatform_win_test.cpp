// The engine's Windows layer: CZipFile errors mapped to the causes the POSIX
// build throws, and the platform points. Runs under Wine in the cross build,
// whose system messages read differently: their texts are checked for shape.
#ifdef VRD_PLATFORM_WINDOWS

#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "ZipException.h"
#include "ZipFile.h"
#include "ZipPlatform.h"

namespace {

// Names under the temp folder, which exists; the files and folders do not.
TEST(ZipFileWinTest, OpenFailuresThrowTheCauseThePosixBuildWould) {
  const struct { const char* name; uint32_t flags; int cause; } cases[] = {
      {"vrdzip-missing.bin", CZipFile::modeRead, 2},
      {"vrdzip-nofolder\\missing.bin", CZipFile::modeReadWrite, 2},
      {".", CZipFile::modeReadWrite | CZipFile::modeNoTruncate, 13},
      {"bad|name.bin", CZipFile::modeReadWrite | CZipFile::modeCreate, 216},  // no errno for it
  };
  for (const auto& c : cases) {
    std::string path = (std::filesystem::temp_directory_path() / c.name).string();
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
                                  insensitive("GUI\\Pointer_Normal.PNG", "gui\\pointer_normal.png") == 0 &&
                                  ZipPlatform::GetNameCompare(true)("Chat.xml", "chat.xml") != 0},
      // A binary search needs one order whatever the case.
      {"a < B < c < chat", insensitive("a.xml", "B.xml") < 0 && insensitive("B.xml", "c.xml") < 0 &&
                               insensitive("chat.xml", "Books.xml") > 0},
      {"names get backslashes", name == "gui\\icons\\small\\x.png"},
      {"error text is the system's, one line", !text.empty() && text != "Unspecified error" &&
                                                   text.find_first_of("\r\n") == std::string::npos},
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
