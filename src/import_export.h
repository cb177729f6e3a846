// The settings file's text as a value: what a text means for the item table
// (the selections it makes, what to tell the user, in order, and the
// verdict), and the text of a setup. Pure functions (import_export_text.cpp):
// they print nothing, touch no file and change no program state, so the
// operations of SkinCfgProgram that read and write the file and tell the
// user (import_export.cpp) are thin steps around them, and tests and the
// fuzzer call them directly.
#ifndef VRDSKINCFG_IMPORT_EXPORT_H
#define VRDSKINCFG_IMPORT_EXPORT_H

#include <cstddef>
#include <cstdint>

#include "SkinCfgProgram.h"

namespace settingstext {

// The most characters a settings text holds; its buffer has one more, for
// the NUL.
constexpr size_t kMaxLength = VRDSKINCFG_CFGDATASIZE - 1;

// Offset of the first byte c in text[0, length), or kNotFound.
constexpr size_t kNotFound = static_cast<size_t>(-1);
size_t FindChar(const char* text, size_t length, char c);

// One thing to tell the user about a settings text. The located ones carry
// the source line of the statement that found them (in
// import_export_text.cpp; the unit's messages name "import_export").
enum class Note : uint8_t {
  kInvalidFile,      // located: a bad header, or no line at all
  kNoDelimiter,      // located: a data line without ","; arg: its line number
  kNoEnding,         // located: no ";" after the ","; arg: its line number
  kUnknownItem,      // a line names no item of the table
  kUnknownValue,     // arg: index of the item that has no such alternative
  kMissing,          // arg: index of the item the text does not set
  kBroken,           // a member of the slot-size group is missing
  kVersionMismatch,  // incomplete, but claims the program's own build
  kOlderBuild,       // incomplete, from an older build
  kNewerBuild,       // incomplete, from a newer build
};

struct Message {
  Note note;
  int32_t arg;
  int sourceline;
};

// Up to one note per data line (at least three bytes each), one failure, a
// missing note per item and the verdict.
constexpr size_t kMaxMessages = VRDSKINCFG_CFGDATASIZE / 3 + 2 + VRDSKINCFG_NUMITEMS + 1;

struct Messages {
  Message list[kMaxMessages];
  size_t count = 0;
  void Add(Note note, int32_t arg, int sourceline);
};

// What the lines of a text set, up to the first line that could not be read.
struct Parsed {
  bool ok = false;                        // the header and every data line were read
  int32_t build = 0;                      // from the header
  bool unsupported = false;               // a line named an unknown item or alternative
  int32_t selected[VRDSKINCFG_NUMITEMS];  // positions; -1 where no line set one
  Messages messages;
};

// The selections reconciled with the table: items left out keep their
// active alternative, and gaps are tolerated only in a file of another build.
struct Reconciled {
  bool accepted = false;
  bool missing[VRDSKINCFG_NUMITEMS] = {};
  Messages messages;
};

// Reads text[0, length): it ends at its first NUL, and bytes past the
// largest settings file are never looked at. Lines for the same item
// override one another when their alternative is known.
Parsed Parse(const char* text, size_t length, const SetupItemInfo (&items)[VRDSKINCFG_NUMITEMS]);

// selected as Parse gives it; ownbuild is the program's build number.
Reconciled Reconcile(const int32_t (&selected)[VRDSKINCFG_NUMITEMS], int32_t build,
                     bool unsupported, const SetupItemInfo (&items)[VRDSKINCFG_NUMITEMS],
                     int32_t ownbuild);

// The text the export writes for the active alternatives (currentval) of
// the table: the header with ownbuild and one line per item in table order.
struct Composed {
  enum class Fault : uint8_t { kNone, kInvalidSetting, kOverflow };
  Fault fault = Fault::kNone;
  int32_t item = -1;   // index of the item at fault
  int sourceline = 0;  // of the statement that found the fault
  char text[VRDSKINCFG_CFGDATASIZE] = {};
};
Composed Compose(const SetupItemInfo (&items)[VRDSKINCFG_NUMITEMS], const char* ownbuild);

}  // namespace settingstext

#endif
