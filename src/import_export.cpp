// The settings file: export of the active setup as one "item,value;" line per
// item, and import of such a file into pending selections, reconciled with
// the item table and the build number in the file's header.
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "import_export.h"
#include "plainfile.h"
#include "scoped.h"
#include "skinfile.h"
#include "slotsizegroup.h"

static const char kUnit[] = "import_export";

namespace {

const char kHeaderFormat[] = "# vrdskincfg (build %s) --- Skin configuration\n";
const char kHeaderStart[] = "# vrdskincfg (build ";
const char kHeaderEnd[] = ") --- Skin configuration";
const size_t kMaxBuildDigits = 3;
// The settings text holds at most this many characters plus its NUL.
const size_t kMaxCfgText = VRDSKINCFG_CFGDATASIZE - 1;
const size_t kNotFound = static_cast<size_t>(-1);

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// atoi over text[0, length) that never reads beyond it and saturates at the
// int32 limits: a settings file may hold any digits, and a crafted one must
// not be able to trigger overflow.
int32_t ToInt32(const char* text, size_t length) {
  size_t i = 0;
  while (i < length && IsSpace(text[i])) ++i;
  bool negative = false;
  if (i < length && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  const int64_t limit = negative ? -static_cast<int64_t>(INT32_MIN) : INT32_MAX;
  int64_t value = 0;
  for (; i < length && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > limit) value = limit;  // keeps value small enough for the next step
  }
  return static_cast<int32_t>(negative ? -value : value);
}

// Offset of the first byte c in text[0, length), or kNotFound.
size_t FindChar(const char* text, size_t length, char c) {
  const void* hit = std::memchr(text, c, length);
  return hit == nullptr ? kNotFound : static_cast<size_t>(static_cast<const char*>(hit) - text);
}

// Offset of the first occurrence of needle in text[0, length), or kNotFound.
size_t FindText(const char* text, size_t length, const char* needle) {
  const size_t n = std::strlen(needle);
  for (size_t i = 0; i + n <= length; ++i) {
    if (std::memcmp(text + i, needle, n) == 0) return i;
  }
  return kNotFound;
}

// A FIFO, device or folder is refused before anything reads or writes it:
// reading one could wait for ever.
// Always false, for the caller to return.
bool RefuseIrregular(SkinCfgProgram* program) {
  program->PrintMessage("ERROR: Not a regular file: %s\n", program->cfgfilename);
  return false;
}

// Prints what the settings text gave, in order, with the texts the user
// knows; located errors name the settings file.
void PrintSettingsMessages(SkinCfgProgram* program, const settingstext::Messages& messages) {
  using settingstext::Note;
  const char* path = program->cfgfilename;
  for (size_t i = 0; i < messages.count; ++i) {
    const settingstext::Message& m = messages.list[i];
    switch (m.note) {
      case Note::kInvalidFile:
        program->PrintError(kUnit, m.sourceline, "ParseImportFile(): Invalid file: %s\n", path);
        break;
      case Note::kNoDelimiter:
        program->PrintError(kUnit, m.sourceline,
                            "ParseImportFile(): Delimiter not found in file: %s at line:%d\n", path,
                            static_cast<int>(m.arg));
        break;
      case Note::kNoEnding:
        program->PrintError(kUnit, m.sourceline,
                            "ParseImportFile(): Ending not found in file: %s at line:%d\n", path,
                            static_cast<int>(m.arg));
        break;
      case Note::kUnknownItem:
        program->PrintMessage(
            "WARNING: Unsupported setting found, most likely a setting that got removed.\n");
        break;
      case Note::kUnknownValue:
        program->PrintMessage("WARNING: Unsupported setting for the %s.\n",
                              program->items[m.arg].name);
        break;
      case Note::kMissing:
        program->PrintMessage("WARNING: Missing setting for the %s.\n", program->items[m.arg].name);
        break;
      case Note::kBroken:
        program->PrintMessage("ERROR: The settings file is broken.\n");
        break;
      case Note::kVersionMismatch:
        program->PrintMessage("ERROR: The settings file version does not match its content.\n");
        break;
      case Note::kOlderBuild:
        program->PrintMessage(
            "NOTE: The settings file was saved with an older version of this program.\n");
        program->PrintMessage("      This version offers some additional functionality.\n");
        break;
      case Note::kNewerBuild:
        program->PrintMessage(
            "WARNING: The settings file was saved with a newer version of this program.\n");
        break;
    }
  }
}

// Position of the alternative with this id, or -1.
int32_t FindValue(const SetupItemInfo& item, int32_t valueid) {
  for (int32_t p = 0; p < item.numvalues && p < VRDSKINCFG_MAXVALUESPERITEM; ++p) {
    if (item.value[p].id == valueid) return p;
  }
  return -1;
}

// Index of the item with this id, or -1: a settings file may name any id.
int32_t FindItem(const SetupItemInfo (&items)[VRDSKINCFG_NUMITEMS], int32_t itemid) {
  for (int32_t i = 0; i < VRDSKINCFG_NUMITEMS; ++i) {
    if (items[i].id == itemid) return i;
  }
  return -1;
}

// The header's build number, or 0 when the line is no valid header.
int32_t ReadHeader(const char* line, size_t length) {
  const size_t start = sizeof kHeaderStart - 1;
  const size_t end = FindText(line, length, kHeaderEnd);
  const bool valid = FindText(line, length, kHeaderStart) == 0 && end != kNotFound && end > start &&
                     end - start <= kMaxBuildDigits;
  return valid ? ToInt32(line + start, end - start) : 0;
}

}  // namespace

void settingstext::Messages::Add(Note note, int32_t arg, int sourceline) {
  // The bound holds for every text of at most the settings file's size;
  // this check only keeps a broken promise from writing past the list.
  if (count < kMaxMessages) list[count++] = Message{note, arg, sourceline};
}

settingstext::Parsed settingstext::Parse(const char* text, size_t length,
                                         const SetupItemInfo (&items)[VRDSKINCFG_NUMITEMS]) {
  Parsed parsed;
  for (int32_t& s : parsed.selected) s = -1;
  // The text ends at its first NUL; a file with a NUL byte is cut there.
  if (length > kMaxCfgText) length = kMaxCfgText;
  const size_t nul = FindChar(text, length, '\0');
  if (nul != kNotFound) length = nul;

  size_t pos = 0;
  int32_t linenumber = 0;
  for (;;) {
    const size_t feed = FindChar(text + pos, length - pos, '\n');
    // Text after the last line feed is no line: a half-written last line is
    // ignored rather than misread.
    if (feed == kNotFound) break;
    const char* line = text + pos;
    const size_t linelength = feed;
    pos += feed + 1;
    ++linenumber;

    if (linenumber == 1) {
      parsed.build = ReadHeader(line, linelength);
      if (parsed.build <= 0) {
        parsed.messages.Add(Note::kInvalidFile, 0, __LINE__);
        return parsed;
      }
      continue;
    }

    const size_t comma = FindChar(line, linelength, ',');
    if (comma == kNotFound) {
      parsed.messages.Add(Note::kNoDelimiter, linenumber, __LINE__);
      return parsed;
    }
    const char* rest = line + comma + 1;
    const size_t semicolon = FindChar(rest, linelength - comma - 1, ';');
    if (semicolon == kNotFound) {
      parsed.messages.Add(Note::kNoEnding, linenumber, __LINE__);
      return parsed;
    }
    const int32_t item = FindItem(items, ToInt32(line, comma));
    if (item < 0) {
      parsed.messages.Add(Note::kUnknownItem, 0, __LINE__);
      parsed.unsupported = true;
      continue;
    }
    const int32_t value = FindValue(items[item], ToInt32(rest, semicolon));
    if (value >= 0) parsed.selected[item] = value;
    // An unknown value after a known one for the same item keeps the known one.
    if (parsed.selected[item] != -1) continue;
    parsed.messages.Add(Note::kUnknownValue, item, __LINE__);
    parsed.unsupported = true;
  }

  if (linenumber == 0) {
    parsed.messages.Add(Note::kInvalidFile, 0, __LINE__);
    return parsed;
  }
  parsed.ok = true;
  return parsed;
}

settingstext::Reconciled settingstext::Reconcile(const int32_t (&selected)[VRDSKINCFG_NUMITEMS],
                                                 int32_t build, bool unsupported,
                                                 const SetupItemInfo (&items)[VRDSKINCFG_NUMITEMS],
                                                 int32_t ownbuild) {
  Reconciled reconciled;
  bool requiredmissing = false;
  bool othermissing = false;
  // Every item is visited so that all gaps are reported, not just the first.
  for (int32_t i = 0; i < VRDSKINCFG_NUMITEMS; ++i) {
    if (selected[i] != -1) continue;
    reconciled.messages.Add(Note::kMissing, i, __LINE__);
    reconciled.missing[i] = true;
    if (slotsizegroup::Contains(items[i].id)) {
      requiredmissing = true;
    } else {
      othermissing = true;
    }
  }
  if (requiredmissing) {
    reconciled.messages.Add(Note::kBroken, 0, __LINE__);
    return reconciled;
  }
  // Gaps are expected in a file of another build, but a file that claims our
  // own build must match our table exactly.
  reconciled.accepted = true;
  if (!othermissing && !unsupported) return reconciled;
  if (build == ownbuild) {
    reconciled.messages.Add(Note::kVersionMismatch, 0, __LINE__);
    reconciled.accepted = false;
  } else {
    reconciled.messages.Add(build < ownbuild ? Note::kOlderBuild : Note::kNewerBuild, 0, __LINE__);
  }
  return reconciled;
}

settingstext::Composed settingstext::Compose(const SetupItemInfo (&items)[VRDSKINCFG_NUMITEMS],
                                             const char* ownbuild) {
  Composed composed;
  size_t used = static_cast<size_t>(
      std::snprintf(composed.text, sizeof composed.text, kHeaderFormat, ownbuild));
  for (int32_t i = 0; i < VRDSKINCFG_NUMITEMS; ++i) {
    const SetupItemInfo& item = items[i];
    if (item.currentval < 0 || item.currentval >= item.numvalues) {
      composed = Composed{Composed::Fault::kInvalidSetting, i, __LINE__, {}};
      return composed;
    }
    char line[32];
    const size_t n =
        static_cast<size_t>(std::snprintf(line, sizeof line, "%d,%d;\n", static_cast<int>(item.id),
                                          static_cast<int>(item.value[item.currentval].id)));
    if (used + n > kMaxCfgText) {
      composed = Composed{Composed::Fault::kOverflow, i, __LINE__, {}};
      return composed;
    }
    std::memcpy(composed.text + used, line, n + 1);
    used += n;
  }
  return composed;
}

bool SkinCfgProgram::ExportFileExists(bool* exists) {
  *exists = false;
  std::string error;
  ReplacedFile file(SystemSkinPlatform(), false);
  switch (file.Open(cfgfilename, true, &error)) {
    case SysResult::kOk:
      *exists = file.Exists();
      return true;
    case SysResult::kNotRegular:
      return RefuseIrregular(this);
    default:
      // Something is there that cannot be opened: the write says why.
      *exists = true;
      return true;
  }
}

bool SkinCfgProgram::ExportFile() { return BuildSetupData() && WriteExportFile(); }

bool SkinCfgProgram::BuildSetupData() {
  const settingstext::Composed composed = settingstext::Compose(items, VRDSKINCFG_BUILD);
  switch (composed.fault) {
    case settingstext::Composed::Fault::kNone:
      break;
    case settingstext::Composed::Fault::kInvalidSetting:
      PrintError(kUnit, composed.sourceline, "BuildSetupDataItem(): Invalid item setting: %s\n",
                 items[composed.item].name);
      return false;
    case settingstext::Composed::Fault::kOverflow:
      PrintError(kUnit, composed.sourceline, "BuildSetupDataItem(): Buffer overflow\n");
      return false;
  }
  std::memcpy(cfgdata, composed.text, sizeof cfgdata);
  return true;
}

// The text goes to a working file beside the settings file (where the
// system finds it, through any links), which replaces it all at once: a
// failure at any step leaves the old file as it was and no working file.
bool SkinCfgProgram::WriteExportFile() {
  const size_t length = FindChar(cfgdata, sizeof cfgdata, '\0');
  if (length == kNotFound) {
    PrintError(kUnit, __LINE__, "WriteExportFile(): Invalid buffer content\n");
    return false;
  }
  ReplacedFile file(SystemSkinPlatform(), false);
  std::string error;
  SysResult result = file.Open(cfgfilename, true, &error);
  if (result == SysResult::kNotRegular) return RefuseIrregular(this);
  // A file we may not write stays as it is, although its folder would let
  // us replace it.
  if (result == SysResult::kOk) result = file.CheckWritable(&error);
  if (result == SysResult::kOk) result = file.BeginChange(&error);
  if (result == SysResult::kOk) {
    // Binary: the file has bare line feeds on every platform.
    result = file.Write(cfgdata, length, &error);
    if (result != SysResult::kOk) {
      PrintError(kUnit, __LINE__, "WriteExportFile(): fwrite() failed on file: %s\n", cfgfilename);
      PrintReason(error);
      return false;
    }
    result = file.Commit(&error);
  }
  if (result == SysResult::kOk) return true;
  PrintMessage("ERROR: Could not write file: %s\n", cfgfilename);
  if (result == SysResult::kForeign) {
    PrintReason("The file belongs to another user.");
  } else if (result != SysResult::kChanged) {
    PrintReason(error);
  }
  return false;
}

bool SkinCfgProgram::ImportFile() { return ReadImportFile() && ParseImportFile(); }

bool SkinCfgProgram::ReadImportFile() {
  plainfile::Kind kind;
  ScopedFile file(plainfile::OpenForReading(cfgfilename, &kind));
  if (file == nullptr) {
    if (kind == plainfile::Kind::kOther) return RefuseIrregular(this);
    PrintMessage("ERROR: File not found: %s\n", cfgfilename);
    return false;
  }
  FILE* f = file.get();
  if (std::fseek(f, 0, SEEK_END) != 0) {
    PrintError(kUnit, __LINE__, "ReadImportFile(): fseek() failed on file: %s\n", cfgfilename);
    return false;
  }
  const long size = std::ftell(f);
  if (size < 0) {
    PrintError(kUnit, __LINE__, "ReadImportFile(): ftell() failed on file: %s\n", cfgfilename);
    return false;
  }
  if (std::fseek(f, 0, SEEK_SET) != 0) {
    PrintError(kUnit, __LINE__, "ReadImportFile(): fseek() failed on file: %s\n", cfgfilename);
    return false;
  }
  // Refused rather than read in pieces: no valid settings file is larger.
  if (static_cast<unsigned long>(size) > kMaxCfgText) {
    PrintError(kUnit, __LINE__, "ReadImportFile(): Buffer overflow, file: %s\n", cfgfilename);
    return false;
  }
  if (size == 0) {
    PrintError(kUnit, __LINE__, "ReadImportFile(): Invalid file: %s\n", cfgfilename);
    return false;
  }
  const size_t wanted = static_cast<size_t>(size);
  const size_t got = std::fread(cfgdata, 1, wanted, f);
  cfgdata[got] = '\0';
  if (got != wanted) {
    PrintError(kUnit, __LINE__, "ReadImportFile(): fread() failed on file: %s\n", cfgfilename);
    return false;
  }
  if (std::fclose(file.release()) != 0) {
    PrintError(kUnit, __LINE__, "ReadImportFile(): Failed to close file: %s\n", cfgfilename);
    return false;
  }
  return true;
}

bool SkinCfgProgram::ParseImportFile() {
  const settingstext::Parsed parsed = settingstext::Parse(cfgdata, sizeof cfgdata, items);
  PrintSettingsMessages(this, parsed.messages);
  cfgbuild = parsed.build;
  cfgunsupported = parsed.unsupported;
  for (size_t i = 0; i < VRDSKINCFG_NUMITEMS; ++i) items[i].selectedval = parsed.selected[i];
  return parsed.ok;
}

bool SkinCfgProgram::CheckImportedSettings() {
  int32_t selected[VRDSKINCFG_NUMITEMS];
  for (size_t i = 0; i < VRDSKINCFG_NUMITEMS; ++i) selected[i] = items[i].selectedval;
  const settingstext::Reconciled reconciled =
      settingstext::Reconcile(selected, cfgbuild, cfgunsupported, items, VRDSKINCFG_BUILD_NUMBER);
  PrintSettingsMessages(this, reconciled.messages);
  for (size_t i = 0; i < VRDSKINCFG_NUMITEMS; ++i) {
    if (reconciled.missing[i]) items[i].selectedval = items[i].currentval;
  }
  return reconciled.accepted;
}
