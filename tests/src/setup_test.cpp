// The item table: the catalogue checked against an independent copy, and the
// limits of the registration operations.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <iterator>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "../zipengine/test_util.h"
#include "SkinCfgProgram.h"

namespace {

struct Item { int id; const char* name; const char* file[3]; int defaultval; };
// One row per alternative, in its item's order; entries lie in skinconfig/data/.
struct Value { int item, id; const char* label; const char* file[3]; int variant = -1, slot = -1; };

const Item kItems[] = {
    {1, "Chat", {"chat.xml"}, 0},
    {2, "Inventory slots", {"money.xml"}, 0},
    {3, "Trade/give window", {"exchange.xml", "gui/accepted_back.png"}, 0},
    {4, "Inventory layout", {"inventory.xml", "backdrop/inventory.jpg"}, 0},
    {5, "Small Inventory layout",
     {"smallinventory.xml", "backdrop/smallinventoryv.jpg", "backdrop/smallinventoryh.jpg"}, 0},
    {6, "Container slots", {"containerdesc.xml"}, 0},
    {7, "Spell research glyph slots", {"glyph.xml"}, 0},
    {9, "Interaction popup buttons", {"interact.xml"}, 1},
    {10, "Spell book glyphs", {"spellwindow.xml"}, 0},
    {11, "Character desc. spell checking", {"chardescwindow.xml"}, 0},
    {12, "Guild MOTD spell checking", {"guildwindow.xml"}, 0},
    {13, "Petition spell checking", {"petition.xml"}, 0},
    {14, "Quest notes spell checking", {"questnotebook.xml"}, 1},
    {15, "Study notes", {"craft.xml"}, 4},
    {16, "Books", {"readbook.xml", "bookwriting.xml"}, 3},
    {17, "Shortcut Menu", {"shortcutwindow.xml"}, 0},
    {18, "Mouse cursor", {"gui/pointer_normal.png"}, 0},
    {19, "Information window", {"infowindow.xml"}, 1},
    {20, "Item description", {"itemdesc.xml"}, 1},
    {21, "Loot window", {"loot.xml"}, 1},
};

const Value kValues[] = {
    {1, 5, "Vertical buttons", {"chat.xml.vertical.fontsize9"}},
    {1, 6, "Horizontal buttons", {"chat.xml.horizontal.fontsize9"}},
    {2, 1, "Small", {"money.xml.size42slot"}, -1, 42},
    {2, 2, "Normal", {"money.xml.size48slot"}, -1, 48},
    {3, 1, "42", {"exchange.xml.size42slot", "accepted_back.size42slot.png"}, -1, 42},
    {3, 2, "48", {"exchange.xml.size48slot", "accepted_back.size48slot.png"}, -1, 48},
    {4, 1, "4-slot row", {"inventory.xml.size42slot.4slotrow", "inventory.4slotrow.jpg"}, 1, 42},
    {4, 2, "8-slot row", {"inventory.xml.size42slot.8slotrow", "inventory.8slotrow.jpg"}, 2, 42},
    {4, 4, "4-slot row", {"inventory.xml.size48slot.4slotrow", "inventory.4slotrow.jpg"}, 1, 48},
    {4, 5, "8-slot row", {"inventory.xml.size48slot.8slotrow", "inventory.8slotrow.jpg"}, 2, 48},
    {5, 1, "4-slot row", {"smallinventory.xml.size42slot.4slotrow", "smallinventoryv.size42slot.jpg",
                          "smallinventoryh.size42slot.jpg"}, 1, 42},
    {5, 2, "8-slot row", {"smallinventory.xml.size42slot.8slotrow", "smallinventoryv.size42slot.jpg",
                          "smallinventoryh.size42slot.jpg"}, 2, 42},
    {5, 3, "4-slot row", {"smallinventory.xml.size48slot.4slotrow", "smallinventoryv.size48slot.jpg",
                          "smallinventoryh.size48slot.jpg"}, 1, 48},
    {5, 4, "8-slot row", {"smallinventory.xml.size48slot.8slotrow", "smallinventoryv.size48slot.jpg",
                          "smallinventoryh.size48slot.jpg"}, 2, 48},
    {6, 1, "Small, 6-slot row", {"containerdesc.xml.size42slot.6slotrow"}},
    {6, 2, "Small, 4-slot row", {"containerdesc.xml.size42slot.4slotrow"}},
    {6, 3, "Normal, 6-slot row", {"containerdesc.xml.size48slot.6slotrow"}},
    {6, 4, "Normal, 4-slot row", {"containerdesc.xml.size48slot.4slotrow"}},
    {7, 1, "Small", {"glyph.xml.size42slot"}},
    {7, 2, "Normal", {"glyph.xml.size48slot"}},
    {9, 1, "Small", {"interact.xml.size48"}},
    {9, 2, "Normal", {"interact.xml.size64"}},
    {10, 1, "Small", {"spellwindow.xml.size16glyphs"}},
    {10, 2, "Normal", {"spellwindow.xml.size24glyphs"}},
    {11, 1, "On", {"chardescwindow.xml.spellchecker.on"}},
    {11, 2, "Off", {"chardescwindow.xml.spellchecker.off"}},
    {12, 1, "On", {"guildwindow.xml.spellchecker.on"}},
    {12, 2, "Off", {"guildwindow.xml.spellchecker.off"}},
    {13, 1, "On", {"petition.xml.spellchecker.on"}},
    {13, 2, "Off", {"petition.xml.spellchecker.off"}},
    {14, 1, "On", {"questnotebook.xml.spellchecker.on"}},
    {14, 2, "Off", {"questnotebook.xml.spellchecker.off"}},
    {15, 1, "Book font, normal", {"craft.xml.becker.fontsize12"}},
    {15, 2, "Book font, small", {"craft.xml.becker.fontsize11"}},
    {15, 3, "Book font, smaller", {"craft.xml.becker.fontsize10"}},
    {15, 4, "Standard font, normal", {"craft.xml.liberationsans.fontsize9"}},
    {15, 5, "Standard font, bigger", {"craft.xml.liberationsans.fontsize10"}},
    {16, 2, "Simple, always use Study notes", {"readbook.xml.study.auto", "bookwriting.xml"}},
    {16, 1, "Simple", {"readbook.xml.study.button", "bookwriting.xml"}},
    {16, 4, "Elves, always use Study notes",
     {"readbook.xml.elves.study.auto", "bookwriting.xml.elves"}},
    {16, 3, "Elves", {"readbook.xml.elves.study.button", "bookwriting.xml.elves"}},
    {17, 1, "Standard with bars", {"shortcutwindow.xml.standard.bars"}},
    {17, 10, "For narrow windows, no bars", {"shortcutwindow.xml.vertical"}},
    {17, 11, "For wide windows, no bars", {"shortcutwindow.xml.horizontal"}},
    {18, 4, "Standard hammer, orange", {"pointer_normal.png.hammer.orange"}},
    {18, 2, "Hammer, red brown", {"pointer_normal.png.hammer.bloody"}},
    {18, 3, "Hammer, dark red brown", {"pointer_normal.png.hammer.bloody.dark"}},
    {18, 1, "Yellow arrow", {"pointer_normal.png.base"}},
    {19, 1, "Small", {"infowindow.xml.size23slot"}},
    {19, 2, "Normal", {"infowindow.xml.size30slot"}},
    {20, 1, "Standard font", {"itemdesc.xml.fontsize9"}},
    {20, 2, "Small font", {"itemdesc.xml.fontsize6"}},
    {21, 1, "Standard font", {"loot.xml.fontsize9"}},
    {21, 2, "Small font", {"loot.xml.fontsize6"}},
};

std::string Entry(const char* prefix, const char* name) {
  return name != nullptr ? prefix + std::string(name) : "";
}

class SetupTest : public ::testing::Test {
 protected:
  // Output of body, with our own source lines masked.
  static std::string Output(const std::function<void()>& body) {
    testing::internal::CaptureStdout();
    body();
    return std::regex_replace(testing::internal::GetCapturedStdout(),
                              std::regex(R"(\[(setup|file):\d+\])"), "[$1:N]");
  }

  SkinCfgProgram program;
  SetupItemInfo item{};
};

TEST_F(SetupTest, CatalogueMatchesTheSkinLayout) {
  ASSERT_TRUE(program.InitSetupItems());
  ASSERT_EQ(std::size(kItems), static_cast<size_t>(VRDSKINCFG_NUMITEMS));
  ASSERT_EQ(std::size(kValues), 54u);
  const Value* want = std::begin(kValues);
  for (size_t i = 0; i < std::size(kItems); ++i) {
    const Item& expect = kItems[i];
    const SetupItemInfo& got = program.items[i];
    SCOPED_TRACE(expect.name);
    EXPECT_EQ(got.id, expect.id);
    EXPECT_STREQ(got.name, expect.name);
    EXPECT_EQ(got.defaultval, expect.defaultval);
    EXPECT_EQ(got.numfiles, 3 - std::count(expect.file, expect.file + 3, nullptr));
    for (int j = 0; j < 3; ++j) EXPECT_EQ(got.file[j], Entry("", expect.file[j]));
    int n = 0;
    for (; want != std::end(kValues) && want->item == got.id; ++want, ++n) {
      const SetupValueInfo& value = got.value[n];
      SCOPED_TRACE(want->label);
      EXPECT_EQ(value.id, want->id);
      EXPECT_STREQ(value.name, want->label);
      for (int j = 0; j < 3; ++j) EXPECT_EQ(value.file[j], Entry("skinconfig/data/", want->file[j]));
      EXPECT_EQ(value.variant, want->variant);
      EXPECT_EQ(value.slotsize, want->slot);
    }
    EXPECT_EQ(got.numvalues, n);
  }
  EXPECT_EQ(want, std::end(kValues)) << "alternatives of unknown items";
}

TEST_F(SetupTest, RegistrationLimits) {
  // A third entry behind an empty second one does not count.
  const struct { const char *file2, *file3; int numfiles; } counts[] = {
      {"", "c", 1}, {"b", "", 2}, {"b", "c", 3}};
  for (const auto& c : counts) {
    ASSERT_TRUE(program.SetupItem(&item, 7, "Item", "a", c.file2, c.file3));
    EXPECT_EQ(item.numfiles, c.numfiles) << c.file2 << "|" << c.file3;
  }

  // Each of the four texts may hold 80 characters, not 81.
  const std::string kItemLength =
      "ERROR: [setup:N] SetupItem(): Increase VRDSKINCFG_MAXSTRINGLENGTH !\n";
  const std::string kValueLength =
      "ERROR: [setup:N] SetupItemValue(): Increase VRDSKINCFG_MAXSTRINGLENGTH !\n";
  for (int field = 0; field < 4; ++field) {
    for (size_t length : {80, 81}) {
      const std::string text(length, 'x');
      std::vector<const char*> a = {"name", "file1", "file2", "file3"};
      a[field] = text.c_str();
      const bool fits = length == 80;
      EXPECT_EQ(Output([&] {
                  EXPECT_EQ(program.SetupItem(&item, 1, a[0], a[1], a[2], a[3]), fits);
                  EXPECT_EQ(program.SetupItemValue(&item, 0, 1, a[0], a[1], a[2], a[3]), fits);
                }),
                fits ? "" : kItemLength + kValueLength) << "field " << field << " length " << length;
      const char* stored = field ? item.value[0].file[field - 1] : item.value[0].name;
      EXPECT_EQ(stored == text, fits) << "field " << field;  // stored exactly when it fits
    }
  }

  // Position 9 is the last; one call reports both limits, in this order.
  const std::string kPosition =
      "ERROR: [setup:N] SetupItemValue(): Increase VRDSKINCFG_MAXVALUESPERITEM !\n";
  const std::string tooLong(81, 'x');
  const struct { int index; const char* name; std::string output; } positions[] = {
      {9, "Ninth", ""}, {10, "Tenth", kPosition}, {10, tooLong.c_str(), kPosition + kValueLength}};
  for (const auto& c : positions) {
    EXPECT_EQ(Output([&] {
                EXPECT_EQ(program.SetupItemValue(&item, c.index, 3, c.name, "f", "", ""),
                          c.output.empty());
              }),
              c.output) << c.index;
  }
  EXPECT_STREQ(item.value[9].name, "Ninth");
}

// Against a skin written by Python's zipfile, where item 5 lacks a live entry
// and item 18 an alternative.
TEST_F(SetupTest, CheckSetupItemsStopsAtTheFirstMissingEntry) {
  ziptest::ScopedTempDir tmp;
  const std::string zip = tmp.Sub("skin.zip");
  std::string made;
  ASSERT_EQ(ziptest::RunCommand({ziptest::Python(), ziptest::SourceDir() + "/tools/make_skin.py",
                                 "--missing", "backdrop/smallinventoryv.jpg", "--missing",
                                 "skinconfig/data/pointer_normal.png.base", zip}, &made), 0) << made;
  std::snprintf(program.zipfilename, sizeof program.zipfilename, "%s", zip.c_str());
  ASSERT_TRUE(program.OpenZip(true));
  const std::string kMissing =
      "ERROR: [file:N] FileExists(): file not found: backdrop/smallinventoryv.jpg\n";
  const std::pair<int, std::string> cases[] = {  // item index without default, output
      {-1, kMissing},
      {3, "ERROR: [setup:N] CheckSetupItem(): no defaultval set for: Inventory layout\n"},
      {4, kMissing}};  // entries go before the default
  for (const auto& [nodefault, output] : cases) {
    ASSERT_TRUE(program.InitSetupItems());
    if (nodefault >= 0) program.items[nodefault].defaultval = -1;
    EXPECT_EQ(Output([&] { EXPECT_FALSE(program.CheckSetupItems()); }), output) << nodefault;
  }
  program.CloseZip();
}

}  // namespace
