// The settings file: the exact bytes of an export, the round trip, and how an
// import reacts to odd, damaged and hostile files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <initializer_list>
#include <iterator>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "../zipengine/test_util.h"
#include "SkinCfgProgram.h"

namespace {

// Item id -> id of its default alternative, in table order.
const int kDefaults[][2] = {{1, 5},  {2, 1},  {3, 1},  {4, 1},  {5, 1},  {6, 1},  {7, 1},
                            {9, 2},  {10, 1}, {11, 1}, {12, 1}, {13, 1}, {14, 2}, {15, 5},
                            {16, 3}, {17, 1}, {18, 4}, {19, 2}, {20, 2}, {21, 2}};

std::string Header(const std::string& build) {
  return "# vrdskincfg (build " + build + ") --- Skin configuration\n";
}

// Default lines for the item ids from..to (both included).
std::string Lines(int from, int to, int except = 0) {
  std::string text;
  for (const auto& pair : kDefaults) {
    if (pair[0] >= from && pair[0] <= to && pair[0] != except) {
      text += std::to_string(pair[0]) + "," + std::to_string(pair[1]) + ";\n";
    }
  }
  return text;
}

std::string AllLines(int except = 0) { return Lines(1, 21, except); }

const char kMismatch[] = "ERROR: The settings file version does not match its content.\n";
const char kOlder[] =
    "NOTE: The settings file was saved with an older version of this program.\n"
    "      This version offers some additional functionality.\n";
const char kNewer[] = "WARNING: The settings file was saved with a newer version of this program.\n";
const char kRemoved[] =
    "WARNING: Unsupported setting found, most likely a setting that got removed.\n";
const char kLaterMissing[] =
    "WARNING: Missing setting for the Shortcut Menu.\n"
    "WARNING: Missing setting for the Mouse cursor.\n"
    "WARNING: Missing setting for the Information window.\n"
    "WARNING: Missing setting for the Item description.\n"
    "WARNING: Missing setting for the Loot window.\n";

class SettingsFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(program->InitSetupItems());
    for (SetupItemInfo& item : program->items) item.currentval = item.defaultval;
    SetPath(tmp_.Sub("vrd.cfg"));
  }

  void SetPath(const std::string& path) {
    path_ = path;
    std::snprintf(program->cfgfilename, sizeof program->cfgfilename, "%s", path.c_str());
  }
  void WriteFile(const std::string& bytes) { ziptest::WriteFileBytes(path_, bytes); }
  std::string ReadFile() { return ziptest::ReadFileBytes(path_); }
  // Runs body with stdout captured; line numbers and our path are masked.
  std::string Capture(const std::function<void()>& body) {
    testing::internal::CaptureStdout();
    body();
    std::string out = testing::internal::GetCapturedStdout();
    out = std::regex_replace(out, std::regex(R"(\[import_export:\d+\])"), "[import_export:N]");
    for (size_t at; (at = out.find(path_)) != std::string::npos;) out.replace(at, path_.size(), "{path}");
    return out;
  }
  // ImportFile, then CheckImportedSettings when the file was understood.
  bool Import(std::string* out) {
    bool ok = false;
    *out = Capture([&] { ok = program->ImportFile() && program->CheckImportedSettings(); });
    return ok;
  }

  std::unique_ptr<SkinCfgProgram> program = std::make_unique<SkinCfgProgram>();
  ziptest::ScopedTempDir tmp_;
  std::string path_;
};

TEST_F(SettingsFileTest, ExportWritesHeaderAndOneLinePerItemInTableOrder) {
  bool exists = true;
  ASSERT_TRUE(program->ExportFileExists(&exists));
  EXPECT_FALSE(exists);

  EXPECT_EQ(Capture([&] { EXPECT_TRUE(program->ExportFile()); }), "");
  const std::string expected =
      "# vrdskincfg (build 10) --- Skin configuration\n"
      "1,5;\n2,1;\n3,1;\n4,1;\n5,1;\n6,1;\n7,1;\n9,2;\n10,1;\n11,1;\n12,1;\n13,1;\n14,2;\n"
      "15,5;\n16,3;\n17,1;\n18,4;\n19,2;\n20,2;\n21,2;\n";
  EXPECT_EQ(ReadFile(), expected);
  EXPECT_EQ(expected.find('\n'), 46u);  // a 47-byte header

  ASSERT_TRUE(program->ExportFileExists(&exists));
  EXPECT_TRUE(exists);
}

TEST_F(SettingsFileTest, ExportThenImportSelectsEveryActiveAlternativeSilently) {
  std::vector<int> exported;
  for (size_t i = 0; i < std::size(program->items); ++i) {
    SetupItemInfo& item = program->items[i];
    item.currentval = static_cast<int>((i * 7 + 3) % item.numvalues);
    exported.push_back(item.currentval);
  }
  ASSERT_TRUE(program->ExportFile());
  for (SetupItemInfo& item : program->items) item.currentval = item.defaultval;

  std::string out;
  EXPECT_TRUE(Import(&out));
  EXPECT_EQ(out, "");
  EXPECT_EQ(program->cfgbuild, 10);
  for (size_t i = 0; i < std::size(program->items); ++i) {
    EXPECT_EQ(program->items[i].selectedval, exported[i]) << program->items[i].name;
  }
}

// The text may grow to exactly 256 characters; one more is refused and the
// file on disk is left alone.
TEST_F(SettingsFileTest, ExportTextIsLimitedTo256Characters) {
  // Defaults give 159 bytes; ten 10-digit ids add 90, one 8-digit id adds 7.
  for (int i = 0; i < 10; ++i) {
    SetupItemInfo& item = program->items[i];
    item.value[item.currentval].id = 1000000000;
  }
  SetupItemInfo& last = program->items[19];
  last.value[last.currentval].id = 10000000;
  ASSERT_TRUE(program->ExportFile());
  EXPECT_EQ(ReadFile().size(), 256u);
  std::string out;
  EXPECT_TRUE(Import(&out)) << out;

  last.value[last.currentval].id = 100000000;
  EXPECT_EQ(Capture([&] { EXPECT_FALSE(program->ExportFile()); }),
            "ERROR: [import_export:N] BuildSetupDataItem(): Buffer overflow\n");
  EXPECT_EQ(ReadFile().size(), 256u);
}

TEST_F(SettingsFileTest, ExportFailures) {
  for (int currentval : {-1, 4}) {
    WriteFile("old");
    program->items[3].currentval = currentval;  // "Inventory layout" has 4 alternatives
    EXPECT_EQ(Capture([&] { EXPECT_FALSE(program->ExportFile()); }),
              "ERROR: [import_export:N] BuildSetupDataItem(): Invalid item setting: "
              "Inventory layout\n");
    EXPECT_EQ(ReadFile(), "old");
  }

  SetPath(tmp_.Sub("missing/vrd.cfg"));
  program->items[3].currentval = 0;
  EXPECT_EQ(Capture([&] { EXPECT_FALSE(program->ExportFile()); }),
            "ERROR: Could not write file: {path}\n");

  SetPath(tmp_.Sub("vrd.cfg"));
  std::fill(std::begin(program->cfgdata), std::end(program->cfgdata), 'x');
  EXPECT_EQ(Capture([&] { EXPECT_FALSE(program->WriteExportFile()); }),
            "ERROR: [import_export:N] WriteExportFile(): Invalid buffer content\n");
}

struct ImportCase {
  const char* name;
  std::string content;
  bool ok;
  std::string output;
  int chat = kAnyChat;  // expected selectedval of "Chat" afterwards
  static const int kAnyChat = -2;
};

TEST_F(SettingsFileTest, ImportVerdicts) {
  std::string crlf = Header("10") + AllLines();
  for (size_t at = 0; (at = crlf.find('\n', at)) != std::string::npos; at += 2) crlf.insert(at, "\r");
  std::string full256 = Header("10") + AllLines();
  full256.insert(full256.size() - 1, std::string(256 - full256.size(), ' '));
  const std::string parseInvalid = "ERROR: [import_export:N] ParseImportFile(): Invalid file: {path}\n";

  const ImportCase cases[] = {
      {"complete file of any build", Header("3") + AllLines(), true, "", 0},
      {"older build, later items missing", Header("9") + Lines(1, 16), true,
       kLaterMissing + std::string(kOlder), 0},
      {"same build, later items missing", Header("10") + Lines(1, 16), false,
       kLaterMissing + std::string(kMismatch)},
      {"newer build, later items missing", Header("11") + Lines(1, 16), true,
       kLaterMissing + std::string(kNewer)},
      {"required item missing", Header("9") + AllLines(3), false,
       "WARNING: Missing setting for the Trade/give window.\n"
       "ERROR: The settings file is broken.\n"},
      {"first required item missing", Header("9") + AllLines(2), false,
       "WARNING: Missing setting for the Inventory slots.\n"
       "ERROR: The settings file is broken.\n"},
      {"last required item missing", Header("11") + AllLines(5), false,
       "WARNING: Missing setting for the Small Inventory layout.\n"
       "ERROR: The settings file is broken.\n"},
      {"first optional item missing", Header("9") + AllLines(6), true,
       "WARNING: Missing setting for the Container slots.\n" + std::string(kOlder)},
      {"removed item, same build", Header("10") + AllLines() + "8,1;\n", false,
       kRemoved + std::string(kMismatch)},
      {"removed item, older build", Header("9") + AllLines() + "8,1;\n", true,
       kRemoved + std::string(kOlder)},
      {"unknown alternative", Header("10") + "1,99;\n" + AllLines(1), false,
       "WARNING: Unsupported setting for the Chat.\n"
       "WARNING: Missing setting for the Chat.\n" +
           std::string(kMismatch),
       1},
      {"unknown alternative after a known one", Header("10") + "1,6;\n" + AllLines(1) + "1,99;\n",
       true, "", 1},
      {"later known alternative wins", Header("10") + AllLines() + "1,6;\n", true, "", 1},
      {"CRLF line ends", crlf, true, "", 0},
      {"loose white space and trailing text", Header("10") + " +1 ,\t5;comment\n" + AllLines(1),
       true, "", 0},
      {"last line without line feed", Header("10") + AllLines(21) + "21,2;", false,
       "WARNING: Missing setting for the Loot window.\n" + std::string(kMismatch)},
      {"256 bytes", full256, true, ""},
      {"257 bytes", full256 + "\n", false,
       "ERROR: [import_export:N] ReadImportFile(): Buffer overflow, file: {path}\n"},
      {"empty file", "", false, "ERROR: [import_export:N] ReadImportFile(): Invalid file: {path}\n"},
      {"no line feed at all", Header("10").substr(0, 46), false, parseInvalid},
      {"four-digit build", Header("1000") + AllLines(), false, parseInvalid},
      {"no build", Header("") + AllLines(), false, parseInvalid},
      {"space before the header", " " + Header("10") + AllLines(), false, parseInvalid},
      {"header not on line 1", "\n" + Header("10") + AllLines(), false, parseInvalid},
      {"build 0", Header("0") + AllLines(), false, parseInvalid},
      {"negative build", Header("-9") + AllLines(), false, parseInvalid},
      {"empty line after the header", Header("10") + "\n" + AllLines(), false,
       "ERROR: [import_export:N] ParseImportFile(): Delimiter not found in file: {path} at line:2\n"},
      {"no semicolon after the comma", Header("10") + "1,5;\n2;1,\n", false,
       "ERROR: [import_export:N] ParseImportFile(): Ending not found in file: {path} at line:3\n"},
      // Ids that a wrapping conversion would turn into 1 and 5.
      {"huge item id", Header("10") + AllLines() + "4294967297,5;\n", false,
       kRemoved + std::string(kMismatch)},
      {"huge value id", Header("10") + "1,4294967301;\n" + AllLines(1), false,
       "WARNING: Unsupported setting for the Chat.\n"
       "WARNING: Missing setting for the Chat.\n" +
           std::string(kMismatch)},
      {"endless digits", Header("9") + AllLines() + "-" + std::string(90, '9') + ",1;\n", true,
       kRemoved + std::string(kOlder)},
  };
  for (const ImportCase& c : cases) {
    SCOPED_TRACE(c.name);
    for (SetupItemInfo& item : program->items) item.selectedval = -1;
    program->items[0].currentval = 1;  // a missing Chat line must keep this, not the default
    WriteFile(c.content);
    std::string out;
    EXPECT_EQ(Import(&out), c.ok);
    EXPECT_EQ(out, c.output);
    if (c.chat != ImportCase::kAnyChat) {
      EXPECT_EQ(program->items[0].selectedval, c.chat);
    }
  }
}

TEST_F(SettingsFileTest, ImportOfAMissingFile) {
  std::string out;
  EXPECT_FALSE(Import(&out));
  EXPECT_EQ(out, "ERROR: File not found: {path}\n");
}

}  // namespace
