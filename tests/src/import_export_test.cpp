// The settings file at its limits: numbers of any length in an import, and an
// export text that fills its buffer exactly.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <regex>
#include <string>

#include "../zipengine/test_util.h"
#include "SkinCfgProgram.h"

namespace {

class SettingsFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(program.InitSetupItems());
    for (SetupItemInfo& item : program.items) item.currentval = item.defaultval;
    std::snprintf(program.cfgfilename, sizeof program.cfgfilename, "%s", path.c_str());
  }
  // Output of body, with our own source lines masked.
  static std::string Output(const std::function<void()>& body) {
    testing::internal::CaptureStdout();
    body();
    return std::regex_replace(testing::internal::GetCapturedStdout(),
                              std::regex(R"(\[import_export:\d+\])"), "[import_export:N]");
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
      {"4294967297,5;", removed},
      {"1,4294967301;", unsupported},
      {"1,-4294967291;", unsupported},
      {"-" + std::string(90, '9') + ",5;", removed},
      {"1," + std::string(90, '9') + "5;", unsupported},
  };
  for (const auto& c : cases) {
    std::string text = exported;
    text.replace(text.find("\n1,5;\n") + 1, 4, c.line);
    ziptest::WriteFileBytes(path, text);
    for (SetupItemInfo& item : program.items) item.selectedval = -1;
    EXPECT_EQ(Output([&] {
                EXPECT_FALSE(program.ImportFile() && program.CheckImportedSettings());
              }),
              c.warning + "WARNING: Missing setting for the Chat.\n"
                          "ERROR: The settings file version does not match its content.\n")
        << c.line;
  }
}

TEST_F(SettingsFileTest, ExportFillsTheBufferExactlyAndRefusesMore) {
  auto Active = [&](int i) -> auto& { return program.items[i].value[program.items[i].currentval]; };
  // Defaults give 159 bytes; ten 10-digit ids add 90, one 8-digit id adds 7.
  for (int i = 0; i < 10; ++i) Active(i).id = 1000000000;
  Active(19).id = 10000000;
  ASSERT_TRUE(program.ExportFile());
  const std::string written = ziptest::ReadFileBytes(path);
  EXPECT_EQ(written.size(), 256u);

  // Each refusal leaves the file as it was.
  const std::string invalid = "Invalid item setting: Inventory layout\n";
  const struct { std::function<void()> spoil; std::string output; } cases[] = {
      {[&] { Active(19).id = 100000000; }, "Buffer overflow\n"},
      {[&] { program.items[3].currentval = -1; }, invalid},
      {[&] { program.items[3].currentval = 4; }, invalid},  // it has 4 alternatives
  };
  for (const auto& c : cases) {
    c.spoil();
    EXPECT_EQ(Output([&] { EXPECT_FALSE(program.ExportFile()); }),
              "ERROR: [import_export:N] BuildSetupDataItem(): " + c.output);
    EXPECT_EQ(ziptest::ReadFileBytes(path), written);
  }
}

}  // namespace
