// The program object's run sequence, command line, main menu, version check,
// active-state detection, and the choice dialogue, listing and applying.
#include <argtable2.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string_view>

#include "SkinCfgProgram.h"
#include "slotsizegroup.h"

static const char kUnit[] = "vrdskincfg";

namespace {

constexpr const char* kDisplayOrder[] = {"Chat",
                                         "Character desc. spell checking",
                                         "Quest notes spell checking",
                                         "Guild MOTD spell checking",
                                         "Petition spell checking",
                                         "Study notes",
                                         "Books",
                                         "Interaction popup buttons",
                                         "Inventory slots",
                                         "Inventory layout",
                                         "Small Inventory layout",
                                         "Container slots",
                                         "Spell book glyphs",
                                         "Spell research glyph slots",
                                         "Shortcut Menu",
                                         "Mouse cursor",
                                         "Information window",
                                         "Item description",
                                         "Loot window"};
constexpr int kDisplayCount = static_cast<int>(std::size(kDisplayOrder));

constexpr int DisplayPosition(const char* name) {
  for (int i = 0; i < kDisplayCount; ++i) {
    if (std::string_view(kDisplayOrder[i]) == name) return i;
  }
  return -1;
}

// The dialogue asks up to the slot size, then the layouts of the chosen
// size, then the rest.
constexpr int kSlotsEnd = DisplayPosition(slotsizegroup::kSlots.name) + 1;
constexpr int kLayoutCount = static_cast<int>(std::size(slotsizegroup::kLayouts));
constexpr int kFirstAfterSlots = kSlotsEnd + kLayoutCount;
static_assert(kSlotsEnd > 0, "the slot size is asked");
constexpr bool LayoutsFollowTheSlotSize() {
  for (int i = 0; i < kLayoutCount; ++i) {
    if (DisplayPosition(slotsizegroup::kLayouts[i].name) != kSlotsEnd + i) return false;
  }
  return true;
}
static_assert(LayoutsFollowTheSlotSize(), "the layouts follow the slot size, in the group's order");
static_assert(DisplayPosition(slotsizegroup::kTradeWindow.name) < 0,
              "the trade window is never asked or listed");

const int kNameColumns = 35;  // listing: labels start in column 36
const size_t kMaxArgLength = VRDSKINCFG_MAXPATH - 1;

}  // namespace

SkinCfgProgram::SkinCfgProgram() {
  progname = VRD_PROGNAME;
  zipfilename[0] = '\0';
  cfgfilename[0] = '\0';
  importmode = false;
  CopyText(verfilename, VRDSKINCFG_VERFILE);
  ConvertPath(verfilename);
  waitonexit = true;
  cfgdata[0] = '\0';
  cfgbuild = 0;
  cfgunsupported = false;
  inputended = false;
  memset(items, 0, sizeof items);
}

// ---------------------------------------------------------------- run sequence

bool SkinCfgProgram::SkinCfg(int argc, char** argv) {
  bool helpprinted = false;
  if (!ParseArgs(argc, argv, &helpprinted)) return false;
  if (helpprinted) {
    waitonexit = false;
    return true;
  }
  PrintMessage("%s (build %s)\n", progname, VRDSKINCFG_BUILD);
  if (zipfilename[0] != '\0') {
    PrintMessage("Skin file: %s\n", zipfilename);
  } else {
    CopyText(zipfilename, VRDSKINCFG_DEFAULTZIP);
  }
  if (cfgfilename[0] == '\0') {
    // The archive name ends in ".zip" (checked by ParseArgs, or the default).
    size_t len = strlen(zipfilename);
    snprintf(cfgfilename, sizeof cfgfilename, "%.*s%s", static_cast<int>(len - 4), zipfilename,
             VRDSKINCFG_CFGEXT);
  }
  if (!OpenZip(true)) return false;
  bool match = false;
  if (!CheckVersion(&match)) return false;
  if (!match) {
    PrintMessage("ERROR: Wrong version, please use the program included in the %s file.\n",
                 zipfilename);
    return false;
  }
  if (!InitSetupItems()) return false;
  if (!CheckSetupItems()) return false;
  if (importmode) return RunImport();
  return MainMenu();
}

// Closes the read-only archive, reopens it writable, writes the setup and
// commits it; only a committed change counts as applied. A result the
// archive cannot hold is refused before anything is written.
bool SkinCfgProgram::ApplyAndCommit(bool defaults) {
  if (!CheckCopiesFit(PlannedCopies(defaults))) return false;
  if (!CloseZip()) return false;
  if (!OpenZip(false)) return false;
  if (!ApplyValues(defaults)) return false;
  return CloseZip();
}

// The tail of the commands that change the skin: ask, then apply and commit.
bool SkinCfgProgram::ConfirmAndApply(const char* question, bool defaults, const char* success) {
  bool yes = false;
  if (!AskYesNo(question, &yes)) return false;
  if (!yes) {
    PrintMessage("No changes made.\n");
    return true;
  }
  if (!ApplyAndCommit(defaults)) return false;
  PrintMessage("%s", success);
  return true;
}

// Reads the settings file into the selections and lists what applying them
// would set. The unattended import sets its heading off with an empty line.
bool SkinCfgProgram::PrepareImport(bool unattended) {
  if (unattended) PrintMessage("\n");
  PrintMessage("Importing settings from file: %s\n", cfgfilename);
  if (!GetCurrentValues()) return false;
  if (!ImportFile()) return false;
  if (!CheckImportedSettings()) return false;
  PrintMessage("\n");
  ShowSetup(false);
  PrintMessage("\n");
  return true;
}

bool SkinCfgProgram::RunImport() {
  if (!PrepareImport(true)) return false;
  if (!ApplyAndCommit(false)) return false;
  PrintMessage("Successfully applied.\n");
  return true;
}

// ---------------------------------------------------------------- command line

bool SkinCfgProgram::ParseArgs(int argc, char** argv, bool* helpprinted) {
  *helpprinted = false;
  struct arg_file* skin = arg_file0(nullptr, "skin", "<file>", "skin zip-archive file");
  struct arg_file* ie = arg_file0(nullptr, "ie", "<file>", "import/export file");
  struct arg_lit* import = arg_lit0(nullptr, "import", "import setup, apply and exit");
  struct arg_lit* nowait = arg_lit0(nullptr, "nowait", "don't wait for a keypress on exit");
  struct arg_lit* help = arg_lit0(nullptr, "help", "print this help and exit");
  struct arg_end* end = arg_end(20);
  void* argtable[] = {skin, ie, import, nowait, help, end};
  // Frees the table on every way out; the values are copied out before.
  struct FreeTable {
    void** table;
    size_t size;
    ~FreeTable() { arg_freetable(table, size); }
  } owner{argtable, std::size(argtable)};

  if (arg_nullcheck(argtable) != 0) {
    PrintMessage("%s: insufficient memory\n", progname);
    return false;
  }
  int nerrors = arg_parse(argc, argv, argtable);
  bool wanthelp = help->count > 0;
#ifdef VRD_PLATFORM_WINDOWS
  if (argc > 1 && strcmp(argv[1], "/?") == 0) wanthelp = true;
#endif
  if (wanthelp) {
    PrintMessage("Usage: %s", progname);
    fflush(stdout);
    arg_print_syntax(stdout, argtable, "\n");
    arg_print_glossary(stdout, argtable, "  %-20s %s\n");
    *helpprinted = true;
    return true;
  }
  if (nerrors > 0) {
    fflush(stdout);
    arg_print_errors(stdout, end, progname);
    PrintMessage("Try '%s --help' for more information.\n", progname);
    return false;
  }
  if (nowait->count > 0) waitonexit = false;
  if (import->count > 0) importmode = true;
  // Paths hold 255 characters; a longer value is refused, never cut.
  const char* values[2] = {skin->count > 0 ? skin->filename[0] : nullptr,
                           ie->count > 0 ? ie->filename[0] : nullptr};
  for (const char* value : values) {
    if (value != nullptr && strlen(value) > kMaxArgLength) {
      PrintMessage("ERROR: Filename too long (max. 255 characters): '%s'.\n", value);
      return false;
    }
  }
  if (values[0] != nullptr) CopyText(zipfilename, values[0]);
  if (values[1] != nullptr) CopyText(cfgfilename, values[1]);
  return CheckZipFileName();
}

bool SkinCfgProgram::CheckZipFileName() {
  if (zipfilename[0] == '\0') return true;
  char lower[VRDSKINCFG_MAXPATH];
  size_t len = strlen(zipfilename);
  for (size_t i = 0; i <= len; ++i) {
    lower[i] = static_cast<char>(tolower(static_cast<unsigned char>(zipfilename[i])));
  }
  bool ok = len > 4 && strcmp(lower + len - 4, ".zip") == 0 && lower[len - 5] != ' ' &&
            lower[len - 5] != '/' && lower[len - 5] != '\\';
  if (!ok) {
    PrintMessage("ERROR: Invalid zip-archive filename: '%s'.\n", zipfilename);
    return false;
  }
  return true;
}

// ---------------------------------------------------------------- main menu

bool SkinCfgProgram::MainMenu() {
  PrintMessage("  1. Setup\n");
  PrintMessage("  2. Show aktive setup\n");
  PrintMessage("  3. Reset to default setup\n");
  PrintMessage("  4. Import setup\n");
  PrintMessage("  5. Export aktive setup\n");
  PrintMessage("  6. Exit\n");
  int command = 0;
  if (!AskQuestion("Enter a number and press RETURN: ", 1, 6, false, false, &command)) {
    return false;
  }
  PrintMessage("\n");
  switch (command) {
    case 1:
      return MenuSetup();
    case 2:
      return MenuShow();
    case 3:
      return MenuReset();
    case 4:
      return MenuImport();
    case 5:
      return MenuExport();
    default:
      PrintMessage("Terminated.\n");
      return true;
  }
}

bool SkinCfgProgram::MenuSetup() {
  if (!GetCurrentValues()) return false;
  if (!SelectSetup()) return false;
  return ConfirmAndApply("Apply settings, [y]es [n]o ? ", false, "Successfully applied.\n");
}

bool SkinCfgProgram::MenuShow() {
  if (!GetCurrentValues()) return false;
  ShowSetup(true);
  return true;
}

bool SkinCfgProgram::MenuReset() {
  return ConfirmAndApply("Reset to default setup, [y]es [n]o ? ", true,
                         "Reset successfully done.\n");
}

bool SkinCfgProgram::MenuImport() {
  if (!PrepareImport(false)) return false;
  return ConfirmAndApply("Apply these settings, [y]es [n]o ? ", false, "Successfully applied.\n");
}

bool SkinCfgProgram::MenuExport() {
  if (!GetCurrentValues()) return false;
  ShowSetup(true);
  PrintMessage("\n");
  char question[384];
  snprintf(question, sizeof question, "Export this setup to file: %s, [y]es [n]o ? ", cfgfilename);
  bool yes = false;
  if (!AskYesNo(question, &yes)) return false;
  if (!yes) {
    PrintMessage("Cancelled.\n");
    return true;
  }
  bool exists = false;
  if (!ExportFileExists(&exists)) return false;
  if (exists) {
    if (!AskYesNo("Overwrite existing, [y]es [n]o ? ", &yes)) return false;
    if (!yes) {
      PrintMessage("Cancelled.\n");
      return true;
    }
  }
  if (!ExportFile()) return false;
  PrintMessage("File successfully written.\n");
  return true;
}

// ---------------------------------------------------------------- version check

bool SkinCfgProgram::CheckVersion(bool* match) {
  *match = false;
  const char* version = nullptr;
  if (!ReadVersionFile(&version)) return false;
  char text[16];
  CopyText(text, version);
  text[strcspn(text, "\n\r")] = '\0';
  for (const char* p = text; *p; ++p) {
    unsigned char c = static_cast<unsigned char>(*p);
    if (c < '0' || c > '9') {
      PrintError(kUnit, __LINE__, "CheckVersion(): Invalid version file\n");
      return false;
    }
  }
  // At most 15 digits: the value fits, whatever the entry holds.
  long long number = strtoll(text, nullptr, 10);
  if (number == 0) {
    PrintError(kUnit, __LINE__, "CheckVersion(): Invalid version file\n");
    return false;
  }
  *match = (number == VRDSKINCFG_BUILD_NUMBER);
  return true;
}

// ---------------------------------------------------------------- detection

bool SkinCfgProgram::GetCurrentValue(SetupItemInfo* item) {
  for (int32_t i = 0; i < item->numvalues; ++i) {
    bool matches = true;
    for (int32_t j = 0; j < item->numfiles; ++j) {
      bool equal = false;
      if (!CompareFiles(item->file[j], item->value[i].file[j], &equal)) return false;
      matches = matches && equal;  // every entry is compared, even after a difference
    }
    if (matches) {
      item->currentval = i;
      return true;
    }
  }
  PrintError(kUnit, __LINE__, "GetCurrentValue(): Failed to get the current setting of %s\n",
             item->name);
  return false;
}

bool SkinCfgProgram::GetCurrentValues() {
  for (SetupItemInfo& item : items) {
    if (!GetCurrentValue(&item)) return false;
  }
  return true;
}

namespace {

// First position of the slot size with the given variant, or -1.
int32_t FindCounterpart(const SetupItemInfo* item, int32_t slotsize, int32_t variant) {
  for (int32_t i = 0; i < item->numvalues; ++i) {
    if (item->value[i].slotsize == slotsize && item->value[i].variant == variant) return i;
  }
  return -1;
}

}  // namespace

// The current value, then the default, each moved to the value of its
// variant for the slot size.
bool SkinCfgProgram::HackActiveDefault(SetupItemInfo* item, int32_t slotsize) {
  const struct {
    int32_t* value;
    const char* name;
  } values[] = {{&item->currentval, "currentval"}, {&item->defaultval, "defaultval"}};
  for (const auto& v : values) {
    if (*v.value < 0 || *v.value >= item->numvalues) {
      PrintError(kUnit, __LINE__, "HackActiveDefault(): Invalid %s for item: %s\n", v.name,
                 item->name);
      return false;
    }
  }
  for (const auto& v : values) {
    const SetupValueInfo& value = item->value[*v.value];
    if (value.slotsize == slotsize) continue;
    const int32_t pos = FindCounterpart(item, slotsize, value.variant);
    if (pos < 0) {
      PrintError(kUnit, __LINE__, "HackActiveDefault(): can't find matching %s for item: %s\n",
                 v.name, item->name);
      return false;
    }
    *v.value = pos;
  }
  return true;
}

// ---------------------------------------------------------------- selection

bool SkinCfgProgram::SelectValue(SetupItemInfo* item, int32_t slotsize) {
  PrintMessage("%s\n", item->name);
  int32_t positions[VRDSKINCFG_MAXVALUESPERITEM];
  int count = 0;
  for (int32_t i = 0; i < item->numvalues && i < VRDSKINCFG_MAXVALUESPERITEM; ++i) {
    if (slotsize != -1 && item->value[i].slotsize != slotsize) continue;
    positions[count++] = i;
    PrintMessage(count <= 9 ? "  %d." : " %d.", count);
    PrintMessage(" %s", item->value[i].name);
    const char* words[3] = {i == item->selectedval ? "selected" : nullptr,
                            i == item->currentval ? "active" : nullptr,
                            i == item->defaultval ? "default" : nullptr};
    bool any = false;
    for (const char* word : words) {
      if (word == nullptr) continue;
      PrintMessage(any ? ", %s" : " [%s", word);
      any = true;
    }
    if (any) PrintMessage("]");
    PrintMessage("\n");
  }
  if (count == 0) {
    PrintError(kUnit, __LINE__, "SelectValue(): Nothing to select for item: %s\n", item->name);
    return false;
  }
  int answer = 0;
  if (!AskQuestion("Enter a number and press RETURN,\nor just press RETURN to leave it unchanged: ",
                   1, count, true, false, &answer)) {
    return false;
  }
  if (answer != INPUT_EMPTY) item->selectedval = positions[answer - 1];
  PrintMessage("\n");
  return true;
}

bool SkinCfgProgram::SelectSetup() {
  for (int i = 0; i < kSlotsEnd; ++i) {
    if (!SelectValue(&ItemNamed(kDisplayOrder[i]), -1)) return false;
  }
  const SetupItemInfo& slots = ItemNamed(slotsizegroup::kSlots.name);
  int32_t chosen = slots.selectedval >= 0 ? slots.selectedval : slots.currentval;
  int32_t slotsize = (chosen >= 0) ? slots.value[chosen].slotsize : -1;

  SetupItemInfo& trade = ItemNamed(slotsizegroup::kTradeWindow.name);
  trade.selectedval = -1;
  for (int32_t i = 0; i < trade.numvalues; ++i) {
    if (trade.value[i].slotsize == slotsize) {
      trade.selectedval = i;
      break;
    }
  }
  if (trade.selectedval < 0) {
    PrintError(kUnit, __LINE__, "SkinCfg(): Failed to select %s\n", trade.name);
    return false;
  }
  for (const slotsizegroup::Item& group : slotsizegroup::kLayouts) {
    SetupItemInfo* layout = &ItemNamed(group.name);
    if (!HackActiveDefault(layout, slotsize)) return false;
    if (!SelectValue(layout, slotsize)) return false;
  }
  for (int i = kFirstAfterSlots; i < kDisplayCount; ++i) {
    if (!SelectValue(&ItemNamed(kDisplayOrder[i]), -1)) return false;
  }
  return true;
}

// ---------------------------------------------------------------- listing

void SkinCfgProgram::ShowSetupItem(const SetupItemInfo* item, bool active) {
  char line[kNameColumns + 1];
  memset(line, ' ', kNameColumns);
  line[kNameColumns] = '\0';
  char head[VRDSKINCFG_MAXSTRINGLENGTH + 2];
  snprintf(head, sizeof head, "%s:", item->name);
  size_t n = strlen(head);
  memcpy(line, head, n < static_cast<size_t>(kNameColumns) ? n : kNameColumns);
  int32_t pos =
      active ? item->currentval : (item->selectedval >= 0 ? item->selectedval : item->defaultval);
  const char* label = (pos >= 0 && pos < item->numvalues) ? item->value[pos].name : "";
  PrintMessage("%s%s\n", line, label);
}

void SkinCfgProgram::ShowSetup(bool active) {
  for (const char* name : kDisplayOrder) ShowSetupItem(&ItemNamed(name), active);
}

// ---------------------------------------------------------------- applying

namespace {

// The position of the value applying sets, not checked yet.
int32_t AppliedPosition(const SetupItemInfo* item, bool defaults) {
  return defaults ? item->defaultval
                  : (item->selectedval >= 0 ? item->selectedval : item->currentval);
}

}  // namespace

std::vector<CZipArchive::PlannedCopy> SkinCfgProgram::PlannedCopies(bool defaults) const {
  std::vector<CZipArchive::PlannedCopy> copies;
  for (const SetupItemInfo& item : items) {
    const int32_t pos = AppliedPosition(&item, defaults);
    if (pos < 0 || pos >= item.numvalues) break;  // ApplyValues stops there
    for (int32_t j = 0; j < item.numfiles; ++j)
      copies.push_back({item.value[pos].file[j], item.file[j]});
  }
  return copies;
}

bool SkinCfgProgram::ApplyValue(const SetupItemInfo* item, bool defaults) {
  const int32_t pos = AppliedPosition(item, defaults);
  if (pos < 0 || pos >= item->numvalues) {
    PrintError(kUnit, __LINE__, "ApplyValue(): Invalid item setting: %s\n", item->name);
    return false;
  }
  for (int32_t j = 0; j < item->numfiles; ++j) {
    if (!CopyFile(item->value[pos].file[j], item->file[j])) return false;
  }
  return true;
}

bool SkinCfgProgram::ApplyValues(bool defaults) {
  for (const SetupItemInfo& item : items) {
    if (!ApplyValue(&item, defaults)) return false;
  }
  return true;
}
