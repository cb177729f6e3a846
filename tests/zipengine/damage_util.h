// Helpers of the engine's own tests: archives written by Python's zipfile at
// test time, byte-level damage to single fields (make a good file, break one
// thing, expect one exact code), and checks of our results by other readers.
#ifndef TESTS_ZIPENGINE_DAMAGE_UTIL_H
#define TESTS_ZIPENGINE_DAMAGE_UTIL_H

#include <zlib.h>

#include <random>

#include <gtest/gtest.h>

#include "test_util.h"

namespace ziptest {

// Runs a Python script with `path`, `args` (further arguments), `zipfile`
// and `zlib` defined; returns its output, throws when it fails.
inline std::string Py(const std::string& path, const std::string& body,
                      const std::vector<std::string>& args = {}) {
  std::vector<std::string> argv = {
      Python(), "-c", "import sys, zipfile, zlib\npath = sys.argv[1]\nargs = sys.argv[2:]\n" + body, path};
  argv.insert(argv.end(), args.begin(), args.end());
  std::string text;
  if (RunCommand(argv, &text) != 0) throw std::runtime_error("python failed:\n" + text);
  return text;
}

// `method` is zipfile's compress_type: 0 stored, 8 deflated.
struct Entry {
  std::string name, data;
  int method;
};

// zipfile writes these entries in this order; names ending in "/" become
// directory entries.
inline void PyZipEntries(const ScopedTempDir& dir, const std::string& path,
                         const std::vector<Entry>& entries) {
  std::vector<std::string> args;
  for (size_t i = 0; i < entries.size(); i++) {
    std::string src = dir.Sub("src-" + std::to_string(i));
    WriteFileBytes(src, entries[i].data);
    args.insert(args.end(), {entries[i].name, src, std::to_string(entries[i].method)});
  }
  Py(path,
     "with zipfile.ZipFile(path, 'w') as z:\n"
     "    for n in range(0, len(args), 3):\n"
     "        i = zipfile.ZipInfo(args[n], date_time=(2020, 1, 1, 12, 0, 0))\n"
     "        i.compress_type = int(args[n + 2])\n"
     "        i.external_attr = ((0o40755 << 16) | 0x10) if args[n].endswith('/') else (0o100644 << 16)\n"
     "        z.writestr(i, open(args[n + 1], 'rb').read())\n",
     args);
}

// zipfile (after its own testzip) must read exactly `expected`, methods
// included, and unzip -t must pass; it only warns (status 1) about an empty
// archive or a stub in front, so `mayWarn` lets those through.
inline void ExpectOthersRead(const std::string& path, const std::vector<Entry>& expected,
                             bool mayWarn = false) {
  std::string listing, out;
  for (const Entry& e : expected) {
    uLong crc = crc32(0, reinterpret_cast<const Bytef*>(e.data.data()), static_cast<uInt>(e.data.size()));
    listing += e.name + " " + std::to_string(e.data.size()) + " " + std::to_string(crc) + " " +
               std::to_string(e.method) + "\n";
  }
  EXPECT_EQ(Py(path, "z = zipfile.ZipFile(path)\nprint(z.testzip() or '', end='')\n"
                     "for i in z.infolist(): d = z.read(i); print(i.filename, len(d), zlib.crc32(d), i.compress_type)\n"),
            listing);
  int rc = RunCommand({"unzip", "-tqq", path}, &out);
  EXPECT_TRUE(rc == 0 || (mayWarn && rc == 1)) << out;
}

inline std::string RandomBytes(size_t size, uint32_t seed) {
  std::mt19937 rng(seed);
  std::string s(size, '\0');
  for (char& c : s) c = static_cast<char>(rng() & 0xFF);
  return s;
}

inline std::string TextBytes(size_t size) {
  std::string s;
  while (s.size() < size) s += "<item id=\"" + std::to_string(s.size() % 977) + "\">skin</item>\n";
  s.resize(size);
  return s;
}

inline uint32_t Get32(const std::string& b, size_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; i--) v = v << 8 | static_cast<unsigned char>(b.at(at + i));
  return v;
}

// Stores `v` little-endian in `bytes` bytes at `at`.
inline void Put(std::string& b, size_t at, uint32_t v, int bytes = 4) {
  for (int i = 0; i < bytes; i++) b.at(at + i) = static_cast<char>(v >> (8 * i));
}

// Offset of the n-th (0-based) record with this signature ("PK\1\2",
// "PK\3\4"), or of the last end record for "PK\5\6".
inline size_t Find(const std::string& b, const char* sig, int n = 0) {
  size_t at = std::string(sig) == "PK\5\6" ? b.rfind(sig) : b.find(sig);
  while (n-- > 0 && at != std::string::npos) at = b.find(sig, at + 1);
  if (at == std::string::npos) throw std::runtime_error("record not found");
  return at;
}

// Field offsets inside the records.
enum {
  kLocalMethod = 8, kLocalCrc = 14, kLocalCompr = 18, kLocalUncompr = 22,
  kCentralMethod = 10, kCentralCrc = 16, kCentralCompr = 20, kCentralUncompr = 24,
  kCentralOffset = 42, kEndEntriesHere = 8, kEndEntries = 10, kEndSize = 12, kEndOffset = 16
};

// The exception code of running `f`, or -1 when it did not throw.
template <typename F>
int CodeOf(F f) {
  try { f(); } catch (const CZipException& e) { return e.m_iCause; }
  return -1;
}

// A temporary folder holding the archive under test at `path_`.
class ArchiveTest : public ::testing::Test {
 protected:
  void Make(const std::vector<Entry>& entries) {
    entries_ = entries;
    PyZipEntries(dir_, path_, entries_);
  }

  ScopedTempDir dir_;
  std::string path_ = dir_.Sub("a.zip");
  std::vector<Entry> entries_;
};

}  // namespace ziptest

#endif
