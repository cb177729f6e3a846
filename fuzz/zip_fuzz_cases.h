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
#include "fuzz_scratch.h"

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

// Extracts like the program (memory file preset to the claimed size), but
// presets only modest sizes: a damaged header can claim gigabytes.
inline bool Extract(CZipArchive& zip, uint16_t index, std::string* bytes) {
  CZipFileHeader* header = zip.GetFileInfo(index);
  if (header == nullptr) return false;
  CZipMemFile mem(1024);
  if (header->m_uUncomprSize <= (1u << 20)) mem.SetLength(header->m_uUncomprSize);
  mem.SeekToBegin();
  bool ok = false;
  try {
    ok = zip.ExtractFile(index, mem, true, 65536);
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

inline bool OpenArchive(CZipArchive& zip, int mode) {
  try {
    if (zip.Open(ScratchPath().c_str(), mode)) return true;
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

// Read-only: open, then test and extract every entry.
inline std::string RunOpenCase(const uint8_t* data, size_t size) {
  if (!WriteScratch(data, size)) return "";
  CZipArchive zip;
  if (!OpenArchive(zip, CZipArchive::zipOpenReadOnly)) return "";
  return ExerciseEntries(zip);
}

// Whether an update must keep the archive intact: every entry tests, and in
// index order the entries lie one after another. (A removal takes the bytes
// from an entry's header to the next one's, so entries that overlap, or a
// bogus volume number that reorders them, may fairly be refused.)
inline bool IsSound(CZipArchive& zip) {
  bool sound = true;
  for (uint16_t i = 0; i < zip.GetCount(); ++i) {
    sound = Test(zip, i) && sound;
    CZipFileHeader* header = zip.GetFileInfo(i);
    if (i > 0) {
      CZipFileHeader* prev = zip.GetFileInfo(static_cast<uint16_t>(i - 1));
      uint64_t prevEnd = uint64_t{prev->m_uOffset} + prev->m_uLocalHeaderSize + prev->m_uComprSize;
      if (prevEnd > header->m_uOffset) sound = false;
    }
  }
  return sound;
}

// Read-write: the first four bytes steer one removal and one addition, the
// rest is the archive. When the archive was sound before, the result must
// be sound too and hold the added bytes.
inline std::string RunUpdateCase(const uint8_t* data, size_t size) {
  if (size < 4) return "";
  const uint8_t removeSel = data[0], addSel = data[1], nameSel = data[2], levelSel = data[3];
  if (!WriteScratch(data + 4, size - 4)) return "";

  CZipArchive zip;
  if (!OpenArchive(zip, CZipArchive::zipOpen)) return "";
  bool sound = IsSound(zip);

  uint16_t expected = zip.GetCount();
  std::string name = "fuzz/added" + std::to_string(nameSel % 3) + ".bin";
  try {
    if (zip.GetCount() > 0 && removeSel % 4 != 0) {
      uint16_t index = static_cast<uint16_t>(removeSel % zip.GetCount());
      CZipFileHeader* header = zip.GetFileInfo(index);
      // Replace, like the program. Its names are plain: never "", "dir/" or
      // with a NUL inside (stored as "file<n>", as a folder, or cut short).
      std::string old = header->GetFileName();
      bool plain = !old.empty() && old.back() != '/' && old.find('\0') == std::string::npos;
      if ((nameSel & 0x80) && plain) name = old;
      if (zip.RemoveFile(index, true)) --expected;
    }
  } catch (const CZipException&) {
    sound = false;
  }

  static const uint32_t kSizes[] = {0, 0, 4, 5, 300, 70000};
  uint32_t addSize = kSizes[addSel % 6];
  std::string added;
  for (uint32_t i = 0; i < addSize; ++i) {
    added += static_cast<char>((addSel & 0x80) ? (i * 2654435761u) >> 13 : 'a' + i % 7);
  }
  bool didAdd = false;
  if (addSel % 6 != 0 && zip.FindFile(name.c_str()) == CZipArchive::kNotFound) {
    try {
      CZipMemFile mem(1024);
      if (!added.empty()) mem.Write(added.data(), static_cast<uint32_t>(added.size()));
      didAdd = zip.AddNewFile(mem, name.c_str(), static_cast<int>(levelSel % 11) - 1,
                              CZipArchive::zipsmSafeSmart, 65536);
      if (didAdd) ++expected;
    } catch (const CZipException&) {
      sound = false;
    }
  }
  try {
    zip.Close();
  } catch (const CZipException&) {
    return "";
  }
  // Opening for writing and closing without a change writes nothing.
  bool changed = removeSel % 4 != 0 || addSel % 6 != 0;
  if (!changed && ReadScratch() != std::string(reinterpret_cast<const char*>(data + 4), size - 4)) {
    return "an unchanged archive was rewritten";
  }

  CZipArchive again;
  bool reopened = OpenArchive(again, CZipArchive::zipOpenReadOnly);
  if (!sound) return reopened ? ExerciseEntries(again) : "";
  if (!reopened) return "a sound archive no longer opens after the update";
  std::string problem;
  if (again.GetCount() != expected) problem = "entry count changed unexpectedly";
  for (uint16_t i = 0; problem.empty() && i < again.GetCount(); ++i) {
    if (!Test(again, i)) problem = "entry " + std::to_string(i) + " no longer tests";
  }
  if (problem.empty() && didAdd) {
    std::string bytes;
    uint16_t index = again.FindFile(name.c_str());
    if (index == CZipArchive::kNotFound || !Extract(again, index, &bytes) || bytes != added) {
      problem = "the added entry does not read back";
    }
  }
  again.Close();
  return problem;
}

}  // namespace zipfuzz

#endif
