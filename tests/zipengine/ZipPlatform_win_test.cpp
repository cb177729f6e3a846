// The engine's Windows points, run under Wine in the cross build; as Wine's
// system messages read differently, their texts are checked for shape only.
#ifdef VRD_PLATFORM_WINDOWS

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "ZipArchive.h"
#include "ZipException.h"
#include "ZipFile.h"
#include "ZipPlatform.h"

namespace {

// The cause thrown for opening a name under the temp folder (which exists;
// the names do not), -1 for none, -2 when it names another file.
int OpenCause(const char* name, uint32_t flags) {
  std::string path = (std::filesystem::temp_directory_path() / name).string();
  CZipFile file;
  try {
    file.Open(path.c_str(), flags, true);
  } catch (const CZipException& e) {
    return e.m_szFileName == path ? e.m_iCause : -2;
  }
  return -1;
}

TEST(ZipPlatformWinTest, PlatformPoints) {
  ZipPlatform::ZipNameCompare insensitive = ZipPlatform::GetNameCompare(false);
  std::string name = "gui/icons\\small/x.png";
  ZipPlatform::NameToPlatform(name);
  SetLastError(ERROR_SHARING_VIOLATION);
  std::string text = ZipPlatform::GetSystemErrorDescription();
  bool errorKept = GetLastError() == static_cast<DWORD>(ERROR_SHARING_VIOLATION);
  SetLastError(ERROR_SUCCESS);
  std::string none = ZipPlatform::GetSystemErrorDescription();
  SetLastError(0x2BADBEEF);  // no message for it
  std::string unknown = ZipPlatform::GetSystemErrorDescription();
  const struct {
    const char* what;
    bool holds;
  } points[] = {
      {"lookups ignore case",
       !ZipPlatform::GetSystemCaseSensitivity() &&
           insensitive("GUI\\Pointer_Normal.PNG", "gui\\pointer_normal.png") == 0 &&
           ZipPlatform::GetNameCompare(true)("Chat.xml", "chat.xml") != 0},
      // A binary search needs one order whatever the case.
      {"a < B < c < chat", insensitive("a.xml", "B.xml") < 0 && insensitive("B.xml", "c.xml") < 0 &&
                               insensitive("chat.xml", "Books.xml") > 0},
      {"names get backslashes", name == "gui\\icons\\small\\x.png"},
      {"error text is the system's, one line", !text.empty() && text != "Unspecified error" &&
                                                   text.find_first_of("\r\n") == std::string::npos},
      {"describing leaves the error alone", errorKept},
      {"no error or no text falls back",
       none == "Unspecified error" && unknown == "Unspecified error"},
      {"new entries are made on FAT", ZipPlatform::GetSystemID() == 0 &&
                                          ZipPlatform::GetDefaultAttributes(0, false) == 0x20u &&
                                          ZipPlatform::GetDefaultAttributes(0, true) == 0x10u},
      // Open failures throw the causes the POSIX build would.
      {"missing file: 2",
       OpenCause("vrdzip-missing.bin", CZipFile::modeRead) == 2 &&
           OpenCause("vrdzip-nofolder\\missing.bin", CZipFile::modeReadWrite) == 2},
      {"a folder: 13", OpenCause(".", CZipFile::modeReadWrite | CZipFile::modeNoTruncate) == 13},
      {"a bad name, no errno: 216",
       OpenCause("bad|name.bin", CZipFile::modeReadWrite | CZipFile::modeCreate) == 216},
  };
  for (const auto& p : points) EXPECT_TRUE(p.holds) << p.what;
}

// Positioned reads (ReadFile at an offset) on Windows' own threads: 40
// entries, one of them damaged, answer on three threads as on one.
TEST(ZipPlatformWinTest, ThreadedTestReadsAtOffsets) {
  const std::filesystem::path dir = std::filesystem::temp_directory_path();
  const std::string empty = (dir / "vrdzip-empty.zip").string(),
                    path = (dir / "vrdzip-threads.zip").string();
  std::ofstream(empty, std::ios::binary) << std::string("PK\x05\x06", 4) << std::string(18, '\0');
  size_t at;  // in the middle of entry 20's data
  {
    CZipFile source, output;
    source.Open(empty.c_str(), CZipFile::modeRead, true);
    output.Open(path.c_str(), CZipFile::modeReadWrite | CZipFile::modeCreate, true);
    CZipArchive zip;
    zip.OpenForUpdate(source, output);
    for (int n = 0; n < 40; n++) {
      CZipMemFile data;
      std::string text(3000 + 97 * n, ' ');
      for (size_t i = 0; i < text.size(); i++) text[i] = static_cast<char>('a' + (i * i + n) % 26);
      data.Write(text.data(), static_cast<uint32_t>(text.size()));
      zip.AddNewFile(data, ("e" + std::to_string(n)).c_str());
    }
    const CZipFileHeader& middle = *zip.GetFileInfo(20);
    at = middle.m_uOffset + 30 + middle.GetRawFileName().GetSize() + middle.m_uComprSize / 2;
    zip.Close();
  }
  std::string bytes((std::istreambuf_iterator<char>(std::ifstream(path, std::ios::binary).rdbuf())),
                    {});
  bytes[at] ^= 0x5A;
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
  std::string answers[2];
  for (unsigned threads : {1u, 3u}) {
    CZipFile file;
    file.Open(path.c_str(), CZipFile::modeRead, true);
    CZipArchive zip;
    zip.Open(file);
    zip.TestFiles(
        [&](uint16_t index, CZipArchive::TestOutcome outcome, const CZipException* e) {
          answers[threads / 2] += std::to_string(index) + ":" + std::to_string(outcome) +
                                  (e != nullptr ? "/" + std::to_string(e->m_iCause) : "") + " ";
          return true;
        },
        65536, threads, 0);
  }
  std::filesystem::remove(empty);
  std::filesystem::remove(path);
  EXPECT_EQ(answers[1], answers[0]);
  // Entry 20 alone throws.
  EXPECT_EQ(std::count(answers[0].begin(), answers[0].end(), '/'), 1) << answers[0];
  EXPECT_NE(answers[0].find(" 20:2/"), std::string::npos) << answers[0];
}

}  // namespace

#endif  // VRD_PLATFORM_WINDOWS
