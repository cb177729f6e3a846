// The settings file: export of the active setup as one "item,value;" line per
// item, and import of such a file into pending selections, reconciled with
// the item table and the build number in the file's header. The text's rules
// are import_export_text.cpp's; here the file is read and written and the
// player told.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "import_export.h"
#include "skinfile.h"

static const char kUnit[] = "import_export";

namespace {

// The settings text holds at most this many characters plus its NUL.
const size_t kMaxCfgText = settingstext::kMaxLength;
using settingstext::FindChar;
using settingstext::kNotFound;

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
  ReportSettingsOutcome(result, error);
  return false;
}

bool SkinCfgProgram::ImportFile() { return ReadImportFile() && ParseImportFile(); }

// Read through the same opening as the skin: never waiting on a FIFO or a
// device, and a file that another program puts in its place meanwhile is
// opened again.
bool SkinCfgProgram::ReadImportFile() {
  ReplacedFile file(SystemSkinPlatform(), false);
  std::string error;
  const SysResult result = file.Open(cfgfilename, false, &error);
  if (result == SysResult::kNotRegular) return RefuseIrregular(this);
  if (result != SysResult::kOk) {
    PrintMessage("ERROR: File not found: %s\n", cfgfilename);
    if (result != SysResult::kNotFound) PrintReason(error);
    return false;
  }
  // Refused rather than read in pieces: no valid settings file is larger.
  if (file.Size() > kMaxCfgText) {
    PrintError(kUnit, __LINE__, "ReadImportFile(): Buffer overflow, file: %s\n", cfgfilename);
    return false;
  }
  if (file.Size() == 0) {
    PrintError(kUnit, __LINE__, "ReadImportFile(): Invalid file: %s\n", cfgfilename);
    return false;
  }
  const size_t wanted = static_cast<size_t>(file.Size());
  size_t got = 0;
  const bool read = file.ReadAt(0, cfgdata, wanted, &got, &error) == SysResult::kOk;
  cfgdata[got] = '\0';
  if (!read || got != wanted) {
    PrintError(kUnit, __LINE__, "ReadImportFile(): fread() failed on file: %s\n", cfgfilename);
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
