// The settings file at its limits: numbers of any length, and a full buffer.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <regex>

#include "test_util.h"
#include "SkinCfgProgram.h"

namespace {

class SettingsFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(program.InitSetupItems());
    for (SetupItemInfo& item : program.items) item.currentval = item.defaultval;
    std::snprintf(program.cfgfilename, sizeof program.cfgfilename, "%s", path.c_str());
  }

  SkinCfgProgram program;
  ziptest::ScopedTempDir tmp;
  std::string path = tmp.Sub("vrd.cfg");
};

// Wrapping would read the 10-digit ids as Chat's first alternative (item 1,
// value 5) and accept the file silently; the endless ones would overflow.
TEST_F(SettingsFileTest, HugeNumbersNeverWrapAround) {
  ASSERT_TRUE(program.ExportFile());
  const std::string exported = ziptest::ReadFileBytes(path);
  const std::string removed =
      "WARNING: Unsupported setting found, most likely a setting that got removed.\n";
  const std::string unsupported = "WARNING: Unsupported setting for the Chat.\n";
  const struct { std::string line, warning; } cases[] = {
      {"4294967297,5;", removed}, {"-" + std::string(90, '9') + ",5;", removed},
      {"1,4294967301;", unsupported}, {"1,-4294967291;", unsupported},
      {"1," + std::string(90, '9') + "5;", unsupported}};
  for (const auto& c : cases) {
    std::string text = exported;
    ziptest::WriteFileBytes(path, text.replace(text.find("\n1,5;\n") + 1, 4, c.line));
    for (SetupItemInfo& item : program.items) item.selectedval = -1;
    testing::internal::CaptureStdout();
    EXPECT_TRUE(program.ImportFile());
    EXPECT_FALSE(program.CheckImportedSettings());
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              c.warning + "WARNING: Missing setting for the Chat.\n"
                          "ERROR: The settings file version does not match its content.\n")
        << c.line;
  }
}

// Defaults give 159 bytes; ten 10-digit ids add 90, one 8-digit id adds 7.
// One digit more is refused and leaves the file as it was.
TEST_F(SettingsFileTest, ExportFillsTheBufferExactlyAndRefusesMore) {
  auto active = [&](int i) -> auto& { return program.items[i].value[program.items[i].currentval]; };
  for (int i = 0; i < 10; ++i) active(i).id = 1000000000;
  active(19).id = 10000000;
  ASSERT_TRUE(program.ExportFile());
  const std::string written = ziptest::ReadFileBytes(path);
  EXPECT_EQ(written.size(), 256u);

  active(19).id = 100000000;
  testing::internal::CaptureStdout();
  EXPECT_FALSE(program.ExportFile());
  EXPECT_TRUE(std::regex_match(testing::internal::GetCapturedStdout(),
      std::regex(R"(ERROR: \[import_export:\d+\] BuildSetupDataItem\(\): Buffer overflow\n)")));
  EXPECT_EQ(ziptest::ReadFileBytes(path), written);
}

// The export renames a new file over the one behind the links: each link
// stays a link, relative ones resolved from their own folder, the file keeps
// its permission bits, and no new file is left anywhere. A loop of links
// can name no file.
TEST_F(SettingsFileTest, ExportReplacesTheFileBehindItsLinks) {
  namespace fs = ziptest::fs;
  fs::create_directory(tmp.Sub("sub"));
  fs::create_symlink("sub/link2", path);
  fs::create_symlink("../real.cfg", tmp.Sub("sub/link2"));
  ziptest::WriteFileBytes(tmp.Sub("real.cfg"), "old");
  chmod(tmp.Sub("real.cfg").c_str(), 0604);
  program.items[0].currentval = 1;
  ASSERT_TRUE(program.ExportFile());  // replaces it
  EXPECT_TRUE(fs::is_symlink(path));
  EXPECT_TRUE(fs::is_symlink(tmp.Sub("sub/link2")));
  EXPECT_EQ(fs::status(tmp.Sub("real.cfg")).permissions(), static_cast<fs::perms>(0604));
  EXPECT_NE(ziptest::ReadFileBytes(tmp.Sub("real.cfg")).find("\n1,6;\n"), std::string::npos);
  size_t files = 0;
  for (const auto& entry : fs::recursive_directory_iterator(tmp.path())) files += !entry.is_directory();
  EXPECT_EQ(files, 3u);

  fs::remove(tmp.Sub("sub/link2"));
  fs::create_symlink("../vrd.cfg", tmp.Sub("sub/link2"));
  testing::internal::CaptureStdout();
  EXPECT_FALSE(program.ExportFile());
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "ERROR: Could not write file: " + path + "\nReason: Too many levels of symbolic links\n");
}

}  // namespace
