// The item table: the catalogue as typed against an independent copy, and the
// limits of the registration operations.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "../zipengine/test_util.h"
#include "SkinCfgProgram.h"

namespace {

// Located errors carry our own source line, which tests must not pin.
std::string MaskLines(const std::string& text) {
  return std::regex_replace(text, std::regex(R"(\[(setup|file):\d+\])"), "[$1:N]");
}

std::string Native(std::string name) {
#ifdef VRD_PLATFORM_WINDOWS
  for (char& c : name) {
    if (c == '/') c = '\\';
  }
#endif
  return name;
}

struct ExpectedItem {
  int id;
  const char* name;
  const char* file[3];
  int numvalues;
  int defaultval;
};

struct ExpectedValue {
  int itemid;
  int pos;
  int id;
  const char* label;
  const char* file[3];
  int variant;
  int slotsize;
};

const ExpectedItem kItems[] = {
    {1, "Chat", {"chat.xml", "", ""}, 2, 0},
    {2, "Inventory slots", {"money.xml", "", ""}, 2, 0},
    {3, "Trade/give window", {"exchange.xml", "gui/accepted_back.png", ""}, 2, 0},
    {4, "Inventory layout", {"inventory.xml", "backdrop/inventory.jpg", ""}, 4, 0},
    {5, "Small Inventory layout", {"smallinventory.xml", "backdrop/smallinventoryv.jpg",
                                   "backdrop/smallinventoryh.jpg"}, 4, 0},
    {6, "Container slots", {"containerdesc.xml", "", ""}, 4, 0},
    {7, "Spell research glyph slots", {"glyph.xml", "", ""}, 2, 0},
    {9, "Interaction popup buttons", {"interact.xml", "", ""}, 2, 1},
    {10, "Spell book glyphs", {"spellwindow.xml", "", ""}, 2, 0},
    {11, "Character desc. spell checking", {"chardescwindow.xml", "", ""}, 2, 0},
    {12, "Guild MOTD spell checking", {"guildwindow.xml", "", ""}, 2, 0},
    {13, "Petition spell checking", {"petition.xml", "", ""}, 2, 0},
    {14, "Quest notes spell checking", {"questnotebook.xml", "", ""}, 2, 1},
    {15, "Study notes", {"craft.xml", "", ""}, 5, 4},
    {16, "Books", {"readbook.xml", "bookwriting.xml", ""}, 4, 3},
    {17, "Shortcut Menu", {"shortcutwindow.xml", "", ""}, 3, 0},
    {18, "Mouse cursor", {"gui/pointer_normal.png", "", ""}, 4, 0},
    {19, "Information window", {"infowindow.xml", "", ""}, 2, 1},
    {20, "Item description", {"itemdesc.xml", "", ""}, 2, 1},
    {21, "Loot window", {"loot.xml", "", ""}, 2, 1},
};

#define D "skinconfig/data/"
const ExpectedValue kValues[] = {
    {1, 0, 5, "Vertical buttons", {D "chat.xml.vertical.fontsize9"}, -1, -1},
    {1, 1, 6, "Horizontal buttons", {D "chat.xml.horizontal.fontsize9"}, -1, -1},
    {2, 0, 1, "Small", {D "money.xml.size42slot"}, -1, 42},
    {2, 1, 2, "Normal", {D "money.xml.size48slot"}, -1, 48},
    {3, 0, 1, "42", {D "exchange.xml.size42slot", D "accepted_back.size42slot.png"}, -1, 42},
    {3, 1, 2, "48", {D "exchange.xml.size48slot", D "accepted_back.size48slot.png"}, -1, 48},
    {4, 0, 1, "4-slot row", {D "inventory.xml.size42slot.4slotrow", D "inventory.4slotrow.jpg"}, 1, 42},
    {4, 1, 2, "8-slot row", {D "inventory.xml.size42slot.8slotrow", D "inventory.8slotrow.jpg"}, 2, 42},
    {4, 2, 4, "4-slot row", {D "inventory.xml.size48slot.4slotrow", D "inventory.4slotrow.jpg"}, 1, 48},
    {4, 3, 5, "8-slot row", {D "inventory.xml.size48slot.8slotrow", D "inventory.8slotrow.jpg"}, 2, 48},
    {5, 0, 1, "4-slot row", {D "smallinventory.xml.size42slot.4slotrow",
                             D "smallinventoryv.size42slot.jpg", D "smallinventoryh.size42slot.jpg"}, 1, 42},
    {5, 1, 2, "8-slot row", {D "smallinventory.xml.size42slot.8slotrow",
                             D "smallinventoryv.size42slot.jpg", D "smallinventoryh.size42slot.jpg"}, 2, 42},
    {5, 2, 3, "4-slot row", {D "smallinventory.xml.size48slot.4slotrow",
                             D "smallinventoryv.size48slot.jpg", D "smallinventoryh.size48slot.jpg"}, 1, 48},
    {5, 3, 4, "8-slot row", {D "smallinventory.xml.size48slot.8slotrow",
                             D "smallinventoryv.size48slot.jpg", D "smallinventoryh.size48slot.jpg"}, 2, 48},
    {6, 0, 1, "Small, 6-slot row", {D "containerdesc.xml.size42slot.6slotrow"}, -1, -1},
    {6, 1, 2, "Small, 4-slot row", {D "containerdesc.xml.size42slot.4slotrow"}, -1, -1},
    {6, 2, 3, "Normal, 6-slot row", {D "containerdesc.xml.size48slot.6slotrow"}, -1, -1},
    {6, 3, 4, "Normal, 4-slot row", {D "containerdesc.xml.size48slot.4slotrow"}, -1, -1},
    {7, 0, 1, "Small", {D "glyph.xml.size42slot"}, -1, -1},
    {7, 1, 2, "Normal", {D "glyph.xml.size48slot"}, -1, -1},
    {9, 0, 1, "Small", {D "interact.xml.size48"}, -1, -1},
    {9, 1, 2, "Normal", {D "interact.xml.size64"}, -1, -1},
    {10, 0, 1, "Small", {D "spellwindow.xml.size16glyphs"}, -1, -1},
    {10, 1, 2, "Normal", {D "spellwindow.xml.size24glyphs"}, -1, -1},
    {11, 0, 1, "On", {D "chardescwindow.xml.spellchecker.on"}, -1, -1},
    {11, 1, 2, "Off", {D "chardescwindow.xml.spellchecker.off"}, -1, -1},
    {12, 0, 1, "On", {D "guildwindow.xml.spellchecker.on"}, -1, -1},
    {12, 1, 2, "Off", {D "guildwindow.xml.spellchecker.off"}, -1, -1},
    {13, 0, 1, "On", {D "petition.xml.spellchecker.on"}, -1, -1},
    {13, 1, 2, "Off", {D "petition.xml.spellchecker.off"}, -1, -1},
    {14, 0, 1, "On", {D "questnotebook.xml.spellchecker.on"}, -1, -1},
    {14, 1, 2, "Off", {D "questnotebook.xml.spellchecker.off"}, -1, -1},
    {15, 0, 1, "Book font, normal", {D "craft.xml.becker.fontsize12"}, -1, -1},
    {15, 1, 2, "Book font, small", {D "craft.xml.becker.fontsize11"}, -1, -1},
    {15, 2, 3, "Book font, smaller", {D "craft.xml.becker.fontsize10"}, -1, -1},
    {15, 3, 4, "Standard font, normal", {D "craft.xml.liberationsans.fontsize9"}, -1, -1},
    {15, 4, 5, "Standard font, bigger", {D "craft.xml.liberationsans.fontsize10"}, -1, -1},
    {16, 0, 2, "Simple, always use Study notes", {D "readbook.xml.study.auto", D "bookwriting.xml"}, -1, -1},
    {16, 1, 1, "Simple", {D "readbook.xml.study.button", D "bookwriting.xml"}, -1, -1},
    {16, 2, 4, "Elves, always use Study notes",
     {D "readbook.xml.elves.study.auto", D "bookwriting.xml.elves"}, -1, -1},
    {16, 3, 3, "Elves", {D "readbook.xml.elves.study.button", D "bookwriting.xml.elves"}, -1, -1},
    {17, 0, 1, "Standard with bars", {D "shortcutwindow.xml.standard.bars"}, -1, -1},
    {17, 1, 10, "For narrow windows, no bars", {D "shortcutwindow.xml.vertical"}, -1, -1},
    {17, 2, 11, "For wide windows, no bars", {D "shortcutwindow.xml.horizontal"}, -1, -1},
    {18, 0, 4, "Standard hammer, orange", {D "pointer_normal.png.hammer.orange"}, -1, -1},
    {18, 1, 2, "Hammer, red brown", {D "pointer_normal.png.hammer.bloody"}, -1, -1},
    {18, 2, 3, "Hammer, dark red brown", {D "pointer_normal.png.hammer.bloody.dark"}, -1, -1},
    {18, 3, 1, "Yellow arrow", {D "pointer_normal.png.base"}, -1, -1},
    {19, 0, 1, "Small", {D "infowindow.xml.size23slot"}, -1, -1},
    {19, 1, 2, "Normal", {D "infowindow.xml.size30slot"}, -1, -1},
    {20, 0, 1, "Standard font", {D "itemdesc.xml.fontsize9"}, -1, -1},
    {20, 1, 2, "Small font", {D "itemdesc.xml.fontsize6"}, -1, -1},
    {21, 0, 1, "Standard font", {D "loot.xml.fontsize9"}, -1, -1},
    {21, 1, 2, "Small font", {D "loot.xml.fontsize6"}, -1, -1},
};
#undef D

class SetupTest : public ::testing::Test {
 protected:
  std::unique_ptr<SkinCfgProgram> program = std::make_unique<SkinCfgProgram>();
  SetupItemInfo item{};
};

TEST_F(SetupTest, CatalogueMatchesTheSkinLayout) {
  ASSERT_TRUE(program->InitSetupItems());
  ASSERT_EQ(std::size(kItems), static_cast<size_t>(VRDSKINCFG_NUMITEMS));
  int alternatives = 0;
  for (size_t i = 0; i < std::size(kItems); ++i) {
    const ExpectedItem& want = kItems[i];
    const SetupItemInfo& got = program->items[i];
    SCOPED_TRACE(want.name);
    EXPECT_EQ(got.id, want.id);
    EXPECT_STREQ(got.name, want.name);
    EXPECT_EQ(program->FindItemByName(want.name), &got);
    int numfiles = 0;
    for (int j = 0; j < 3; ++j) {
      EXPECT_EQ(got.file[j], Native(want.file[j]));
      if (want.file[j][0] != '\0') ++numfiles;
    }
    EXPECT_EQ(got.numfiles, numfiles);
    EXPECT_EQ(got.numvalues, want.numvalues);
    EXPECT_EQ(got.defaultval, want.defaultval);
    EXPECT_EQ(got.currentval, -1);
    EXPECT_EQ(got.selectedval, -1);
    alternatives += got.numvalues;
  }
  EXPECT_EQ(alternatives, 54);
  ASSERT_EQ(std::size(kValues), 54u);

  for (const ExpectedValue& want : kValues) {
    SCOPED_TRACE(std::to_string(want.itemid) + "/" + std::to_string(want.pos));
    const SetupItemInfo* item = nullptr;
    for (const SetupItemInfo& candidate : program->items) {
      if (candidate.id == want.itemid) item = &candidate;
    }
    ASSERT_NE(item, nullptr);
    const SetupValueInfo& got = item->value[want.pos];
    EXPECT_EQ(got.id, want.id);
    EXPECT_STREQ(got.name, want.label);
    for (int j = 0; j < 3; ++j) {
      EXPECT_EQ(got.file[j], Native(want.file[j] ? want.file[j] : ""));
    }
    EXPECT_EQ(got.variant, want.variant);
    EXPECT_EQ(got.slotsize, want.slotsize);
  }
  EXPECT_EQ(program->FindItemByName("Trade window"), nullptr);
}

TEST_F(SetupTest, SetupItemCountsEntriesUpToTheFirstEmptyOne) {
  const struct {
    const char* file2;
    const char* file3;
    int numfiles;
  } cases[] = {{"", "", 1}, {"", "c", 1}, {"b", "", 2}, {"b", "c", 3}};
  for (const auto& c : cases) {
    ASSERT_TRUE(program->SetupItem(&item, 7, "Item", "a", c.file2, c.file3));
    EXPECT_EQ(item.numfiles, c.numfiles) << c.file2 << "|" << c.file3;
    EXPECT_STREQ(item.file[2], c.file3);
    EXPECT_EQ(item.defaultval, -1);
  }
}

// Texts may be 80 characters; each of the four is checked on its own.
TEST_F(SetupTest, RegistrationRefusesTextsOver80Characters) {
  const std::string ok(80, 'x');
  const std::string tooLong(81, 'x');
  for (int field = 0; field < 4; ++field) {
    for (const std::string* text : {&ok, &tooLong}) {
      const char* args[4] = {"name", "file1", "file2", "file3"};
      args[field] = text->c_str();
      const bool expected = text == &ok;
      SCOPED_TRACE("field " + std::to_string(field) + " length " + std::to_string(text->size()));

      testing::internal::CaptureStdout();
      EXPECT_EQ(program->SetupItem(&item, 1, args[0], args[1], args[2], args[3]), expected);
      EXPECT_EQ(program->SetupItemValue(&item, 0, 1, args[0], args[1], args[2], args[3]), expected);
      const std::string out = MaskLines(testing::internal::GetCapturedStdout());
      EXPECT_EQ(out, expected ? ""
                              : "ERROR: [setup:N] SetupItem(): Increase VRDSKINCFG_MAXSTRINGLENGTH !\n"
                                "ERROR: [setup:N] SetupItemValue(): Increase VRDSKINCFG_MAXSTRINGLENGTH !\n");
      if (expected) {
        EXPECT_EQ(field == 0 ? item.value[0].name : item.value[0].file[field - 1], *text);
      }
    }
  }
}

TEST_F(SetupTest, SetupItemValueRefusesPosition10AndReportsBothLimits) {
  const std::string tooLong(81, 'x');
  const struct {
    int index;
    const char* name;
    bool ok;
    const char* output;
  } cases[] = {
      {9, "Ninth", true, ""},
      {10, "Tenth", false,
       "ERROR: [setup:N] SetupItemValue(): Increase VRDSKINCFG_MAXVALUESPERITEM !\n"},
      {10, tooLong.c_str(), false,
       "ERROR: [setup:N] SetupItemValue(): Increase VRDSKINCFG_MAXVALUESPERITEM !\n"
       "ERROR: [setup:N] SetupItemValue(): Increase VRDSKINCFG_MAXSTRINGLENGTH !\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.index);
    testing::internal::CaptureStdout();
    EXPECT_EQ(program->SetupItemValue(&item, c.index, 3, c.name, "f", "", ""), c.ok);
    EXPECT_EQ(MaskLines(testing::internal::GetCapturedStdout()), c.output);
  }
  EXPECT_STREQ(item.value[9].name, "Ninth");
  EXPECT_EQ(item.value[9].id, 3);
}

// The check runs against skins written by Python's zipfile, complete or with
// entries left out.
TEST_F(SetupTest, CheckSetupItemsStopsAtTheFirstMissingEntryOrDefault) {
  const struct {
    const char* name;
    std::vector<std::string> missing;
    int nodefault;  // item index whose default is cleared, or -1
    bool ok;
    const char* output;
  } cases[] = {
      {"complete skin", {}, -1, true, ""},
      // The second live entry fails before any alternative, and the later
      // item's missing alternative is never looked at.
      {"second live entry missing",
       {"backdrop/smallinventoryv.jpg", "skinconfig/data/pointer_normal.png.base"}, -1, false,
       "ERROR: [file:N] FileExists(): file not found: backdrop/smallinventoryv.jpg\n"},
      {"last alternative missing", {"skinconfig/data/pointer_normal.png.base"}, -1, false,
       "ERROR: [file:N] FileExists(): file not found: skinconfig/data/pointer_normal.png.base\n"},
      {"no default", {}, 5, false,
       "ERROR: [setup:N] CheckSetupItem(): no defaultval set for: Container slots\n"},
      {"no default and an entry missing",
       {"skinconfig/data/containerdesc.xml.size48slot.4slotrow"}, 5, false,
       "ERROR: [file:N] FileExists(): file not found: "
       "skinconfig/data/containerdesc.xml.size48slot.4slotrow\n"},
  };
  ziptest::ScopedTempDir tmp;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string zip = tmp.Sub(std::string(c.name) + ".zip");
    std::vector<std::string> argv = {ziptest::Python(), ziptest::SourceDir() + "/tools/make_skin.py"};
    for (const std::string& entry : c.missing) {
      argv.push_back("--missing");
      argv.push_back(entry);
    }
    argv.push_back(zip);
    std::string made;
    ASSERT_EQ(ziptest::RunCommand(argv, &made), 0) << made;

    program = std::make_unique<SkinCfgProgram>();
    std::snprintf(program->zipfilename, sizeof program->zipfilename, "%s", zip.c_str());
    ASSERT_TRUE(program->OpenZip(true));
    ASSERT_TRUE(program->InitSetupItems());
    if (c.nodefault >= 0) program->items[c.nodefault].defaultval = -1;
    testing::internal::CaptureStdout();
    EXPECT_EQ(program->CheckSetupItems(), c.ok);
    EXPECT_EQ(MaskLines(testing::internal::GetCapturedStdout()), c.output);
    program->CloseZip();
  }
}

}  // namespace
