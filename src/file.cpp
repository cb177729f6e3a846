// Skin archive access: opening with the integrity test of every entry,
// closing, the version entry, and the entry operations the setup model uses
// (exists, compare, copy). No engine exception leaves this unit: each is
// reported under the operation's own message.
//
// The archive file is opened once and kept (ReplacedFile). A writable opening
// never touches it: the engine writes the changed archive into a working
// file that CloseZip puts in the archive's place, so a run that fails or is
// interrupted leaves the archive exactly as it was, and a change never
// overwrites what another program wrote meanwhile.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "SkinCfgProgram.h"

namespace {

const char kUnit[] = "file";

// The player's words for the outcomes of the replace layer that have
// words of their own, for the archive and for the settings file.
enum class Words {
  kNone,
  kSystem,       // "Reason: " and the system's text
  kNoLocks,      // a lock keeps two runs from publishing at once: none, no change
  kInUse,        // another program holds the skin open
  kForeignFile,  // "Reason: " the file belongs to another user
};
const struct Outcome {
  SysResult result;
  const char* archive;  // "<op>(): <archive>: <name>"; nullptr: the step's own line
  Words archivereason;  // after the archive's line (the step's own line holds the system's text)
  Words settingsreason;
} kOutcomes[] = {
    {SysResult::kChanged, "Another program changed the archive after it was read", Words::kNone,
     Words::kNone},
    {SysResult::kLocked, "Another program is using the archive", Words::kNone, Words::kSystem},
    {SysResult::kForeign, "The archive belongs to another user", Words::kNone, Words::kForeignFile},
    {SysResult::kNoLocks, "Could not lock the archive", Words::kNoLocks, Words::kNoLocks},
    {SysResult::kInUse, nullptr, Words::kInUse, Words::kSystem},
    {SysResult::kNoAccess, nullptr, Words::kNone, Words::kSystem},
};
const Outcome kOtherOutcome = {SysResult::kFailed, nullptr, Words::kSystem, Words::kSystem};

const Outcome& OutcomeOf(SysResult result) {
  for (const Outcome& outcome : kOutcomes) {
    if (outcome.result == result) return outcome;
  }
  return kOtherOutcome;
}

void Say(SkinCfgProgram& p, Words words, const std::string& error) {
  switch (words) {
    case Words::kNone:
      break;
    case Words::kSystem:
      p.PrintReason(error);
      break;
    case Words::kNoLocks:
      p.PrintReason("The file system does not support file locks. Move the skin to another drive.");
      break;
    case Words::kInUse:
      p.PrintMessage("The skin is in use by another program, for example the game: %s\n",
                     p.zipfilename);
      break;
    case Words::kForeignFile:
      p.PrintReason("The file belongs to another user.");
      break;
  }
}

// The version text handed out by ReadVersionFile; each call overwrites it.
char versionbuffer[16];

struct FreeDeleter {
  void operator()(void* block) const { free(block); }
};
// A data block taken out of a memory file; it comes from the C heap.
using DataBlock = std::unique_ptr<void, FreeDeleter>;

DataBlock TakeData(CZipMemFile& mem, uint64_t* length) {
  *length = mem.GetLength();
  return DataBlock(mem.Detach());
}

uint16_t Find(CZipArchive& zip, const char* name) {
  return zip.FindFile(name, CZipArchive::zipCaseDefault, false);
}

// What a failing engine step leaves behind.
enum class Effect {
  kNone,     // nothing changed
  kChanges,  // halfway through a change: the working copy is suspect
};

// Runs the engine steps of operation `op` (its name, as the messages show
// it), reporting an engine exception under that name. `steps` returns false
// after reporting its own failure. "Processing <subject>" names what the
// operation works on: the archive, or a file in it.
template <typename Steps>
bool Guarded(SkinCfgProgram& p, const char* op, const char* subject, Effect effect,
             const Steps& steps) {
  try {
    return steps();
  } catch (const CZipException& e) {
    if (effect == Effect::kChanges) p.DiscardChanges();
    p.PrintError(kUnit, __LINE__, "%s(): Processing %s: %s\n%s\n", op, subject, p.zipfilename,
                 e.GetErrorDescription().c_str());
  } catch (...) {
    if (effect == Effect::kChanges) p.DiscardChanges();
    p.PrintError(kUnit, __LINE__, "%s(): Unhandled exception processing archive: %s\n", op,
                 p.zipfilename);
  }
  return false;
}

// The entry operations: Guarded, on an archive that must be open.
template <typename Steps>
bool EntrySteps(SkinCfgProgram& p, const char* op, Effect effect, const Steps& steps) {
  if (p.zip.IsClosed(true)) {
    p.PrintError(kUnit, __LINE__, "%s(): The archive is closed: %s\n", op, p.zipfilename);
    return false;
  }
  return Guarded(p, op, "file", effect, steps);
}

// Extracts entry `name` whole into `mem`, positioned at 0. On failure
// reports "<op>(): <what> not found" or "... could not be extracted",
// followed by ": <name>" where the operation shows the name. Engine
// exceptions pass on to the caller's guard.
bool LoadEntry(SkinCfgProgram& p, const char* op, const char* what, const char* name, bool showname,
               CZipMemFile& mem) {
  const char* separator = showname ? ": " : "";
  const char* shown = showname ? name : "";
  const uint16_t index = Find(p.zip, name);
  if (index == CZipArchive::kNotFound) {
    p.PrintError(kUnit, __LINE__, "%s(): %s not found%s%s\n", op, what, separator, shown);
    return false;
  }
  if (!p.zip.ExtractToMemory(index, mem)) {
    p.PrintError(kUnit, __LINE__, "%s(): %s could not be extracted%s%s\n", op, what, separator,
                 shown);
    return false;
  }
  return true;
}

// Releases the engine after a failed close, so no later call finds it open.
void ForceClose(CZipArchive& zip) {
  try {
    zip.Close(CZipArchive::closeDiscard);
  } catch (...) {
    // Nothing more can be done here; CloseZip reports a still open archive.
  }
}

// Where the central directory of the archive file starts: the lowest start
// that an end record in the file's last 65,557 bytes names (the one the
// engine takes among them), or 0 when none is found or the tail cannot be
// read. Starting too early only covers more bytes.
uint64_t DirectoryStart(ReplacedFile& file) {
  const size_t kRecord = 22;
  const uint64_t size = file.Size();
  const size_t span = static_cast<size_t>(std::min<uint64_t>(size, kRecord + 0xFFFF));
  std::vector<unsigned char> tail(span);
  size_t got = 0;
  std::string error;
  if (span < kRecord ||
      file.ReadAt(size - span, tail.data(), span, &got, &error) != SysResult::kOk || got != span) {
    return 0;
  }
  uint64_t start = size;
  for (size_t at = 0; at + kRecord <= span; ++at) {
    if (std::memcmp(&tail[at], "PK\x05\x06", 4) != 0) continue;
    const uint64_t record = size - span + at;
    const uint64_t length = tail[at + 12] | tail[at + 13] << 8 | tail[at + 14] << 16 |
                            static_cast<uint64_t>(tail[at + 15]) << 24;
    start = std::min(start, record >= length ? record - length : 0);
  }
  return start == size ? 0 : start;
}

// The start-up opening of the archive file, kept for the whole run: it must
// exist, be a regular file and be readable. Before anything of it is read,
// the central directory and end record are remembered: a change is only
// published while they are byte for byte as read now (see CloseZip).
bool OpenArchiveFile(SkinCfgProgram& p) {
  std::string error;
  const bool first = !p.skinfile.IsOpen();
  const SysResult result = p.skinfile.Open(p.zipfilename, false, &error);
  switch (result) {
    case SysResult::kOk:
      break;
    case SysResult::kNotRegular:
      p.PrintMessage("ERROR: Not a regular file: %s\n", p.zipfilename);
      return false;
    default:
      p.PrintMessage("ERROR: File not found: %s\n", p.zipfilename);
      p.PrintMessage("This program must be started from the folder where the %s file is in.\n",
                     p.zipfilename);
      p.PrintMessage("Also check file permissions of %s\n", p.zipfilename);
      if (result != SysResult::kNotFound) p.PrintReason(error);
      return false;
  }
  if (first && p.skinfile.RememberContent(DirectoryStart(p.skinfile), &error) != SysResult::kOk) {
    p.PrintError(kUnit, __LINE__, "OpenZip(): Processing archive: %s\n%s\n", p.zipfilename,
                 error.c_str());
    return false;
  }
  return true;
}

// Before a change: the archive path still names the file read at start-up,
// unchanged, it can be written, and the working file is ready.
bool BeginChange(SkinCfgProgram& p) {
  std::string error;
  SysResult result = p.skinfile.CheckUnchanged(&error);
  const SysResult writable =
      result == SysResult::kOk ? p.skinfile.CheckWritable(&error) : SysResult::kOk;
  if (writable != SysResult::kOk) {
    p.ReportNotWritable(writable, error);
    return false;
  }
  if (result == SysResult::kOk) result = p.skinfile.BeginChange(&error);
  if (result == SysResult::kOk) return true;
  p.ReportArchiveOutcome("OpenZip", "Could not create working copy", p.skinfile.WorkName().c_str(),
                         result, error);
  return false;
}

CZipAbstractFile& AttachWorkFile(SkinCfgProgram& p) {
  p.workfile.Attach(p.skinfile.WorkHandle(), p.skinfile.WorkName().c_str());
  return p.workfile;
}

// Tests every entry of the open archive (on as many threads as gain) and
// reports the failed ones in entry order. Only other exceptions than the
// engine's end the walk.
bool TestEntries(SkinCfgProgram& p) {
  bool allpassed = true;
  bool unhandled = false;
  p.zip.TestFiles(
      [&](uint16_t index, CZipArchive::TestOutcome outcome, const CZipException* e) {
        switch (outcome) {
          case CZipArchive::testPassed:
            return true;
          case CZipArchive::testFailed:
            allpassed = false;
            return true;
          case CZipArchive::testThrew: {
            if (allpassed)
              p.PrintError(kUnit, __LINE__, "OpenZip(): Testing archive: %s\n", p.zipfilename);
            CZipFileHeader* header = p.zip.GetFileInfo(index);
            std::string name = header != nullptr ? std::string(header->GetFileName(true)) : "";
            p.PrintMessage("    %s --> ", name.c_str());
            p.PrintMessage("    %s\n", e->GetErrorDescription().c_str());
            allpassed = false;
            return true;
          }
          default:
            p.PrintError(kUnit, __LINE__, "OpenZip(): Unhandled exception testing archive: %s\n",
                         p.zipfilename);
            unhandled = true;
            return false;
        }
      },
      65536);
  if (unhandled) return false;
  if (!allpassed) {
    p.PrintError(kUnit, __LINE__, "OpenZip(): Integrity check failed on: %s\n", p.zipfilename);
    return false;
  }
  return true;
}

}  // namespace

bool SkinCfgProgram::OpenZip(bool readonly) {
  if (!OpenArchiveFile(*this)) return false;
  bool began = false;
  if (!readonly && !skinfile.Changing()) {
    if (!BeginChange(*this)) return false;
    began = true;
    discardchanges = false;
  }
  archivefile.Attach(skinfile.TargetHandle(), zipfilename);
  bool opened = false;
  bool tested = false;
  const bool result = Guarded(*this, "OpenZip", "archive", Effect::kNone, [&] {
    if (!CZipArchive::IsZipArchive(archivefile)) {
      PrintError(kUnit, __LINE__, "OpenZip(): File is not a zip archive: %s\n", zipfilename);
      return false;
    }
    if (readonly ? !zip.Open(archivefile)
                 : !zip.OpenForUpdate(archivefile, AttachWorkFile(*this))) {
      PrintError(kUnit, __LINE__, "OpenZip(): Could not open archive: %s\n", zipfilename);
      return false;
    }
    opened = true;
    // The file is provably the one tested at start-up, unchanged: testing
    // it again would prove nothing new.
    if (!readonly && archivetested) return true;
    tested = TestEntries(*this);
    return tested;
  });
  if (tested && readonly) archivetested = true;
  if (!result && began) {
    // A working file the engine never opened has no owner left; one it did
    // open goes at the final CloseZip, unused.
    if (opened) {
      discardchanges = true;
    } else {
      skinfile.Discard();
    }
  }
  return result;
}

bool SkinCfgProgram::CloseZip() {
  bool changing = skinfile.Changing();
  bool commit = changing && !discardchanges;
  discardchanges = false;
  const bool closed = Guarded(*this, "CloseZip", "archive", Effect::kNone, [&] {
    zip.Close(changing && !commit ? CZipArchive::closeDiscard : CZipArchive::closeWrite);
    return true;
  });
  if (!closed) ForceClose(zip);
  if (!zip.IsClosed(true)) {
    PrintError(kUnit, __LINE__, "CloseZip(): Could not close archive: %s\n", zipfilename);
    skinfile.Discard();
    return false;
  }
  if (!closed || !commit) {
    skinfile.Discard();
    return closed;
  }
  std::string error;
  const SysResult result = skinfile.Commit(&error);
  if (result == SysResult::kOk) return true;
  ReportArchiveOutcome("CloseZip", "Could not replace archive", zipfilename, result, error);
  return false;
}

void SkinCfgProgram::DiscardChanges() { discardchanges = true; }

void SkinCfgProgram::ReportArchiveOutcome(const char* op, const char* fallback, const char* name,
                                          SysResult result, const std::string& error) {
  const Outcome& outcome = OutcomeOf(result);
  if (outcome.archive != nullptr) {
    PrintError(kUnit, __LINE__, "%s(): %s: %s\n", op, outcome.archive, zipfilename);
  } else {
    PrintError(kUnit, __LINE__, "%s(): %s: %s\n%s\n", op, fallback, name, error.c_str());
  }
  if (outcome.archivereason != Words::kSystem) Say(*this, outcome.archivereason, error);
}

// A permission the user lacks is said by the lines alone.
void SkinCfgProgram::ReportNotWritable(SysResult result, const std::string& error) {
  PrintMessage("ERROR: File not writeable: %s\n", zipfilename);
  PrintMessage("Check file permissions of %s\n", zipfilename);
  Say(*this, OutcomeOf(result).archivereason, error);
}

void SkinCfgProgram::ReportSettingsOutcome(SysResult result, const std::string& error) {
  PrintMessage("ERROR: Could not write file: %s\n", cfgfilename);
  Say(*this, OutcomeOf(result).settingsreason, error);
}

bool SkinCfgProgram::ReadVersionFile(const char** version) {
  return EntrySteps(*this, "ReadVersionFile", Effect::kNone, [&] {
    CZipMemFile mem(1024);
    if (!LoadEntry(*this, "ReadVersionFile", "file", verfilename, false, mem)) return false;
    uint64_t length;
    DataBlock data = TakeData(mem, &length);
    std::memset(versionbuffer, 0, sizeof(versionbuffer));
    size_t used = length < sizeof(versionbuffer) - 1 ? static_cast<size_t>(length)
                                                     : sizeof(versionbuffer) - 1;
    if (used > 0) std::memcpy(versionbuffer, data.get(), used);
    *version = versionbuffer;
    return true;
  });
}

bool SkinCfgProgram::CheckCopiesFit(const std::vector<CZipArchive::PlannedCopy>& copies) {
  return Guarded(*this, "OpenZip", "archive", Effect::kNone, [&] {
    zip.CheckPlannedCopies(copies);
    return true;
  });
}

bool SkinCfgProgram::FileExists(const char* name) {
  return EntrySteps(*this, "FileExists", Effect::kNone, [&] {
    if (Find(zip, name) != CZipArchive::kNotFound) return true;
    PrintError(kUnit, __LINE__, "FileExists(): file not found: %s\n", name);
    return false;
  });
}

bool SkinCfgProgram::CompareFiles(const char* name1, const char* name2, bool* equal) {
  *equal = false;
  return EntrySteps(*this, "CompareFiles", Effect::kNone, [&] {
    CZipMemFile mem1(1024);
    CZipMemFile mem2(1024);
    if (!LoadEntry(*this, "CompareFiles", "file1", name1, true, mem1) ||
        !LoadEntry(*this, "CompareFiles", "file2", name2, true, mem2)) {
      return false;
    }
    uint64_t length1, length2;
    DataBlock data1 = TakeData(mem1, &length1);
    DataBlock data2 = TakeData(mem2, &length2);
    *equal =
        length1 == length2 && (length1 == 0 || std::memcmp(data1.get(), data2.get(), length1) == 0);
    return true;
  });
}

// An exception halfway through a change leaves the working copy suspect, so
// the run's changes are dropped.
bool SkinCfgProgram::CopyFile(const char* source, const char* destination) {
  return EntrySteps(*this, "CopyFile", Effect::kChanges, [&] {
    CZipMemFile mem(1024);
    if (!LoadEntry(*this, "CopyFile", "Source file", source, true, mem)) return false;
    const uint16_t index = Find(zip, destination);
    if (index == CZipArchive::kNotFound) {
      PrintMessage("WARNING: CopyFile(): Destination file does not exist: %s\n", destination);
    } else if (!zip.RemoveFile(index, true)) {
      PrintError(kUnit, __LINE__, "CopyFile(): Existing file could not be deleted: %s\n",
                 destination);
      return false;
    }
    if (!zip.AddNewFile(mem, destination, -1, CZipArchive::zipsmSafeSmart, 65536)) {
      // The old entry is gone already: these changes must never be committed.
      DiscardChanges();
      PrintError(kUnit, __LINE__, "CopyFile(): Destination file could not be written: %s\n",
                 destination);
      return false;
    }
    uint64_t length;
    TakeData(mem, &length);
    return true;
  });
}
