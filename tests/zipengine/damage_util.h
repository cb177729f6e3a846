// Helpers of the engine's own tests: archives written by Python's zipfile
// at test time, byte-level damage to single fields (LevelDB style: make a
// good file, break one thing, expect one exact error), and readers that
// check what the engine wrote with other tools.
#ifndef TESTS_ZIPENGINE_DAMAGE_UTIL_H
#define TESTS_ZIPENGINE_DAMAGE_UTIL_H

#include <zlib.h>

#include <cstdint>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "test_util.h"

namespace ziptest {

// Runs a zipfile script with `out` (the archive path), `args` (the further
// arguments) and `zipfile`, `zlib` already defined; throws with the
// script's output when it fails.
inline void PyZip(const std::string& out, const std::string& body,
                  const std::vector<std::string>& args = {}) {
  std::string script = "import sys, zipfile, zlib\nout = sys.argv[1]\nargs = sys.argv[2:]\n" + body;
  std::vector<std::string> argv = {Python(), "-c", script, out};
  argv.insert(argv.end(), args.begin(), args.end());
  std::string text;
  if (RunCommand(argv, &text) != 0) throw std::runtime_error("python failed:\n" + text);
}

struct Entry {
  std::string name;
  std::string data;
  int method;  // zipfile's compress_type: 0 stored, 8 deflated, 12 bzip2
};

// An archive of these entries written by zipfile, in this order; names
// ending in "/" become directory entries.
inline void PyZipEntries(const ScopedTempDir& dir, const std::string& out,
                         const std::vector<Entry>& entries) {
  std::vector<std::string> args;
  for (size_t i = 0; i < entries.size(); i++) {
    std::string src = dir.Sub("src-" + std::to_string(i));
    WriteFileBytes(src, entries[i].data);
    args.insert(args.end(), {entries[i].name, src, std::to_string(entries[i].method)});
  }
  PyZip(out,
        "with zipfile.ZipFile(out, 'w') as z:\n"
        "    for n in range(0, len(args), 3):\n"
        "        name, src, method = args[n], args[n + 1], int(args[n + 2])\n"
        "        i = zipfile.ZipInfo(name, date_time=(2020, 1, 1, 12, 0, 0))\n"
        "        i.compress_type = method\n"
        "        i.external_attr = ((0o40755 << 16) | 0x10) if name.endswith('/') else (0o100644 << 16)\n"
        "        z.writestr(i, open(src, 'rb').read())\n",
        args);
}

// Runs a zipfile script that reads `path` (as `path`) and returns its output.
inline std::string PyRead(const std::string& path, const std::string& body, int* status = nullptr) {
  std::string script = "import sys, zipfile, zlib\npath = sys.argv[1]\n" + body;
  std::string text;
  int rc = RunCommand({Python(), "-c", script, path}, &text);
  if (status != nullptr) *status = rc;
  return text;
}

// "name size crc" per entry, after zipfile's own testzip passed; "BAD ..."
// otherwise. The CRC is of the bytes zipfile read back.
inline std::string PyListing(const std::string& path) {
  return PyRead(path,
                "zf = zipfile.ZipFile(path)\n"
                "bad = zf.testzip()\n"
                "if bad: print('BAD', bad)\n"
                "for i in zf.infolist():\n"
                "    d = zf.read(i.filename)\n"
                "    print(i.filename, len(d), '%08x' % zlib.crc32(d))\n");
}

inline std::string ListingLine(const std::string& name, const std::string& data) {
  char crc[16];
  snprintf(crc, sizeof crc, "%08lx",
           crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
  return name + " " + std::to_string(data.size()) + " " + crc + "\n";
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
  return static_cast<uint32_t>(static_cast<unsigned char>(b.at(at))) |
         static_cast<uint32_t>(static_cast<unsigned char>(b.at(at + 1))) << 8 |
         static_cast<uint32_t>(static_cast<unsigned char>(b.at(at + 2))) << 16 |
         static_cast<uint32_t>(static_cast<unsigned char>(b.at(at + 3))) << 24;
}

inline void Put16(std::string& b, size_t at, uint16_t v) {
  b.at(at) = static_cast<char>(v & 0xFF);
  b.at(at + 1) = static_cast<char>(v >> 8);
}

inline void Put32(std::string& b, size_t at, uint32_t v) {
  Put16(b, at, static_cast<uint16_t>(v & 0xFFFF));
  Put16(b, at + 2, static_cast<uint16_t>(v >> 16));
}

// Offset of the n-th (0-based) record with this signature ("PK\1\2",
// "PK\3\4"), or of the last end record for "PK\5\6".
inline size_t Find(const std::string& b, const char* sig, int n = 0) {
  if (std::string(sig) == "PK\5\6") return b.rfind(sig);
  size_t at = b.find(sig);
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
  try {
    f();
  } catch (const CZipException& e) {
    return e.m_iCause;
  }
  return -1;
}

}  // namespace ziptest

#endif
