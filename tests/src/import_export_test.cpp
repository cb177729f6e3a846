// The settings file at its limits: numbers of any length, and a full buffer.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <regex>
#include <utility>
#include <vector>

#include "SkinCfgProgram.h"
#include "import_export.h"
#include "test_util.h"

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
// value 5) and accept the text silently; the endless ones would overflow.
TEST_F(SettingsFileTest, HugeNumbersNeverWrapAround) {
  using settingstext::Note;
  const std::string exported = settingstext::Compose(program.items, VRDSKINCFG_BUILD).text;
  const struct {
    std::string line;
    Note note;
  } cases[] = {{"4294967297,5;", Note::kUnknownItem},
               {"-" + std::string(90, '9') + ",5;", Note::kUnknownItem},
               {"1,4294967301;", Note::kUnknownValue},
               {"1,-4294967291;", Note::kUnknownValue},
               {"1," + std::string(90, '9') + "5;", Note::kUnknownValue}};
  for (const auto& c : cases) {
    std::string text = exported;
    text.replace(text.find("\n1,5;\n") + 1, 4, c.line);
    const auto parsed = settingstext::Parse(text.data(), text.size(), program.items);
    const auto reconciled = settingstext::Reconcile(
        parsed.selected, parsed.build, parsed.unsupported, program.items, VRDSKINCFG_BUILD_NUMBER);
    std::vector<std::pair<Note, int32_t>> notes;
    for (const auto* messages : {&parsed.messages, &reconciled.messages}) {
      for (size_t i = 0; i < messages->count; ++i) {
        notes.emplace_back(messages->list[i].note, messages->list[i].arg);
      }
    }
    // Chat is item 0 of the table.
    const std::vector<std::pair<Note, int32_t>> expected = {
        {c.note, 0}, {Note::kMissing, 0}, {Note::kVersionMismatch, 0}};
    EXPECT_TRUE(parsed.ok) << c.line;
    EXPECT_EQ(notes, expected) << c.line;
    EXPECT_FALSE(reconciled.accepted) << c.line;
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
  EXPECT_TRUE(std::regex_match(
      testing::internal::GetCapturedStdout(),
      std::regex(R"(ERROR: \[import_export:\d+\] BuildSetupDataItem\(\): Buffer overflow\n)")));
  EXPECT_EQ(ziptest::ReadFileBytes(path), written);
}

// The export renames a new file over the one behind the links: each link
// stays a link, relative ones resolved from their own folder, the file keeps
// its permission bits, and no new file is left anywhere; links to nothing
// yet get the file they point at. A loop of links can name no file.
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
  for (const auto& entry : fs::recursive_directory_iterator(tmp.path()))
    files += !entry.is_directory();
  EXPECT_EQ(files, 3u);

  // Links to nothing yet: the file is made where they lead.
  fs::remove(tmp.Sub("real.cfg"));
  ASSERT_TRUE(program.ExportFile());
  EXPECT_TRUE(fs::is_symlink(path));
  EXPECT_TRUE(fs::is_symlink(tmp.Sub("sub/link2")));
  EXPECT_NE(ziptest::ReadFileBytes(tmp.Sub("real.cfg")).find("\n1,6;\n"), std::string::npos);

  fs::remove(tmp.Sub("sub/link2"));
  fs::create_symlink("../vrd.cfg", tmp.Sub("sub/link2"));
  testing::internal::CaptureStdout();
  EXPECT_FALSE(program.ExportFile());
  EXPECT_EQ(
      testing::internal::GetCapturedStdout(),
      "ERROR: Could not write file: " + path + "\nReason: Too many levels of symbolic links\n");
}

}  // namespace
