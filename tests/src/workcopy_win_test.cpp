// WorkingCopy on Windows: a commit replaces the archive; a discarded copy leaves it
// and no file behind, even while the engine holds it open (as Ctrl+C meets it).
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

TEST(WorkingCopyWinTest, CommitReplacesAndDiscardLeavesTheArchive) {
  const fs::path dir =
      fs::temp_directory_path() / ("vrdwcwin-" + std::to_string(GetCurrentProcessId()));
  const std::string archive = (dir / "vrd.zip").string();
  const struct { const char* what; void (*end)(WorkingCopy&); const char* result; } cases[] = {
      {"commit", [](WorkingCopy& c) { std::string e; EXPECT_TRUE(c.Commit(&e)) << e; }, "new"},
      {"discard", [](WorkingCopy& c) { c.Discard(); }, "old"},
      {"discard while open", [](WorkingCopy& c) {
         CZipFile held;
         held.Open(c.Path(), CZipFile::modeReadWrite | CZipFile::modeNoTruncate |
                                 CZipFile::shareDenyWrite, true);
         c.Discard();
       }, "old"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(dir);
    fs::create_directories(dir);
    std::ofstream(archive, std::ios::binary) << "old";
    WorkingCopy copy;
    std::string error;
    ASSERT_TRUE(copy.Create(archive.c_str(), &error)) << error;
    std::ofstream(copy.Path(), std::ios::binary) << "new";
    c.end(copy);
    std::ifstream in(archive, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), c.result);
    std::vector<fs::path> left(fs::directory_iterator{dir}, fs::directory_iterator{});
    EXPECT_EQ(left, std::vector<fs::path>{archive});
  }
  fs::remove_all(dir);
}

}  // namespace

#endif  // VRD_PLATFORM_WINDOWS
