// The bodies of the fuzz targets, shared with the regression test that
// replays the inputs they once failed on. Each returns "" when the engine
// behaved, else what went wrong; crashes and leaks are the sanitizers' job.
#ifndef FUZZ_ZIP_FUZZ_CASES_H
#define FUZZ_ZIP_FUZZ_CASES_H

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "ZipArchive.h"
#include "ZipPlatform.h"
#include "fuzz_scratch.h"
#include "update_oracle.h"

namespace zipfuzz {

// The engine reads archives from disk only.
inline const std::string& ScratchPath() {
  static const std::string path = fuzzscratch::Path(".zip");
  return path;
}

inline std::string ReadScratch() { return fuzzscratch::Read(ScratchPath()); }

inline bool WriteScratch(const uint8_t* data, size_t size) {
  return fuzzscratch::Write(ScratchPath(), data, size);
}

// Extracts like the program.
inline bool Extract(CZipArchive& zip, uint16_t index, std::string* bytes) {
  CZipMemFile mem(1024);
  bool ok = false;
  try {
    ok = zip.ExtractToMemory(index, mem);
  } catch (const CZipException&) {
    ok = false;
  }
  size_t length = static_cast<size_t>(mem.GetLength());
  void* block = mem.Detach();
  if (bytes != nullptr && block != nullptr) bytes->assign(static_cast<char*>(block), length);
  free(block);
  return ok;
}

inline bool Test(CZipArchive& zip, uint16_t index) {
  try {
    return zip.TestFile(index, 65536);
  } catch (const CZipException&) {
    return false;
  }
}

inline bool OpenArchive(CZipArchive& zip) {
  try {
    if (zip.Open(ScratchPath().c_str())) return true;
  } catch (const CZipException&) {
  }
  zip.Close();
  return false;
}

// Looks up, tests and extracts every entry of an open archive, then closes it.
inline std::string ExerciseEntries(CZipArchive& zip) {
  std::string problem;
  for (uint16_t i = 0; problem.empty() && i < zip.GetCount(); ++i) {
    CZipFileHeader* header = zip.GetFileInfo(i);
    if (header == nullptr) {
      problem = "no header below the count";
      break;
    }
    std::string name = header->GetFileName();
    if (zip.FindFile(name.c_str()) == CZipArchive::kNotFound) problem = "FindFile misses " + name;
    Test(zip, i);
    Extract(zip, i, nullptr);
  }
  zip.Close();
  return problem;
}

// What TestFiles reports for every entry on `threads` threads (splitting
// even the smallest archive).
inline std::string TestOutcomes(CZipArchive& zip, unsigned threads) {
  std::string got;
  zip.TestFiles(
      [&](uint16_t index, CZipArchive::TestOutcome outcome, const CZipException* e) {
        got += std::to_string(index) + ":" + std::to_string(outcome);
        if (e != nullptr) got += "/" + std::to_string(e->m_iCause);
        got += " ";
        return true;
      },
      65536, threads, 0);
  return got;
}

// Read-only: open, test every entry on one and on three threads (the same
// answers), then test and extract every entry.
inline std::string RunOpenCase(const uint8_t* data, size_t size) {
  if (!WriteScratch(data, size)) return "";
  CZipArchive zip;
  if (!OpenArchive(zip)) return "";
  const std::string one = TestOutcomes(zip, 1);
  const std::string three = TestOutcomes(zip, 3);
  if (three != one) return "threads answer otherwise: " + three + "instead of " + one;
  return ExerciseEntries(zip);
}

// Where the end record nearest to the end of `archive` (as the engine finds
// it) says the central directory starts; UINT32_MAX when there is none.
inline uint64_t DirectoryOffset(const std::string& archive) {
  const size_t kWindow = 65535 + 22;
  size_t from = archive.size() > kWindow ? archive.size() - kWindow : 0;
  size_t at = archive.rfind(std::string("PK\5\6", 4));
  if (at == std::string::npos || at < from || at + 20 > archive.size()) return UINT32_MAX;
  uint64_t offset = 0;
  for (int i = 3; i >= 0; --i) offset = offset << 8 | static_cast<uint8_t>(archive[at + 16 + i]);
  return offset;
}

// Whether an update must keep the archive intact: every entry tests, and in
// index order the entries lie one after another, the last one before the
// central directory. (A removal takes the bytes from an entry's header to
// the next one's, and a change cuts the old directory away, so entries that
// overlap each other or the directory, or a bogus volume number that
// reorders them, may fairly be refused.)
inline bool IsSound(CZipArchive& zip, uint64_t directory) {
  bool sound = true;
  for (uint16_t i = 0; i < zip.GetCount(); ++i) {
    sound = Test(zip, i) && sound;
    CZipFileHeader* header = zip.GetFileInfo(i);
    uint64_t end = uint64_t{header->m_uOffset} + header->m_uLocalHeaderSize + header->m_uComprSize;
    CZipFileHeader* next = zip.GetFileInfo(static_cast<uint16_t>(i + 1));
    if (end > (next != nullptr ? next->m_uOffset : directory)) sound = false;
  }
  return sound;
}

// What the four steering bytes ask of an update: one removal and one addition.
struct UpdateSteps {
  uint8_t removeSel, addSel, nameSel, levelSel;
  std::string added;   // the bytes to add
  uint64_t directory;  // DirectoryOffset of the archive
  bool Changes() const { return removeSel % 4 != 0 || addSel % 6 != 0; }
};

// How an update went: the engine's answers and the oracle's, and what the
// archive should hold afterwards.
struct UpdateOutcome {
  std::string answers, expected;
  std::string name;  // of the added entry
  uint16_t count = 0;
  bool sound = true;
  bool didAdd = false;
};

inline std::string OracleAnswer(char done, int code) {
  if (code > 0) return "E" + std::to_string(code);
  return code == ziporacle::UpdateOracle::kDone ? std::string(1, done) : "-";
}

inline UpdateOutcome ApplySteps(CZipArchive& zip, ziporacle::UpdateOracle& oracle,
                                const UpdateSteps& s) {
  UpdateOutcome o;
  o.sound = IsSound(zip, s.directory);
  o.count = zip.GetCount();
  o.name = "fuzz/added" + std::to_string(s.nameSel % 3) + ".bin";
  try {
    if (zip.GetCount() > 0 && s.removeSel % 4 != 0) {
      uint16_t index = static_cast<uint16_t>(s.removeSel % zip.GetCount());
      CZipFileHeader* header = zip.GetFileInfo(index);
      // Replace, like the program. Its names are plain: never "", "dir/" or
      // with a NUL inside (stored as "file<n>", as a folder, or cut short).
      std::string old = header->GetFileName();
      bool plain = !old.empty() && old.back() != '/' && old.find('\0') == std::string::npos;
      if ((s.nameSel & 0x80) && plain) o.name = old;
      o.expected += OracleAnswer('r', oracle.Remove(index));
      bool removed = zip.RemoveFile(index, true);
      o.answers += removed ? "r" : "-";
      if (removed) --o.count;
    }
  } catch (const CZipException& e) {
    o.sound = false;
    o.answers += "E" + std::to_string(e.m_iCause);
  }
  if (o.answers.find('E') == std::string::npos && s.addSel % 6 != 0 &&
      zip.FindFile(o.name.c_str()) == CZipArchive::kNotFound) {
    const int level = static_cast<int>(s.levelSel % 11) - 1;
    try {
      CZipMemFile mem(1024);
      if (!s.added.empty()) mem.Write(s.added.data(), static_cast<uint32_t>(s.added.size()));
      o.didAdd = zip.AddNewFile(mem, o.name.c_str(), level, CZipArchive::zipsmSafeSmart, 65536);
      o.answers += o.didAdd ? "a" : "-";
    } catch (const CZipException& e) {
      o.sound = false;
      o.answers += "E" + std::to_string(e.m_iCause);
    }
    // The oracle stamps the entry as the engine did (or would have).
    uint32_t stamp = ziporacle::UpdateOracle::StampOf(time(nullptr));
    if (o.didAdd) {
      ++o.count;
      CZipFileHeader* added = zip.GetFileInfo(static_cast<uint16_t>(zip.GetCount() - 1));
      stamp = static_cast<uint32_t>(added->m_uModDate) << 16 | added->m_uModTime;
    }
    const uint32_t attributes = ZipPlatform::GetDefaultAttributes(oracle.System(), false);
    o.expected += OracleAnswer('a', oracle.Add(o.name, s.added, level, stamp, attributes));
  }
  try {
    zip.Close();
  } catch (const CZipException& e) {
    o.answers += " close E" + std::to_string(e.m_iCause);
  }
  return o;
}

// The steps through OpenForUpdate, with the scratch file as its source; the
// output's bytes go to *output, the oracle's to *reference. False when the
// archive did not open.
inline bool UpdateThroughOutput(const std::string& original, const UpdateSteps& steps,
                                UpdateOutcome* outcome, std::string* output,
                                std::string* reference) {
  const std::string outPath = ScratchPath() + ".out";
  bool opened = false;
  {
    CZipFile source, out;
    if (!source.Open(ScratchPath().c_str(), CZipFile::modeRead, false) ||
        !out.Open(outPath.c_str(), CZipFile::modeReadWrite | CZipFile::modeCreate, false)) {
      return false;
    }
    CZipArchive zip;
    try {
      opened = zip.OpenForUpdate(source, out);
    } catch (const CZipException&) {
    }
    if (opened) {
      ziporacle::UpdateOracle oracle(original, zip);
      *outcome = ApplySteps(zip, oracle, steps);
      *reference = oracle.Result();
    }
    zip.Close(CZipArchive::closeDiscard);
    std::string bytes;
    char buffer[4096];
    out.SeekToBegin();
    for (uint32_t n; (n = out.Read(buffer, sizeof buffer)) > 0;) bytes.append(buffer, n);
    *output = bytes;
  }
  remove(outPath.c_str());
  return opened;
}

// Read-write: the first four bytes steer one removal and one addition, the
// rest is the archive. The update runs through OpenForUpdate, whose source
// must stay as it was, and in the oracle: both must answer alike and write
// the same bytes. When the archive was sound before, the result must be
// sound too and hold the added bytes.
inline std::string RunUpdateCase(const uint8_t* data, size_t size) {
  if (size < 4) return "";
  const std::string original(reinterpret_cast<const char*>(data + 4), size - 4);
  UpdateSteps steps = {data[0], data[1], data[2], data[3], "", DirectoryOffset(original)};
  static const uint32_t kSizes[] = {0, 0, 4, 5, 300, 70000};
  for (uint32_t i = 0, n = kSizes[steps.addSel % 6]; i < n; ++i) {
    steps.added += static_cast<char>((steps.addSel & 0x80) ? (i * 2654435761u) >> 13 : 'a' + i % 7);
  }
  if (!WriteScratch(data + 4, size - 4)) return "";

  UpdateOutcome o;
  std::string output, reference;
  bool opened = UpdateThroughOutput(original, steps, &o, &output, &reference);
  if (ReadScratch() != original) return "OpenForUpdate wrote to its source";
  if (!opened) return "";
  if (o.answers.find("close") != std::string::npos) return "";
  if (o.answers != o.expected) return "answered " + o.answers + ", the oracle " + o.expected;
  if (o.answers.find('E') == std::string::npos && output != reference)
    return "OpenForUpdate wrote other bytes than the oracle";
  if (!steps.Changes() && output != original) return "an unchanged archive was rewritten";
  if (!WriteScratch(reinterpret_cast<const uint8_t*>(output.data()), output.size())) return "";

  CZipArchive again;
  bool reopened = OpenArchive(again);
  if (!o.sound) return reopened ? ExerciseEntries(again) : "";
  if (!reopened) return "a sound archive no longer opens after the update";
  std::string problem;
  if (again.GetCount() != o.count) problem = "entry count changed unexpectedly";
  for (uint16_t i = 0; problem.empty() && i < again.GetCount(); ++i) {
    if (!Test(again, i)) problem = "entry " + std::to_string(i) + " no longer tests";
  }
  if (problem.empty() && o.didAdd) {
    std::string bytes;
    uint16_t index = again.FindFile(o.name.c_str());
    if (index == CZipArchive::kNotFound || !Extract(again, index, &bytes) || bytes != steps.added) {
      problem = "the added entry does not read back";
    }
  }
  again.Close();
  return problem;
}

}  // namespace zipfuzz

#endif
