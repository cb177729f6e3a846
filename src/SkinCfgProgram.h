// The program object: all state of one run of the skin configurator, and
// every operation of the console front end, the setup model, the settings
// file and the skin archive access. One instance lives for the whole process.
#ifndef VRDSKINCFG_SKINCFGPROGRAM_H
#define VRDSKINCFG_SKINCFGPROGRAM_H

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "ZipArchive.h"
#include "buildconfig.h"
#include "skinfile.h"

#define VRDSKINCFG_MAXSTRINGLENGTH 80
#define VRDSKINCFG_MAXVALUESPERITEM 10
#define VRDSKINCFG_MAXFILESPERITEM 3
#define VRDSKINCFG_NUMITEMS 20
#define VRDSKINCFG_MAXPATH 256
#define VRDSKINCFG_CFGDATASIZE 257

// Answer codes of GetInput; numbers 1 to 99 stand for themselves, 0 is invalid.
#define INPUT_YES 1000
#define INPUT_NO 1001
#define INPUT_EMPTY 1002

#if defined(__GNUC__)
#define VRD_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define VRD_PRINTF(fmt, args)
#endif

// One alternative of a setup item: the archive entries that hold its version
// of the item's live entries.
struct SetupValueInfo {
  char name[VRDSKINCFG_MAXSTRINGLENGTH + 1];
  char file[VRDSKINCFG_MAXFILESPERITEM][VRDSKINCFG_MAXSTRINGLENGTH + 1];
  int32_t variant;   // same number for the same layout in another slot size; -1 none
  int32_t slotsize;  // 42 or 48; -1 when independent of the slot size
  int32_t id;        // stable number stored in the settings file
};

// One configurable aspect of the skin: its live entries and its alternatives.
struct SetupItemInfo {
  char name[VRDSKINCFG_MAXSTRINGLENGTH + 1];
  char file[VRDSKINCFG_MAXFILESPERITEM][VRDSKINCFG_MAXSTRINGLENGTH + 1];
  int32_t numfiles;
  SetupValueInfo value[VRDSKINCFG_MAXVALUESPERITEM];
  int32_t numvalues;
  int32_t defaultval;  // positions; -1 = none
  int32_t currentval;
  int32_t selectedval;
  int32_t id;
};

// Rewrites an entry name in place into the platform's separator form.
void ConvertPath(char* name);

// Copies text into a fixed-size buffer, cut to fit and always terminated.
template <size_t N>
void CopyText(char (&target)[N], const char* text) {
  std::snprintf(target, N, "%s", text);
}

class SkinCfgProgram {
 public:
  SkinCfgProgram();
  SkinCfgProgram(const SkinCfgProgram&) = delete;  // owns the open archive
  SkinCfgProgram& operator=(const SkinCfgProgram&) = delete;

  // --- run sequence and command line (vrdskincfg) ---
  bool SkinCfg(int argc, char** argv);
  bool ParseArgs(int argc, char** argv, bool* helpprinted);
  bool CheckZipFileName();
  bool MainMenu();
  bool RunImport();  // the unattended import of --import
  bool PrepareImport(bool unattended);
  bool ApplyAndCommit(bool defaults);
  bool ConfirmAndApply(const char* question, bool defaults, const char* success);
  bool MenuSetup();
  bool MenuShow();
  bool MenuReset();
  bool MenuImport();
  bool MenuExport();

  // --- console (vrdskincfg) ---
  void PrintMessage(const char* format, ...) VRD_PRINTF(2, 3);
  void PrintError(const char* unit, int line, const char* format, ...) VRD_PRINTF(4, 5);
  // "Reason: " and the text (mostly the system's) after a refusal's lines.
  void PrintReason(const std::string& text);
  void PrintDebug(const char* unit, int line, const char* format, ...) VRD_PRINTF(4, 5);
  void PrintLocation(const char* unit, int line, const char* prefix, const char* format, ...)
      VRD_PRINTF(5, 6);
  void PrintLocated(const char* unit, int line, const char* prefix, const char* format,
                    va_list args);
  // Reads one line into the shared input buffer; nullptr at end of input.
  const char* ReadLine();
  // Classifies a line: INPUT_YES, INPUT_NO, INPUT_EMPTY, 1..99, or 0.
  static int ClassifyInput(const char* line);
  // ReadLine + ClassifyInput; -1 at end of input.
  int GetInput();
  // Question loop: accepted answers are min..max and, optionally, INPUT_EMPTY
  // or the yes/no codes. False (after a message) at end of input.
  bool AskQuestion(const char* question, int minnum, int maxnum, bool acceptempty, bool acceptyesno,
                   int* answer);
  bool AskYesNo(const char* question, bool* yes);

  // --- version check (vrdskincfg) ---
  bool CheckVersion(bool* match);

  // --- active-state detection, selection, listing, applying (vrdskincfg) ---
  bool GetCurrentValue(SetupItemInfo* item);
  bool GetCurrentValues();
  bool HackActiveDefault(SetupItemInfo* item, int32_t slotsize);
  bool SelectValue(SetupItemInfo* item, int32_t slotsize);
  bool SelectSetup();
  void ShowSetupItem(const SetupItemInfo* item, bool active);
  void ShowSetup(bool active);
  bool ApplyValue(const SetupItemInfo* item, bool defaults);
  bool ApplyValues(bool defaults);
  // The copies ApplyValues makes, in order (items with an invalid setting
  // left out).
  std::vector<CZipArchive::PlannedCopy> PlannedCopies(bool defaults) const;

  // --- item table (setup) ---
  bool SetupItem(SetupItemInfo* item, int32_t id, const char* name, const char* file1,
                 const char* file2, const char* file3);
  bool SetupItemValue(SetupItemInfo* item, int32_t index, int32_t id, const char* name,
                      const char* file1, const char* file2, const char* file3);
  bool CheckSetupItem(const SetupItemInfo* item);
  bool CheckSetupItems();
  bool InitSetupItems();
  // The item with this id; nullptr when the table has none (a settings
  // file may name any id).
  SetupItemInfo* FindItemById(int32_t id);
  // The item of a name from the catalogue; it is always there once the
  // table is built.
  SetupItemInfo& ItemNamed(const char* name);

  // --- settings file (import_export) ---
  bool ExportFileExists(bool* exists);
  bool ExportFile();
  bool BuildSetupData();
  bool WriteExportFile();
  bool ImportFile();
  bool ReadImportFile();
  bool ParseImportFile();
  bool CheckImportedSettings();

  // --- skin archive access (file) ---
  bool OpenZip(bool readonly);
  bool CloseZip();
  // Makes the next CloseZip drop pending changes instead of committing them.
  void DiscardChanges();
  bool ReadVersionFile(const char** version);
  bool FileExists(const char* name);
  bool CompareFiles(const char* name1, const char* name2, bool* equal);
  bool CopyFile(const char* source, const char* destination);
  // Before any change: whether the open archive can take the copies without
  // needing Zip64; reports the engine's refusal.
  bool CheckCopiesFit(const std::vector<CZipArchive::PlannedCopy>& copies);
  // What the player is told of a failed step of the replace layer, from one
  // table: for a step `op` of the archive, `fallback` (with `name` and the
  // system's text) where the outcome has no words of its own; for a file
  // that cannot be written, the lines on the archive's permissions; for
  // the settings file, the reason after its line.
  void ReportArchiveOutcome(const char* op, const char* fallback, const char* name,
                            SysResult result, const std::string& error);
  void ReportNotWritable(SysResult result, const std::string& error);
  void ReportSettingsOutcome(SysResult result, const std::string& error);

  // Fields, in the order of the run's state.
  bool waitonexit;
  const char* progname;
  char zipfilename[VRDSKINCFG_MAXPATH];
  // The archive file, kept open from the start-up opening on, and the
  // engine's views of it and of a change's working file; declared before
  // the engine so they outlive it.
  ReplacedFile skinfile;
  CZipFile archivefile;
  CZipFile workfile;
  CZipArchive zip;
  char verfilename[128];
  char cfgfilename[VRDSKINCFG_MAXPATH];
  char cfgdata[VRDSKINCFG_CFGDATASIZE];
  int32_t cfgbuild;
  bool cfgunsupported;
  bool importmode;
  SetupItemInfo items[VRDSKINCFG_NUMITEMS];
  bool inputended;  // standard input reached its end

  // --- archive changes (file) ---
  // CloseZip commits a writable opening's working file unless the changes
  // were discarded, so the archive only ever holds all of a run's changes or
  // none of them.
  bool discardchanges = false;  // set by DiscardChanges and failed copies
  bool archivetested = false;   // every entry passed the start-up test
};

#endif
