// The item table: the catalogue checked against an independent copy and
// against the manual page's table, and the limits of the registration
// operations.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>

#include "SkinCfgProgram.h"
#include "test_util.h"

namespace {

// Each item as "id name (default position): live entries", then its
// alternatives, indented: "id name: entries", and "| variant slot size" where
// either is set. "~/" stands for skinconfig/data/.
const char kCatalogue[] =
    "1 Chat (0): chat.xml\n"
    "  5 Vertical buttons: ~/chat.xml.vertical.fontsize9\n"
    "  6 Horizontal buttons: ~/chat.xml.horizontal.fontsize9\n"
    "2 Inventory slots (0): money.xml\n"
    "  1 Small: ~/money.xml.size42slot | -1 42\n"
    "  2 Normal: ~/money.xml.size48slot | -1 48\n"
    "3 Trade/give window (0): exchange.xml gui/accepted_back.png\n"
    "  1 42: ~/exchange.xml.size42slot ~/accepted_back.size42slot.png | -1 42\n"
    "  2 48: ~/exchange.xml.size48slot ~/accepted_back.size48slot.png | -1 48\n"
    "4 Inventory layout (0): inventory.xml backdrop/inventory.jpg\n"
    "  1 4-slot row: ~/inventory.xml.size42slot.4slotrow ~/inventory.4slotrow.jpg | 1 42\n"
    "  2 8-slot row: ~/inventory.xml.size42slot.8slotrow ~/inventory.8slotrow.jpg | 2 42\n"
    "  4 4-slot row: ~/inventory.xml.size48slot.4slotrow ~/inventory.4slotrow.jpg | 1 48\n"
    "  5 8-slot row: ~/inventory.xml.size48slot.8slotrow ~/inventory.8slotrow.jpg | 2 48\n"
    "5 Small Inventory layout (0): smallinventory.xml backdrop/smallinventoryv.jpg"
    " backdrop/smallinventoryh.jpg\n"
    "  1 4-slot row: ~/smallinventory.xml.size42slot.4slotrow ~/smallinventoryv.size42slot.jpg"
    " ~/smallinventoryh.size42slot.jpg | 1 42\n"
    "  2 8-slot row: ~/smallinventory.xml.size42slot.8slotrow ~/smallinventoryv.size42slot.jpg"
    " ~/smallinventoryh.size42slot.jpg | 2 42\n"
    "  3 4-slot row: ~/smallinventory.xml.size48slot.4slotrow ~/smallinventoryv.size48slot.jpg"
    " ~/smallinventoryh.size48slot.jpg | 1 48\n"
    "  4 8-slot row: ~/smallinventory.xml.size48slot.8slotrow ~/smallinventoryv.size48slot.jpg"
    " ~/smallinventoryh.size48slot.jpg | 2 48\n"
    "6 Container slots (0): containerdesc.xml\n"
    "  1 Small, 6-slot row: ~/containerdesc.xml.size42slot.6slotrow\n"
    "  2 Small, 4-slot row: ~/containerdesc.xml.size42slot.4slotrow\n"
    "  3 Normal, 6-slot row: ~/containerdesc.xml.size48slot.6slotrow\n"
    "  4 Normal, 4-slot row: ~/containerdesc.xml.size48slot.4slotrow\n"
    "7 Spell research glyph slots (0): glyph.xml\n"
    "  1 Small: ~/glyph.xml.size42slot\n"
    "  2 Normal: ~/glyph.xml.size48slot\n"
    "9 Interaction popup buttons (1): interact.xml\n"
    "  1 Small: ~/interact.xml.size48\n"
    "  2 Normal: ~/interact.xml.size64\n"
    "10 Spell book glyphs (0): spellwindow.xml\n"
    "  1 Small: ~/spellwindow.xml.size16glyphs\n"
    "  2 Normal: ~/spellwindow.xml.size24glyphs\n"
    "11 Character desc. spell checking (0): chardescwindow.xml\n"
    "  1 On: ~/chardescwindow.xml.spellchecker.on\n"
    "  2 Off: ~/chardescwindow.xml.spellchecker.off\n"
    "12 Guild MOTD spell checking (0): guildwindow.xml\n"
    "  1 On: ~/guildwindow.xml.spellchecker.on\n"
    "  2 Off: ~/guildwindow.xml.spellchecker.off\n"
    "13 Petition spell checking (0): petition.xml\n"
    "  1 On: ~/petition.xml.spellchecker.on\n"
    "  2 Off: ~/petition.xml.spellchecker.off\n"
    "14 Quest notes spell checking (1): questnotebook.xml\n"
    "  1 On: ~/questnotebook.xml.spellchecker.on\n"
    "  2 Off: ~/questnotebook.xml.spellchecker.off\n"
    "15 Study notes (4): craft.xml\n"
    "  1 Book font, normal: ~/craft.xml.becker.fontsize12\n"
    "  2 Book font, small: ~/craft.xml.becker.fontsize11\n"
    "  3 Book font, smaller: ~/craft.xml.becker.fontsize10\n"
    "  4 Standard font, normal: ~/craft.xml.liberationsans.fontsize9\n"
    "  5 Standard font, bigger: ~/craft.xml.liberationsans.fontsize10\n"
    "16 Books (3): readbook.xml bookwriting.xml\n"
    "  2 Simple, always use Study notes: ~/readbook.xml.study.auto ~/bookwriting.xml\n"
    "  1 Simple: ~/readbook.xml.study.button ~/bookwriting.xml\n"
    "  4 Elves, always use Study notes: ~/readbook.xml.elves.study.auto ~/bookwriting.xml.elves\n"
    "  3 Elves: ~/readbook.xml.elves.study.button ~/bookwriting.xml.elves\n"
    "17 Shortcut Menu (0): shortcutwindow.xml\n"
    "  1 Standard with bars: ~/shortcutwindow.xml.standard.bars\n"
    "  10 For narrow windows, no bars: ~/shortcutwindow.xml.vertical\n"
    "  11 For wide windows, no bars: ~/shortcutwindow.xml.horizontal\n"
    "18 Mouse cursor (0): gui/pointer_normal.png\n"
    "  4 Standard hammer, orange: ~/pointer_normal.png.hammer.orange\n"
    "  2 Hammer, red brown: ~/pointer_normal.png.hammer.bloody\n"
    "  3 Hammer, dark red brown: ~/pointer_normal.png.hammer.bloody.dark\n"
    "  1 Yellow arrow: ~/pointer_normal.png.base\n"
    "19 Information window (1): infowindow.xml\n"
    "  1 Small: ~/infowindow.xml.size23slot\n"
    "  2 Normal: ~/infowindow.xml.size30slot\n"
    "20 Item description (1): itemdesc.xml\n"
    "  1 Standard font: ~/itemdesc.xml.fontsize9\n"
    "  2 Small font: ~/itemdesc.xml.fontsize6\n"
    "21 Loot window (1): loot.xml\n"
    "  1 Standard font: ~/loot.xml.fontsize9\n"
    "  2 Small font: ~/loot.xml.fontsize6\n";

// The program's catalogue in that form; unused entries must be trailing and empty.
std::string Catalogue(const SkinCfgProgram& p) {
  auto entries = [](const char(*file)[VRDSKINCFG_MAXSTRINGLENGTH + 1]) {
    std::string s = std::string(file[0]) + " " + file[1] + " " + file[2];
    return s.erase(s.find_last_not_of(' ') + 1);
  };
  std::ostringstream out;
  for (const SetupItemInfo& item : p.items) {
    out << item.id << ' ' << item.name << " (" << item.defaultval << "): " << entries(item.file);
    for (const SetupValueInfo* v = item.value; v < item.value + item.numvalues; ++v) {
      out << "\n  " << v->id << ' ' << v->name << ": " << entries(v->file);
      if (v->variant != -1 || v->slotsize != -1) out << " | " << v->variant << ' ' << v->slotsize;
    }
    out << '\n';
  }
  return out.str();
}

class SetupTest : public ::testing::Test {
 protected:
  // Output of call, with our own source lines masked; call must return ok.
  static std::string Output(const std::function<bool()>& call, bool ok) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(call(), ok);
    return std::regex_replace(testing::internal::GetCapturedStdout(),
                              std::regex(R"(\[(setup|file):\d+\])"), "[$1:N]");
  }

  SkinCfgProgram program;
  SetupItemInfo item{};
};

TEST_F(SetupTest, CatalogueMatchesTheSkinLayout) {
  const std::string want = std::regex_replace(kCatalogue, std::regex("~/"), "skinconfig/data/");
  ASSERT_EQ(std::count(want.begin(), want.end(), '\n'), VRDSKINCFG_NUMITEMS + 54);
  ASSERT_TRUE(program.InitSetupItems());
  EXPECT_EQ(Catalogue(program), want);
}

// The settings-file table of doc/vrdskincfg.1 must not drift from the program:
// a row "item||\fBname\fR" per item, then "|alternative|label" per
// alternative, the default's label followed by " *".
TEST_F(SetupTest, ManualPageListsTheCatalogue) {
  std::ifstream page(ziptest::SourceDir() + "/doc/vrdskincfg.1");
  ASSERT_TRUE(page.good());
  const std::regex row(R"((\d*)\|(\d*)\|(.+))");
  std::string line, listed;
  while (std::getline(page, line)) {
    if (std::regex_match(line, row)) listed += line + "\n";
  }
  ASSERT_TRUE(program.InitSetupItems());
  std::ostringstream want;
  for (const SetupItemInfo& item : program.items) {
    want << item.id << "||\\fB" << item.name << "\\fR\n";
    for (int p = 0; p < item.numvalues; ++p) {
      want << '|' << item.value[p].id << '|' << item.value[p].name
           << (p == item.defaultval ? " *" : "") << '\n';
    }
  }
  EXPECT_EQ(listed, want.str());
}

TEST_F(SetupTest, RegistrationLimits) {
  // A third entry behind an empty second one does not count.
  const struct {
    const char *file2, *file3;
    int numfiles;
  } counts[] = {{"", "c", 1}, {"b", "", 2}, {"b", "c", 3}};
  for (const auto& c : counts) {
    ASSERT_TRUE(program.SetupItem(&item, 7, "Item", "a", c.file2, c.file3));
    EXPECT_EQ(item.numfiles, c.numfiles) << c.file2 << "|" << c.file3;
  }
  const std::string kItem = "ERROR: [setup:N] SetupItem";
  const std::string kLength = "(): Increase VRDSKINCFG_MAXSTRINGLENGTH !\n";
  const std::string kValueLength = kItem + "Value" + kLength;

  // Each of the four texts may hold 80 characters, not 81; it is stored only when it fits.
  const struct {
    size_t length;
    bool fits;
    std::string output;
  } lengths[] = {{80, true, ""}, {81, false, kItem + kLength + kValueLength}};
  const SetupValueInfo& value = item.value[0];
  const char* const stored[] = {value.name, value.file[0], value.file[1], value.file[2]};
  for (const auto& c : lengths) {
    for (int field = 0; field < 4; ++field) {
      const std::string text(c.length, 'x');
      std::vector<const char*> a = {"name", "file1", "file2", "file3"};
      a[field] = text.c_str();
      EXPECT_EQ(
          Output([&] { return program.SetupItem(&item, 1, a[0], a[1], a[2], a[3]); }, c.fits) +
              Output([&] { return program.SetupItemValue(&item, 0, 1, a[0], a[1], a[2], a[3]); },
                     c.fits),
          c.output)
          << field;
      EXPECT_EQ(stored[field] == text, c.fits) << field;
    }
  }

  // Position 9 is the last; one call reports both limits, in this order.
  const std::string kPosition = kItem + "Value(): Increase VRDSKINCFG_MAXVALUESPERITEM !\n";
  const std::string tooLong(81, 'x');
  const struct {
    int index;
    const char* name;
    std::string output;
  } positions[] = {
      {9, "Ninth", ""}, {10, "Tenth", kPosition}, {10, tooLong.c_str(), kPosition + kValueLength}};
  for (const auto& c : positions) {
    EXPECT_EQ(Output([&] { return program.SetupItemValue(&item, c.index, 3, c.name, "f", "", ""); },
                     c.output.empty()),
              c.output)
        << c.index;
  }
  EXPECT_STREQ(item.value[9].name, "Ninth");
}

// Item 5 lacks a live entry, item 18 an alternative; entries go before the default.
TEST_F(SetupTest, CheckSetupItemsStopsAtTheFirstMissingEntry) {
  ziptest::ScopedTempDir tmp;
  const std::string zip = tmp.Sub("skin.zip");
  std::string made;
  ASSERT_EQ(ziptest::RunCommand({ziptest::Python(), ziptest::SourceDir() + "/tools/make_skin.py",
                                 "--missing", "backdrop/smallinventoryv.jpg", "--missing",
                                 "skinconfig/data/pointer_normal.png.base", zip},
                                &made),
            0)
      << made;
  std::snprintf(program.zipfilename, sizeof program.zipfilename, "%s", zip.c_str());
  ASSERT_TRUE(program.OpenZip(true));
  const std::pair<int, std::string> cases[] = {
      // item index without default, output
      {3, "ERROR: [setup:N] CheckSetupItem(): no defaultval set for: Inventory layout\n"},
      {4, "ERROR: [file:N] FileExists(): file not found: backdrop/smallinventoryv.jpg\n"}};
  for (const auto& [nodefault, output] : cases) {
    ASSERT_TRUE(program.InitSetupItems());
    program.items[nodefault].defaultval = -1;
    EXPECT_EQ(Output([&] { return program.CheckSetupItems(); }, false), output) << nodefault;
  }
  program.CloseZip();
}

}  // namespace
