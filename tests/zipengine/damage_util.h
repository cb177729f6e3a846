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

// Runs a Python script with `path`, `args`, `zipfile` and `zlib` defined.
inline std::string Py(const std::string& path, const std::string& body,
                      std::vector<std::string> args = {}) {
  std::string text, head = "import sys, zipfile, zlib\npath = sys.argv[1]\nargs = sys.argv[2:]\n";
  args.insert(args.begin(), {Python(), "-c", head + body, path});
  if (RunCommand(args, &text) != 0) throw std::runtime_error("python failed:\n" + text);
  return text;
}

// `method` is zipfile's compress_type: 0 stored, 8 deflated.
struct Entry { std::string name, data; int method; };

// zipfile writes these entries in order; a name ending in "/" is a folder.
inline void PyZipEntries(const ScopedTempDir& dir, const std::string& path,
                         const std::vector<Entry>& entries) {
  std::vector<std::string> args;
  for (const Entry& e : entries) {
    std::string src = dir.Sub("src-" + std::to_string(args.size()));
    WriteFileBytes(src, e.data);
    args.insert(args.end(), {e.name, src, std::to_string(e.method)});
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

// zipfile (after its testzip) must read exactly `expected`, and unzip -t pass;
// unzip only warns (status 1, `mayWarn`) about an empty archive or a stub.
inline void ExpectOthersRead(const std::string& path, const std::vector<Entry>& expected,
                             bool mayWarn = false) {
  std::string listing, out;
  for (const Entry& e : expected) {
    uLong crc = crc32(0, reinterpret_cast<const Bytef*>(e.data.data()), static_cast<uInt>(e.data.size()));
    listing += e.name + " " + std::to_string(e.data.size()) + " " + std::to_string(crc) + " " +
               std::to_string(e.method) + "\n";
  }
  EXPECT_EQ(Py(path, "z = zipfile.ZipFile(path)\nprint(z.testzip() or '', end='')\nfor i in z.infolist():\n"
                     "    print(i.filename, i.file_size, zlib.crc32(z.read(i)), i.compress_type)\n"),
            listing);
  int rc = RunCommand({"unzip", "-tqq", path}, &out);
  EXPECT_TRUE(rc == 0 || (mayWarn && rc == 1)) << out;
}

// Seeded bytes of any value, or (text) of eight letters, which deflate well.
inline std::string RandomBytes(size_t size, uint32_t seed, bool text = false) {
  std::mt19937 rng(seed);
  std::string s(size, '\0');
  for (char& c : s) c = static_cast<char>(text ? 'a' + rng() % 8 : rng() & 0xFF);
  return s;
}

inline uint32_t Get32(const std::string& b, size_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; i--) v = v << 8 | static_cast<unsigned char>(b.at(at + i));
  return v;
}

inline void Put(std::string& b, size_t at, uint32_t v, int bytes = 4) {
  for (int i = 0; i < bytes; i++) b.at(at + i) = static_cast<char>(v >> (8 * i));
}

// Offset of the n-th (0-based) record with this signature; for the end record, the last one.
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
  kCentralOffset = 42, kEndEntriesHere = 8, kEndSize = 12, kEndOffset = 16
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
  void Make(const std::vector<Entry>& entries) { PyZipEntries(dir_, path_, entries_ = entries); }

  ScopedTempDir dir_;
  std::string path_ = dir_.Sub("a.zip");
  std::vector<Entry> entries_;
};

}  // namespace ziptest

#endif
