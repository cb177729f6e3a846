// The item table: registration of setup items and their alternatives, the
// skin's catalogue, and the check of the table against the open archive.
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "SkinCfgProgram.h"
#include "slotsizegroup.h"

static const char kUnit[] = "setup";

namespace {

// One alternative as the catalogue lists it; missing entries are nullptr,
// which the registration takes as empty.
struct ValueDef {
  int32_t id;
  const char* name;
  const char* file[VRDSKINCFG_MAXFILESPERITEM];
  int32_t variant;
  int32_t slotsize;
};

// One item as the catalogue lists it; defaultval is a position in values.
struct ItemDef {
  int32_t id;
  const char* name;
  const char* file[VRDSKINCFG_MAXFILESPERITEM];
  int32_t defaultval;
  const ValueDef* values;
  int32_t numvalues;
};

// Alternative ids are what settings files store, so they must never be
// renumbered, even where they look out of order.
const ValueDef kChat[] = {
    {5, "Vertical buttons", {"skinconfig/data/chat.xml.vertical.fontsize9"}, -1, -1},
    {6, "Horizontal buttons", {"skinconfig/data/chat.xml.horizontal.fontsize9"}, -1, -1},
};
const ValueDef kInventorySlots[] = {
    {1, "Small", {"skinconfig/data/money.xml.size42slot"}, -1, 42},
    {2, "Normal", {"skinconfig/data/money.xml.size48slot"}, -1, 48},
};
const ValueDef kTradeWindow[] = {
    {1,
     "42",
     {"skinconfig/data/exchange.xml.size42slot", "skinconfig/data/accepted_back.size42slot.png"},
     -1,
     42},
    {2,
     "48",
     {"skinconfig/data/exchange.xml.size48slot", "skinconfig/data/accepted_back.size48slot.png"},
     -1,
     48},
};
const ValueDef kInventoryLayout[] = {
    {1,
     "4-slot row",
     {"skinconfig/data/inventory.xml.size42slot.4slotrow",
      "skinconfig/data/inventory.4slotrow.jpg"},
     1,
     42},
    {2,
     "8-slot row",
     {"skinconfig/data/inventory.xml.size42slot.8slotrow",
      "skinconfig/data/inventory.8slotrow.jpg"},
     2,
     42},
    {4,
     "4-slot row",
     {"skinconfig/data/inventory.xml.size48slot.4slotrow",
      "skinconfig/data/inventory.4slotrow.jpg"},
     1,
     48},
    {5,
     "8-slot row",
     {"skinconfig/data/inventory.xml.size48slot.8slotrow",
      "skinconfig/data/inventory.8slotrow.jpg"},
     2,
     48},
};
const ValueDef kSmallInventoryLayout[] = {
    {1,
     "4-slot row",
     {"skinconfig/data/smallinventory.xml.size42slot.4slotrow",
      "skinconfig/data/smallinventoryv.size42slot.jpg",
      "skinconfig/data/smallinventoryh.size42slot.jpg"},
     1,
     42},
    {2,
     "8-slot row",
     {"skinconfig/data/smallinventory.xml.size42slot.8slotrow",
      "skinconfig/data/smallinventoryv.size42slot.jpg",
      "skinconfig/data/smallinventoryh.size42slot.jpg"},
     2,
     42},
    {3,
     "4-slot row",
     {"skinconfig/data/smallinventory.xml.size48slot.4slotrow",
      "skinconfig/data/smallinventoryv.size48slot.jpg",
      "skinconfig/data/smallinventoryh.size48slot.jpg"},
     1,
     48},
    {4,
     "8-slot row",
     {"skinconfig/data/smallinventory.xml.size48slot.8slotrow",
      "skinconfig/data/smallinventoryv.size48slot.jpg",
      "skinconfig/data/smallinventoryh.size48slot.jpg"},
     2,
     48},
};
// Slot sizes in these entry names are free choices, not tied to the
// inventory slot size, hence slotsize -1.
const ValueDef kContainerSlots[] = {
    {1, "Small, 6-slot row", {"skinconfig/data/containerdesc.xml.size42slot.6slotrow"}, -1, -1},
    {2, "Small, 4-slot row", {"skinconfig/data/containerdesc.xml.size42slot.4slotrow"}, -1, -1},
    {3, "Normal, 6-slot row", {"skinconfig/data/containerdesc.xml.size48slot.6slotrow"}, -1, -1},
    {4, "Normal, 4-slot row", {"skinconfig/data/containerdesc.xml.size48slot.4slotrow"}, -1, -1},
};
const ValueDef kGlyphSlots[] = {
    {1, "Small", {"skinconfig/data/glyph.xml.size42slot"}, -1, -1},
    {2, "Normal", {"skinconfig/data/glyph.xml.size48slot"}, -1, -1},
};
const ValueDef kInteractButtons[] = {
    {1, "Small", {"skinconfig/data/interact.xml.size48"}, -1, -1},
    {2, "Normal", {"skinconfig/data/interact.xml.size64"}, -1, -1},
};
const ValueDef kSpellBookGlyphs[] = {
    {1, "Small", {"skinconfig/data/spellwindow.xml.size16glyphs"}, -1, -1},
    {2, "Normal", {"skinconfig/data/spellwindow.xml.size24glyphs"}, -1, -1},
};
const ValueDef kCharDescSpell[] = {
    {1, "On", {"skinconfig/data/chardescwindow.xml.spellchecker.on"}, -1, -1},
    {2, "Off", {"skinconfig/data/chardescwindow.xml.spellchecker.off"}, -1, -1},
};
const ValueDef kGuildSpell[] = {
    {1, "On", {"skinconfig/data/guildwindow.xml.spellchecker.on"}, -1, -1},
    {2, "Off", {"skinconfig/data/guildwindow.xml.spellchecker.off"}, -1, -1},
};
const ValueDef kPetitionSpell[] = {
    {1, "On", {"skinconfig/data/petition.xml.spellchecker.on"}, -1, -1},
    {2, "Off", {"skinconfig/data/petition.xml.spellchecker.off"}, -1, -1},
};
const ValueDef kQuestSpell[] = {
    {1, "On", {"skinconfig/data/questnotebook.xml.spellchecker.on"}, -1, -1},
    {2, "Off", {"skinconfig/data/questnotebook.xml.spellchecker.off"}, -1, -1},
};
const ValueDef kStudyNotes[] = {
    {1, "Book font, normal", {"skinconfig/data/craft.xml.becker.fontsize12"}, -1, -1},
    {2, "Book font, small", {"skinconfig/data/craft.xml.becker.fontsize11"}, -1, -1},
    {3, "Book font, smaller", {"skinconfig/data/craft.xml.becker.fontsize10"}, -1, -1},
    {4, "Standard font, normal", {"skinconfig/data/craft.xml.liberationsans.fontsize9"}, -1, -1},
    {5, "Standard font, bigger", {"skinconfig/data/craft.xml.liberationsans.fontsize10"}, -1, -1},
};
// Alternatives sharing one bookwriting entry differ in their readbook entry.
const ValueDef kBooks[] = {
    {2,
     "Simple, always use Study notes",
     {"skinconfig/data/readbook.xml.study.auto", "skinconfig/data/bookwriting.xml"},
     -1,
     -1},
    {1,
     "Simple",
     {"skinconfig/data/readbook.xml.study.button", "skinconfig/data/bookwriting.xml"},
     -1,
     -1},
    {4,
     "Elves, always use Study notes",
     {"skinconfig/data/readbook.xml.elves.study.auto", "skinconfig/data/bookwriting.xml.elves"},
     -1,
     -1},
    {3,
     "Elves",
     {"skinconfig/data/readbook.xml.elves.study.button", "skinconfig/data/bookwriting.xml.elves"},
     -1,
     -1},
};
const ValueDef kShortcutMenu[] = {
    {1, "Standard with bars", {"skinconfig/data/shortcutwindow.xml.standard.bars"}, -1, -1},
    {10, "For narrow windows, no bars", {"skinconfig/data/shortcutwindow.xml.vertical"}, -1, -1},
    {11, "For wide windows, no bars", {"skinconfig/data/shortcutwindow.xml.horizontal"}, -1, -1},
};
const ValueDef kMouseCursor[] = {
    {4, "Standard hammer, orange", {"skinconfig/data/pointer_normal.png.hammer.orange"}, -1, -1},
    {2, "Hammer, red brown", {"skinconfig/data/pointer_normal.png.hammer.bloody"}, -1, -1},
    {3,
     "Hammer, dark red brown",
     {"skinconfig/data/pointer_normal.png.hammer.bloody.dark"},
     -1,
     -1},
    {1, "Yellow arrow", {"skinconfig/data/pointer_normal.png.base"}, -1, -1},
};
const ValueDef kInfoWindow[] = {
    {1, "Small", {"skinconfig/data/infowindow.xml.size23slot"}, -1, -1},
    {2, "Normal", {"skinconfig/data/infowindow.xml.size30slot"}, -1, -1},
};
const ValueDef kItemDesc[] = {
    {1, "Standard font", {"skinconfig/data/itemdesc.xml.fontsize9"}, -1, -1},
    {2, "Small font", {"skinconfig/data/itemdesc.xml.fontsize6"}, -1, -1},
};
const ValueDef kLootWindow[] = {
    {1, "Standard font", {"skinconfig/data/loot.xml.fontsize9"}, -1, -1},
    {2, "Small font", {"skinconfig/data/loot.xml.fontsize6"}, -1, -1},
};

#define VRD_VALUES(list) list, static_cast<int32_t>(std::size(list))

// Table order. Item id 8 belonged to a setting that was removed; settings
// files may still name it, so the id is never reused.
const ItemDef kCatalogue[] = {
    {1, "Chat", {"chat.xml"}, 0, VRD_VALUES(kChat)},
    {slotsizegroup::kSlots.id,
     slotsizegroup::kSlots.name,
     {"money.xml"},
     0,
     VRD_VALUES(kInventorySlots)},
    {slotsizegroup::kTradeWindow.id,
     slotsizegroup::kTradeWindow.name,
     {"exchange.xml", "gui/accepted_back.png"},
     0,
     VRD_VALUES(kTradeWindow)},
    {slotsizegroup::kLayouts[0].id,
     slotsizegroup::kLayouts[0].name,
     {"inventory.xml", "backdrop/inventory.jpg"},
     0,
     VRD_VALUES(kInventoryLayout)},
    {slotsizegroup::kLayouts[1].id,
     slotsizegroup::kLayouts[1].name,
     {"smallinventory.xml", "backdrop/smallinventoryv.jpg", "backdrop/smallinventoryh.jpg"},
     0,
     VRD_VALUES(kSmallInventoryLayout)},
    {6, "Container slots", {"containerdesc.xml"}, 0, VRD_VALUES(kContainerSlots)},
    {7, "Spell research glyph slots", {"glyph.xml"}, 0, VRD_VALUES(kGlyphSlots)},
    {9, "Interaction popup buttons", {"interact.xml"}, 1, VRD_VALUES(kInteractButtons)},
    {10, "Spell book glyphs", {"spellwindow.xml"}, 0, VRD_VALUES(kSpellBookGlyphs)},
    {11, "Character desc. spell checking", {"chardescwindow.xml"}, 0, VRD_VALUES(kCharDescSpell)},
    {12, "Guild MOTD spell checking", {"guildwindow.xml"}, 0, VRD_VALUES(kGuildSpell)},
    {13, "Petition spell checking", {"petition.xml"}, 0, VRD_VALUES(kPetitionSpell)},
    {14, "Quest notes spell checking", {"questnotebook.xml"}, 1, VRD_VALUES(kQuestSpell)},
    {15, "Study notes", {"craft.xml"}, 4, VRD_VALUES(kStudyNotes)},
    {16, "Books", {"readbook.xml", "bookwriting.xml"}, 3, VRD_VALUES(kBooks)},
    {17, "Shortcut Menu", {"shortcutwindow.xml"}, 0, VRD_VALUES(kShortcutMenu)},
    {18, "Mouse cursor", {"gui/pointer_normal.png"}, 0, VRD_VALUES(kMouseCursor)},
    {19, "Information window", {"infowindow.xml"}, 1, VRD_VALUES(kInfoWindow)},
    {20, "Item description", {"itemdesc.xml"}, 1, VRD_VALUES(kItemDesc)},
    {21, "Loot window", {"loot.xml"}, 1, VRD_VALUES(kLootWindow)},
};

#undef VRD_VALUES

static_assert(std::size(kCatalogue) == VRDSKINCFG_NUMITEMS, "the item table has a fixed size");

const char* OrEmpty(const char* text) { return text != nullptr ? text : ""; }

bool TooLong(const char* text) { return std::strlen(text) > VRDSKINCFG_MAXSTRINGLENGTH; }

void CopyEntryNames(char (&target)[VRDSKINCFG_MAXFILESPERITEM][VRDSKINCFG_MAXSTRINGLENGTH + 1],
                    const char* file1, const char* file2, const char* file3) {
  CopyText(target[0], file1);
  CopyText(target[1], file2);
  CopyText(target[2], file3);
  for (auto& name : target) ConvertPath(name);
}

}  // namespace

// NOLINTNEXTLINE(readability-non-const-parameter): the Windows build rewrites it
void ConvertPath(char* name) {
#ifdef VRD_PLATFORM_WINDOWS
  for (char* p = name; *p != '\0'; ++p) {
    if (*p == '/') *p = '\\';
  }
#else
  (void)name;
#endif
}

bool SkinCfgProgram::SetupItem(SetupItemInfo* item, int32_t id, const char* name, const char* file1,
                               const char* file2, const char* file3) {
  file1 = OrEmpty(file1);
  file2 = OrEmpty(file2);
  file3 = OrEmpty(file3);
  // A third entry behind an empty second one does not count.
  item->numfiles = 1;
  if (file2[0] != '\0') item->numfiles = file3[0] != '\0' ? 3 : 2;

  if (TooLong(name) || TooLong(file1) || TooLong(file2) || TooLong(file3)) {
    PrintError(kUnit, __LINE__, "SetupItem(): Increase VRDSKINCFG_MAXSTRINGLENGTH !\n");
    return false;
  }
  CopyText(item->name, name);
  CopyEntryNames(item->file, file1, file2, file3);
  item->defaultval = -1;
  item->currentval = -1;
  item->selectedval = -1;
  item->id = id;
  return true;
}

bool SkinCfgProgram::SetupItemValue(SetupItemInfo* item, int32_t index, int32_t id,
                                    const char* name, const char* file1, const char* file2,
                                    const char* file3) {
  file1 = OrEmpty(file1);
  file2 = OrEmpty(file2);
  file3 = OrEmpty(file3);
  // Both limits are checked before giving up, so one call can report both.
  bool ok = true;
  if (index < 0 || index >= VRDSKINCFG_MAXVALUESPERITEM) {
    PrintError(kUnit, __LINE__, "SetupItemValue(): Increase VRDSKINCFG_MAXVALUESPERITEM !\n");
    ok = false;
  }
  if (TooLong(name) || TooLong(file1) || TooLong(file2) || TooLong(file3)) {
    PrintError(kUnit, __LINE__, "SetupItemValue(): Increase VRDSKINCFG_MAXSTRINGLENGTH !\n");
    ok = false;
  }
  if (!ok) return false;

  SetupValueInfo* value = &item->value[index];
  CopyText(value->name, name);
  CopyEntryNames(value->file, file1, file2, file3);
  value->id = id;
  return true;
}

bool SkinCfgProgram::CheckSetupItem(const SetupItemInfo* item) {
  for (int32_t j = 0; j < item->numfiles; ++j) {
    if (!FileExists(item->file[j])) return false;
  }
  for (int32_t p = 0; p < item->numvalues; ++p) {
    for (int32_t j = 0; j < item->numfiles; ++j) {
      if (!FileExists(item->value[p].file[j])) return false;
    }
  }
  // Entries first: a missing entry is the user's problem, a missing default ours.
  if (item->defaultval == -1) {
    PrintError(kUnit, __LINE__, "CheckSetupItem(): no defaultval set for: %s\n", item->name);
    return false;
  }
  return true;
}

bool SkinCfgProgram::CheckSetupItems() {
  for (const SetupItemInfo& item : items) {
    if (!CheckSetupItem(&item)) return false;
  }
  return true;
}

bool SkinCfgProgram::InitSetupItems() {
  for (size_t i = 0; i < std::size(kCatalogue); ++i) {
    const ItemDef& def = kCatalogue[i];
    SetupItemInfo* item = &items[i];
    if (!SetupItem(item, def.id, def.name, def.file[0], def.file[1], def.file[2])) {
      return false;
    }
    for (int32_t p = 0; p < def.numvalues; ++p) {
      const ValueDef& v = def.values[p];
      if (!SetupItemValue(item, p, v.id, v.name, v.file[0], v.file[1], v.file[2])) {
        return false;
      }
      item->value[p].variant = v.variant;
      item->value[p].slotsize = v.slotsize;
    }
    item->defaultval = def.defaultval;
    item->numvalues = def.numvalues;
  }
  return true;
}

SetupItemInfo* SkinCfgProgram::FindItemById(int32_t id) {
  for (SetupItemInfo& item : items) {
    if (item.id == id) return &item;
  }
  return nullptr;
}

SetupItemInfo& SkinCfgProgram::ItemNamed(const char* name) {
  for (SetupItemInfo& item : items) {
    if (std::strcmp(item.name, name) == 0) return item;
  }
  // Callers name only items of the catalogue, after InitSetupItems: a miss
  // is a fault of this program, not of the skin or the user.
  std::abort();
}
