// The Windows platform's moves, run under Wine in the cross build: a
// working file never takes a name that another file has.
#ifdef VRD_PLATFORM_WINDOWS

#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "skinplatform.h"

namespace {

namespace fs = std::filesystem;

std::string Bytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(SkinPlatformWinTest, MoveIntoNeverReplacesAFile) {
  const fs::path dir = fs::temp_directory_path() / ("vrdmove-" + std::to_string(GetTickCount()));
  fs::create_directories(dir);
  const std::string work = (dir / "work").string(), taken = (dir / "taken").string();
  std::ofstream(taken, std::ios::binary) << "theirs";
  SkinPlatform& platform = SystemSkinPlatform();
  SkinPlatform::Handle handle = SkinPlatform::kNoHandle;
  std::string error;
  ASSERT_EQ(platform.CreateNamedFile(work, 0600, &handle, &error), SysResult::kOk) << error;
  EXPECT_EQ(platform.CreateNamedFile(work, 0600, &handle, &error), SysResult::kExists);
  ASSERT_EQ(platform.Write(handle, "ours", 4, &error), SysResult::kOk) << error;
  ASSERT_EQ(platform.Release(&handle, work, false, &error), SysResult::kOk) << error;

  EXPECT_EQ(platform.MoveInto(work, taken, &error), SysResult::kExists);
  EXPECT_EQ(Bytes(taken), "theirs");
  EXPECT_EQ(platform.MoveInto(work, (dir / "free").string(), &error), SysResult::kOk) << error;
  EXPECT_EQ(Bytes(dir / "free"), "ours");
  EXPECT_FALSE(fs::exists(work));
  fs::remove_all(dir);
}

}  // namespace

#endif
