// The settings file: export of the active setup as one "item,value;" line per
// item, and import of such a file into pending selections, reconciled with
// the item table and the build number in the file's header.
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "SkinCfgProgram.h"
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
bool RefuseIrregular(SkinCfgProgram* program, plainfile::Kind kind) {
  if (kind != plainfile::Kind::kOther) return false;
  program->PrintMessage("ERROR: Not a regular file: %s\n", program->cfgfilename);
  return true;
}

}  // namespace

bool SkinCfgProgram::ExportFileExists(bool* exists) {
  *exists = false;
  std::string error;
  ReplacedFile file(SystemSkinPlatform(), false);
  switch (file.Open(cfgfilename, true, &error)) {
    case SysResult::kOk:
      *exists = file.Exists();
      return true;
    case SysResult::kNotRegular:
      return !RefuseIrregular(this, plainfile::Kind::kOther);
    default:
      // Something is there that cannot be opened: the write says why.
      *exists = true;
      return true;
  }
}

bool SkinCfgProgram::ExportFile() { return BuildSetupData() && WriteExportFile(); }

bool SkinCfgProgram::BuildSetupData() {
  std::snprintf(cfgdata, sizeof cfgdata, kHeaderFormat, VRDSKINCFG_BUILD);
  for (const SetupItemInfo& item : items) {
    if (!BuildSetupDataItem(&item)) return false;
  }
  return true;
}

bool SkinCfgProgram::BuildSetupDataItem(const SetupItemInfo* item) {
  if (item->currentval < 0 || item->currentval >= item->numvalues) {
    PrintError(kUnit, __LINE__, "BuildSetupDataItem(): Invalid item setting: %s\n", item->name);
    return false;
  }
  char line[32];
  const int n = std::snprintf(line, sizeof line, "%d,%d;\n", static_cast<int>(item->id),
                              static_cast<int>(item->value[item->currentval].id));
  const size_t used = std::strlen(cfgdata);
  const size_t added = static_cast<size_t>(n);
  if (used + added > kMaxCfgText) {
    PrintError(kUnit, __LINE__, "BuildSetupDataItem(): Buffer overflow\n");
    return false;
  }
  std::memcpy(cfgdata + used, line, added + 1);
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
  if (result == SysResult::kNotRegular) return !RefuseIrregular(this, plainfile::Kind::kOther);
  // A file we may not write stays as it is, although its folder would let
  // us replace it.
  if (result == SysResult::kOk) result = file.CheckWritable(&error);
  if (result == SysResult::kOk) result = file.BeginChange(&error);
  if (result == SysResult::kOk) {
    // Binary: the file has bare line feeds on every platform.
    result = file.Write(cfgdata, length, &error);
    if (result != SysResult::kOk) {
      PrintError(kUnit, __LINE__, "WriteExportFile(): fwrite() failed on file: %s\n", cfgfilename);
      PrintMessage("Reason: %s\n", error.c_str());
      return false;
    }
    result = file.Commit(&error);
  }
  if (result == SysResult::kOk) return true;
  PrintMessage("ERROR: Could not write file: %s\n", cfgfilename);
  if (result == SysResult::kForeign) {
    PrintMessage("Reason: The file belongs to another user.\n");
  } else if (result != SysResult::kChanged) {
    PrintMessage("Reason: %s\n", error.c_str());
  }
  return false;
}

bool SkinCfgProgram::ImportFile() { return ReadImportFile() && ParseImportFile(); }

bool SkinCfgProgram::ReadImportFile() {
  plainfile::Kind kind;
  ScopedFile file(plainfile::OpenForReading(cfgfilename, &kind));
  if (file == nullptr) {
    if (!RefuseIrregular(this, kind)) PrintMessage("ERROR: File not found: %s\n", cfgfilename);
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
  cfgunsupported = false;
  // The text ends at its first NUL; a file with a NUL byte is cut there, and
  // no search below ever looks past that end.
  size_t textlength = FindChar(cfgdata, sizeof cfgdata, '\0');
  if (textlength == kNotFound) textlength = sizeof cfgdata;

  size_t pos = 0;
  int linenumber = 0;
  for (;;) {
    const size_t feed = FindChar(cfgdata + pos, textlength - pos, '\n');
    // Text after the last line feed is no line: a half-written last line is
    // ignored rather than misread.
    if (feed == kNotFound) break;
    const char* line = cfgdata + pos;
    const size_t length = feed;
    pos += feed + 1;
    ++linenumber;

    if (linenumber == 1) {
      const size_t start = sizeof kHeaderStart - 1;
      const size_t end = FindText(line, length, kHeaderEnd);
      const bool valid = FindText(line, length, kHeaderStart) == 0 && end != kNotFound &&
                         end > start && end - start <= kMaxBuildDigits;
      if (!valid) {
        PrintError(kUnit, __LINE__, "ParseImportFile(): Invalid file: %s\n", cfgfilename);
        return false;
      }
      cfgbuild = ToInt32(line + start, end - start);
      if (cfgbuild <= 0) {
        PrintError(kUnit, __LINE__, "ParseImportFile(): Invalid file: %s\n", cfgfilename);
        return false;
      }
      continue;
    }

    const size_t comma = FindChar(line, length, ',');
    if (comma == kNotFound) {
      PrintError(kUnit, __LINE__, "ParseImportFile(): Delimiter not found in file: %s at line:%d\n",
                 cfgfilename, linenumber);
      return false;
    }
    const int32_t itemid = ToInt32(line, comma);
    const char* rest = line + comma + 1;
    const size_t semicolon = FindChar(rest, length - comma - 1, ';');
    if (semicolon == kNotFound) {
      PrintError(kUnit, __LINE__, "ParseImportFile(): Ending not found in file: %s at line:%d\n",
                 cfgfilename, linenumber);
      return false;
    }
    SetImportedValue(itemid, ToInt32(rest, semicolon));
  }

  if (linenumber == 0) {
    PrintError(kUnit, __LINE__, "ParseImportFile(): Invalid file: %s\n", cfgfilename);
    return false;
  }
  return true;
}

void SkinCfgProgram::SetImportedValue(int32_t itemid, int32_t valueid) {
  SetupItemInfo* item = FindItemById(itemid);
  if (item == nullptr) {
    PrintMessage("WARNING: Unsupported setting found, most likely a setting that got removed.\n");
    cfgunsupported = true;
    return;
  }
  for (int32_t p = 0; p < item->numvalues && p < VRDSKINCFG_MAXVALUESPERITEM; ++p) {
    if (item->value[p].id == valueid) {
      item->selectedval = p;
      break;
    }
  }
  // An unknown value after a known one for the same item keeps the known one.
  if (item->selectedval != -1) return;
  PrintMessage("WARNING: Unsupported setting for the %s.\n", item->name);
  cfgunsupported = true;
}

bool SkinCfgProgram::CheckMissingSetting(SetupItemInfo* item) {
  if (item->selectedval != -1) return false;
  PrintMessage("WARNING: Missing setting for the %s.\n", item->name);
  item->selectedval = item->currentval;
  return true;
}

bool SkinCfgProgram::CheckImportedSettings() {
  bool requiredmissing = false;
  bool othermissing = false;
  // Every item is visited so that all gaps are reported, not just the first.
  for (SetupItemInfo& item : items) {
    if (!CheckMissingSetting(&item)) continue;
    if (slotsizegroup::Contains(item.id)) {
      requiredmissing = true;
    } else {
      othermissing = true;
    }
  }
  if (requiredmissing) {
    PrintMessage("ERROR: The settings file is broken.\n");
    return false;
  }
  // Gaps are expected in a file of another build, but a file that claims our
  // own build must match our table exactly.
  if (!othermissing && !cfgunsupported) return true;
  const int32_t build = ToInt32(VRDSKINCFG_BUILD, sizeof VRDSKINCFG_BUILD - 1);
  if (cfgbuild == build) {
    PrintMessage("ERROR: The settings file version does not match its content.\n");
    return false;
  }
  if (cfgbuild < build) {
    PrintMessage("NOTE: The settings file was saved with an older version of this program.\n");
    PrintMessage("      This version offers some additional functionality.\n");
  } else {
    PrintMessage("WARNING: The settings file was saved with a newer version of this program.\n");
  }
  return true;
}
