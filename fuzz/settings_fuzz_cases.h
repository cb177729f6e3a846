// The bodies of the fuzz targets for the settings file and the console
// answers. Each returns "" when the program behaved, else what went wrong;
// crashes, leaks and overruns are the sanitizers' job.
#ifndef FUZZ_SETTINGS_FUZZ_CASES_H
#define FUZZ_SETTINGS_FUZZ_CASES_H

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "SkinCfgProgram.h"
#include "fuzz_scratch.h"
#include "import_export.h"

namespace settingsfuzz {

// A program object with the item table built and every item showing its
// default as the active alternative, as detection leaves a fresh skin.
inline std::unique_ptr<SkinCfgProgram> NewProgram() {
  auto program = std::make_unique<SkinCfgProgram>();
  if (!program->InitSetupItems()) return nullptr;
  for (SetupItemInfo& item : program->items) item.currentval = item.defaultval;
  return program;
}

inline bool InRange(const SetupItemInfo& item, int32_t pos, bool noneallowed) {
  return (noneallowed && pos == -1) || (pos >= 0 && pos < item.numvalues);
}

// The input is a settings text, given straight to the pure reading (the
// file's own limits are ReadImportFile's). Whatever it holds, every
// selection it makes names an alternative of its item, and the failed ones
// end with one located note; a text the import accepts exports and reads
// back to the same selections, without any note.
inline std::string RunSettingsCase(const uint8_t* data, size_t size) {
  using settingstext::Note;
  static const std::unique_ptr<SkinCfgProgram> program = NewProgram();
  if (program == nullptr) return "the item table cannot be built";
  if (size == 0 || size >= VRDSKINCFG_CFGDATASIZE) return "";
  const auto& items = program->items;
  const auto parsed = settingstext::Parse(reinterpret_cast<const char*>(data), size, items);
  if (parsed.ok && parsed.build <= 0) return "a build number below 1 was taken";
  for (size_t i = 0; i < VRDSKINCFG_NUMITEMS; ++i) {
    if (!InRange(items[i], parsed.selected[i], true))
      return std::string("bad selection for ") + items[i].name;
  }
  const auto& notes = parsed.messages;
  const Note last = notes.count > 0 ? notes.list[notes.count - 1].note : Note::kMissing;
  const bool failed =
      last == Note::kInvalidFile || last == Note::kNoDelimiter || last == Note::kNoEnding;
  if (parsed.ok == failed) return "a failed parse does not end with its located note";
  if (!parsed.ok) return "";
  const auto reconciled = settingstext::Reconcile(parsed.selected, parsed.build, parsed.unsupported,
                                                  items, VRDSKINCFG_BUILD_NUMBER);
  if (!reconciled.accepted) return "";

  SetupItemInfo accepted[VRDSKINCFG_NUMITEMS];
  std::copy(std::begin(items), std::end(items), std::begin(accepted));
  for (size_t i = 0; i < VRDSKINCFG_NUMITEMS; ++i) {
    if (!reconciled.missing[i]) accepted[i].currentval = parsed.selected[i];
  }
  const auto composed = settingstext::Compose(accepted, VRDSKINCFG_BUILD);
  if (composed.fault != settingstext::Composed::Fault::kNone)
    return "the accepted setup does not export";
  const auto again = settingstext::Parse(composed.text, sizeof composed.text, accepted);
  const auto check = settingstext::Reconcile(again.selected, again.build, again.unsupported,
                                             accepted, VRDSKINCFG_BUILD_NUMBER);
  if (!again.ok || again.messages.count != 0 || !check.accepted || check.messages.count != 0) {
    return "the exported setup does not read back";
  }
  for (size_t i = 0; i < VRDSKINCFG_NUMITEMS; ++i) {
    if (again.selected[i] != accepted[i].currentval)
      return std::string("round trip changed ") + items[i].name;
  }
  return "";
}

// What GetInput must answer for one line of input, worked out apart from
// the program: only the first 255 bytes count, and a NUL byte spoils it.
inline int ExpectedAnswer(const std::string& line) {
  if (line.find('\0') != std::string::npos) return 0;
  if (line.empty()) return INPUT_EMPTY;
  if (line == "y" || line == "Y") return INPUT_YES;
  if (line == "n" || line == "N") return INPUT_NO;
  const bool digit1 = line[0] >= '1' && line[0] <= '9';
  if (digit1 && line.size() == 1) return line[0] - '0';
  if (digit1 && line.size() == 2 && line[1] >= '0' && line[1] <= '9') {
    return (line[0] - '0') * 10 + (line[1] - '0');
  }
  return 0;
}

inline bool SlotSizeIs(const SetupItemInfo& item, int32_t pos, int32_t slotsize) {
  return pos >= 0 && pos < item.numvalues && item.value[pos].slotsize == slotsize;
}

// After the Setup dialogue: selections in range, and the trade window and
// both layouts on the slot size the dialogue settled on.
inline std::string CheckDialogue(SkinCfgProgram& program) {
  for (const SetupItemInfo& item : program.items) {
    if (!InRange(item, item.selectedval, true))
      return std::string("bad selection for ") + item.name;
  }
  const SetupItemInfo* slots = &program.ItemNamed("Inventory slots");
  const int32_t chosen = slots->selectedval >= 0 ? slots->selectedval : slots->currentval;
  const int32_t slotsize = slots->value[chosen].slotsize;
  const SetupItemInfo* trade = &program.ItemNamed("Trade/give window");
  if (!SlotSizeIs(*trade, trade->selectedval, slotsize)) return "trade window off the slot size";
  for (const char* name : {"Inventory layout", "Small Inventory layout"}) {
    const SetupItemInfo* layout = &program.ItemNamed(name);
    if ((layout->selectedval != -1 && !SlotSizeIs(*layout, layout->selectedval, slotsize)) ||
        !SlotSizeIs(*layout, layout->currentval, slotsize) ||
        !SlotSizeIs(*layout, layout->defaultval, slotsize)) {
      return std::string(name) + " off the slot size";
    }
  }
  return "";
}

// The input is standard input. Read line by line, every line gets the answer
// the model above gives it, and the input then ends; answered through the
// Setup dialogue and the menu and yes/no questions, every question ends with
// an answer it accepts.
inline std::string RunAnswersCase(const uint8_t* data, size_t size) {
  static const std::string path = fuzzscratch::Path(".in");
  if (!fuzzscratch::Write(path, data, size)) return "";
  if (freopen(path.c_str(), "rb", stdin) == nullptr) return "";
  const char* text = reinterpret_cast<const char*>(data);
  std::vector<int> expected;
  for (size_t start = 0; start < size;) {
    const void* feed = memchr(text + start, '\n', size - start);
    const size_t end =
        feed == nullptr ? size : static_cast<size_t>(static_cast<const char*>(feed) - text);
    expected.push_back(
        ExpectedAnswer(std::string(text + start, std::min<size_t>(end - start, 255))));
    start = end + 1;
  }
  auto program = NewProgram();
  if (program == nullptr) return "the item table cannot be built";
  for (size_t i = 0; i < expected.size(); ++i) {
    const int answer = program->GetInput();
    if (answer != expected[i]) {
      return "line " + std::to_string(i + 1) + " gave " + std::to_string(answer) + ", not " +
             std::to_string(expected[i]);
    }
  }
  if (program->GetInput() != -1 || !program->inputended) return "the input did not end";

  if (freopen(path.c_str(), "rb", stdin) == nullptr) return "";
  program = NewProgram();
  if (program->SelectSetup()) {
    std::string problem = CheckDialogue(*program);
    if (!problem.empty()) return problem;
  }
  for (;;) {
    int command = 0, choice = 0;
    bool yes = false;
    if (!program->AskQuestion("", 1, 6, false, false, &command)) break;
    if (command < 1 || command > 6) return "menu answer " + std::to_string(command);
    if (!program->AskYesNo("", &yes)) break;
    if (!program->AskQuestion("", 1, 3, true, false, &choice)) break;
    if (choice != INPUT_EMPTY && (choice < 1 || choice > 3)) {
      return "choice answer " + std::to_string(choice);
    }
  }
  return program->inputended ? "" : "a question gave up before the input ended";
}

}  // namespace settingsfuzz

#endif
