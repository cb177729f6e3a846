// The settings file's rules: what each text selects and tells the player,
// numbers of any length, and the export at its limits and through links.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <set>

#include "SkinCfgProgram.h"
#include "import_export.h"
#include "test_support.h"

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

const std::string kOwn = VRDSKINCFG_BUILD;
const std::string kOlder = std::to_string(VRDSKINCFG_BUILD_NUMBER - 1);
const std::string kNewer = std::to_string(VRDSKINCFG_BUILD_NUMBER + 1);

// Sets of items: none, Chat, Loot window, and the last five of the table.
const std::set<int> kNone, kChat = {1}, kLoot = {21}, kLate = {17, 18, 19, 20, 21};
const std::string kLateMissing =
    "WARNING: Missing setting for the Shortcut Menu.\n"
    "WARNING: Missing setting for the Mouse cursor.\n"
    "WARNING: Missing setting for the Information window.\n"
    "WARNING: Missing setting for the Item description.\n"
    "WARNING: Missing setting for the Loot window.\n";
const std::string kNoChat = "WARNING: Missing setting for the Chat.\n";
const std::string kNoLoot = "WARNING: Missing setting for the Loot window.\n";
const std::string kBadChat = "WARNING: Unsupported setting for the Chat.\n";
const std::string kRemoved =
    "WARNING: Unsupported setting found, most likely a setting that got removed.\n";
const std::string kOlderNote =
    "NOTE: The settings file was saved with an older version of this program.\n"
    "      This version offers some additional functionality.\n";
const std::string kNewerNote =
    "WARNING: The settings file was saved with a newer version of this program.\n";
const std::string kMismatch = "ERROR: The settings file version does not match its content.\n";
const std::string kInvalid = "Invalid file: ";

std::string Header(const std::string& build) {
  return "# vrdskincfg (build " + build + ") --- Skin configuration\n";
}

// The lines that select each item's last alternative, in table order, but
// none for the items in skip.
std::string Lines(const SkinCfgProgram& p, const std::set<int>& skip = {}) {
  std::string text;
  for (const SetupItemInfo& item : p.items) {
    if (skip.count(item.id) != 0) continue;
    text += std::to_string(item.id) + "," + std::to_string(item.value[item.numvalues - 1].id);
    text += ";\n";
  }
  return text;
}

// Each text as the import reads it: whether it is read, whether it is
// accepted, what the player sees, and which alternatives it selects (the
// last, but the active one for the items it leaves out).
TEST_F(SettingsFileTest, ImportReadsReconcilesAndTellsWhy) {
  enum Verdict { kUnread, kRefused, kAccepted };
  const std::string all = Lines(program), late = Lines(program, kLate);
  const std::string nochat = Lines(program, {1}), huge(90, '9');
  std::string crlf = Header(kOwn) + all;
  for (size_t at = 0; (at = crlf.find('\n', at)) != std::string::npos; at += 2)
    crlf.insert(at, "\r");
  const struct {
    const char* name;
    Verdict verdict;
    std::set<int> kept;  // items that keep their active alternative
    std::string text, output;
  } cases[] = {
      {"complete", kAccepted, kNone, Header(kOwn) + all, ""},
      {"older, items missing", kAccepted, kLate, Header(kOlder) + late, kLateMissing + kOlderNote},
      {"newer, items missing", kAccepted, kLate, Header(kNewer) + late, kLateMissing + kNewerNote},
      {"three-digit build", kAccepted, kLate, Header("999") + late, kLateMissing + kNewerNote},
      {"removed item, older", kAccepted, kNone, Header(kOlder) + all + "8,1;\n",
       kRemoved + kOlderNote},
      {"unknown alternative, older", kAccepted, kChat, Header(kOlder) + nochat + "1,99;\n",
       kBadChat + kNoChat + kOlderNote},
      // A known alternative stays, and a later unknown one goes unremarked.
      {"known, then unknown alternative", kAccepted, kNone, Header(kOlder) + all + "1,99;\n", ""},
      {"CRLF line ends", kAccepted, kNone, crlf, ""},
      // Text after the last line feed is no line.
      {"last line without line feed", kAccepted, kLoot,
       Header(kNewer) + all.substr(0, all.size() - 1), kNoLoot + kNewerNote},
      {"this build, items missing", kRefused, kNone, Header(kOwn) + late, kLateMissing + kMismatch},
      // Every gap is reported before the missing slot-size item ends the import.
      {"trade and loot window missing", kRefused, kNone, Header(kOlder) + Lines(program, {3, 21}),
       "WARNING: Missing setting for the Trade/give window.\n" + kNoLoot +
           "ERROR: The settings file is broken.\n"},
      {"removed item, this build", kRefused, kNone, Header(kOwn) + all + "8,1;\n",
       kRemoved + kMismatch},
      // Wrapping would read these ids as Chat's (item 1, value 6), or overflow.
      {"item 2^32+1", kRefused, kNone, Header(kOwn) + nochat + "4294967297,6;\n",
       kRemoved + kNoChat + kMismatch},
      {"item -9...9", kRefused, kNone, Header(kOwn) + nochat + "-" + huge + ",6;\n",
       kRemoved + kNoChat + kMismatch},
      {"value 2^32+6", kRefused, kNone, Header(kOwn) + nochat + "1,4294967302;\n",
       kBadChat + kNoChat + kMismatch},
      {"value -(2^32-6)", kRefused, kNone, Header(kOwn) + nochat + "1,-4294967290;\n",
       kBadChat + kNoChat + kMismatch},
      {"value 9...96", kRefused, kNone, Header(kOwn) + nochat + "1," + huge + "6;\n",
       kBadChat + kNoChat + kMismatch},
      {"no line feed", kUnread, kNone, Header(kOwn).substr(0, Header(kOwn).size() - 1), kInvalid},
      {"four-digit build", kUnread, kNone, Header("1000") + all, kInvalid},
      {"space before the header", kUnread, kNone, " " + Header(kOwn) + all, kInvalid},
      {"build 0", kUnread, kNone, Header("0") + all, kInvalid},
      {"build not a number", kUnread, kNone, Header("x") + all, kInvalid},
      {"empty line after the header", kUnread, kNone, Header(kOwn) + "\n" + all,
       "Delimiter not found in file: "},
      {"no ; at line 2", kUnread, kNone, Header(kOwn) + "1,5\n" + all,
       "Ending not found in file: "},
  };
  for (const auto& c : cases) {
    ASSERT_LT(c.text.size(), sizeof program.cfgdata) << c.name;
    std::memcpy(program.cfgdata, c.text.c_str(), c.text.size() + 1);
    bool accepted = false;
    const std::string output = srctest::Output(
        [&] {
          if (!program.ParseImportFile()) return false;
          accepted = program.CheckImportedSettings();
          return true;
        },
        c.verdict != kUnread);
    // Unread texts name the file, and, where a line is wrong, the line.
    std::string expected = c.output;
    if (c.verdict == kUnread) {
      expected = "ERROR: [import_export:N] ParseImportFile(): " + c.output + path +
                 (c.output == kInvalid ? "\n" : " at line:2\n");
    }
    EXPECT_EQ(output, expected) << c.name;
    EXPECT_EQ(accepted, c.verdict == kAccepted) << c.name;
    if (c.verdict != kAccepted) continue;
    for (const SetupItemInfo& item : program.items) {
      const int32_t want = c.kept.count(item.id) != 0 ? item.currentval : item.numvalues - 1;
      EXPECT_EQ(item.selectedval, want) << c.name << ": " << item.name;
    }
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
