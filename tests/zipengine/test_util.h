// Helpers shared by the tests (POSIX only): temp folders, files, tools, and archives from
// Python's zipfile that engine tests damage one field at a time, expecting one exact code.
#ifndef TESTS_ZIPENGINE_TEST_UTIL_H
#define TESTS_ZIPENGINE_TEST_UTIL_H

#include <stdlib.h>
#include <sys/wait.h>
#include <zlib.h>

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ZipArchive.h"
#include "ZipFormat.h"

namespace ziptest {

namespace fs = std::filesystem;

// A copy with a definition, so that the assertion macros can bind to it.
constexpr uint16_t kNotFound = CZipArchive::kNotFound;

class ScopedTempDir {
 public:
  ScopedTempDir() {
    std::string tmpl = (fs::temp_directory_path() / "vrdzip-XXXXXX").string();
    if (mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = tmpl;
  }
  ~ScopedTempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  ScopedTempDir(const ScopedTempDir&) = delete;  // would remove the folder twice
  ScopedTempDir& operator=(const ScopedTempDir&) = delete;
  const fs::path& path() const { return path_; }
  std::string Sub(const std::string& name) const { return (path_ / name).string(); }

 private:
  fs::path path_;
};

inline std::string ReadFileBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteFileBytes(const fs::path& path, const std::string& data) {
  if (path.has_parent_path()) fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(data.data(), static_cast<std::streamsize>(data.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

// Runs argv (quoted) through the shell; returns the exit status, -1 if none.
inline int RunCommand(const std::vector<std::string>& argv, std::string* output = nullptr) {
  std::string cmd;
  for (const std::string& a : argv) {
    cmd += "'";
    for (char c : a) cmd += c == '\'' ? std::string("'\\''") : std::string(1, c);
    cmd += "' ";
  }
  FILE* p = popen((cmd + "2>&1 </dev/null").c_str(), "r");
  if (p == nullptr) return -1;
  std::string text;
  char buf[4096];
  for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) text.append(buf, n);
  int status = pclose(p);
  if (output != nullptr) *output = text;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline std::string SourceDir() { return VRD_SOURCE_DIR; }
inline std::string Python() { return VRD_PYTHON; }

// The odd-archive corpus, from the VRD_ZIP_CORPUS_DIR cache variable.
inline fs::path CorpusDir() { return VRD_ZIP_CORPUS_DIR; }

// In CI (CI=true) a missing corpus fails the test; elsewhere it skips it,
// with a line on standard error that no summary hides.
#define VRD_REQUIRE_CORPUS(found)                                                  \
  do {                                                                             \
    if (!(found)) {                                                                \
      const char* ci = getenv("CI");                                               \
      fprintf(stderr, "*** NO ZIP CORPUS at %s (set VRD_ZIP_CORPUS_DIR)\n",        \
              ziptest::CorpusDir().string().c_str());                              \
      if (ci != nullptr && std::string(ci) == "true") FAIL() << "no corpus in CI"; \
      GTEST_SKIP() << "no corpus at " << ziptest::CorpusDir();                     \
    }                                                                              \
  } while (0)

// Runs "tools/zipfixtures.py CMD ARGS... OUT"; OUT is named after the script's
// text and left alone once finished, so all test processes share it.
inline fs::path ZipFixtures(const std::string& cmd, std::vector<std::string> args) {
  const std::string script = SourceDir() + "/tools/zipfixtures.py";
  std::ostringstream name;
  name << "vrd-zip" << cmd << "-" << std::hex << std::hash<std::string>()(ReadFileBytes(script));
  fs::path out = fs::temp_directory_path() / name.str();
  // A finished set carries its marker: no interpreter start (a second or
  // more each) for every one of the hundreds of test processes.
  if (fs::exists(out / "manifest.txt") || fs::exists(out / "done")) return out;
  args.insert(args.begin(), {Python(), script, cmd});
  args.push_back(out.string());
  std::string log;
  if (RunCommand(args, &log) != 0) throw std::runtime_error("zipfixtures.py failed:\n" + log);
  return out;
}

// The bytes spelt by the hex digits in text; anything else is skipped.
inline std::string FromHex(const std::string& text) {
  std::string hex, bytes;
  for (char c : text) hex += isxdigit(static_cast<unsigned char>(c)) ? std::string(1, c) : "";
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    bytes += char(std::stoi(hex.substr(i, 2), nullptr, 16));
  return bytes;
}

// Extracts an entry the way the program does; the bytes are what the
// memory file holds afterwards.
inline bool ExtractEntry(CZipArchive& zip, uint16_t index, std::string* bytes) {
  CZipMemFile mem(1024);
  bool ok = zip.ExtractToMemory(index, mem);
  size_t length = static_cast<size_t>(mem.GetLength());
  char* block = static_cast<char*>(mem.Detach());
  if (bytes != nullptr) bytes->assign(block != nullptr ? block : "", block != nullptr ? length : 0);
  free(block);
  return ok;
}

// The archive at `path` changed the way the program changes one: through
// OpenForUpdate into a new file, which takes the archive's place when
// Close wrote it.
struct UpdatedArchive {
  explicit UpdatedArchive(std::string p) : path(std::move(p)) {}
  // Throws what OpenForUpdate throws.
  bool Open() {
    source.Open(path.c_str(), CZipFile::modeRead, true);
    output.Open((path + ".new").c_str(), CZipFile::modeReadWrite | CZipFile::modeCreate, true);
    return zip.OpenForUpdate(source, output);
  }
  std::string Close() {
    std::string closed = zip.Close();
    const bool written = !output.IsClosed() && output.GetLength() > 0;
    source.Close();
    output.Close();
    if (written) fs::rename(path + ".new", path);
    return closed;
  }

  std::string path;
  CZipFile source, output;
  CZipArchive zip;  // goes before the files it writes to
};

// With the program's arguments.
inline bool AddEntry(CZipArchive& zip, const std::string& name, const std::string& bytes,
                     int level = -1) {
  CZipMemFile mem(1024);
  if (!bytes.empty()) mem.Write(bytes.data(), static_cast<uint32_t>(bytes.size()));
  return zip.AddNewFile(mem, name.c_str(), level, CZipArchive::zipsmSafeSmart, 65536);
}

inline bool IsDirName(const std::string& name) { return !name.empty() && name.back() == '/'; }

// Seeded bytes of any value, or (text) of eight letters, which deflate well.
inline std::string RandomBytes(size_t size, uint32_t seed, bool text = false) {
  std::mt19937 rng(seed);
  std::string s(size, '\0');
  for (char& c : s) c = static_cast<char>(text ? 'a' + rng() % 8 : rng() & 0xFF);
  return s;
}

// Runs a Python script with `path`, `args`, `zipfile` and `zlib` defined.
inline std::string Py(const std::string& path, const std::string& body,
                      std::vector<std::string> args = {}) {
  std::string text, head = "import sys, zipfile, zlib\npath = sys.argv[1]\nargs = sys.argv[2:]\n";
  args.insert(args.begin(), {Python(), "-c", head + body, path});
  if (RunCommand(args, &text) != 0) throw std::runtime_error("python failed:\n" + text);
  return text;
}

// An entry for zipfile: method 0 stored, 8 deflated; a name ending in "/" is a folder.
struct Entry {
  std::string name, data;
  int method;
};

// zipfile must read exactly `expected`, and unzip -t pass (or, mayWarn, only
// warn about an empty archive or a stub).
inline void ExpectOthersRead(const std::string& path, const std::vector<Entry>& expected,
                             bool mayWarn = false) {
  std::string listing, out;
  for (const Entry& e : expected) {
    uLong crc =
        crc32(0, reinterpret_cast<const Bytef*>(e.data.data()), static_cast<uInt>(e.data.size()));
    listing += e.name + " " + std::to_string(e.data.size()) + " " + std::to_string(crc) + " " +
               std::to_string(e.method) + "\n";
  }
  EXPECT_EQ(
      Py(path,
         "z = zipfile.ZipFile(path)\nprint(z.testzip() or '', end='')\nfor i in z.infolist():\n"
         "    print(i.filename, i.file_size, zlib.crc32(z.read(i)), i.compress_type)\n"),
      listing);
  int rc = RunCommand({"unzip", "-tqq", path}, &out);
  EXPECT_TRUE(rc == 0 || (mayWarn && rc == 1)) << out;
}

inline uint32_t Get32(const std::string& b, size_t at) {
  auto byte = [&](size_t i) { return uint32_t(uint8_t(b.at(at + i))) << (8 * i); };
  return byte(0) | byte(1) | byte(2) | byte(3);
}

inline void Put(std::string& b, size_t at, uint32_t v, int bytes = 4) {
  for (int i = 0; i < bytes; i++) b.at(at + i) = static_cast<char>(v >> (8 * i));
}

// Offset of the n-th (0-based) record with this signature.
inline size_t Find(const std::string& b, const char* sig, int n = 0) {
  size_t at = b.find(sig);
  while (n-- > 0 && at != std::string::npos) at = b.find(sig, at + 1);
  if (at == std::string::npos) throw std::runtime_error("record not found");
  return at;
}

// Record layouts and field values, as the engine names them.
using namespace ZipFormat;

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

// A temp folder with the archive under test, which Make has zipfile write.
class ArchiveTest : public ::testing::Test {
 protected:
  void Make(const std::vector<Entry>& entries) {
    std::vector<std::string> args;
    for (const Entry& e : entries_ = entries) {
      std::string src = dir_.Sub("src-" + std::to_string(args.size()));
      WriteFileBytes(src, e.data);
      args.insert(args.end(), {e.name, src, std::to_string(e.method)});
    }
    Py(path_,
       "with zipfile.ZipFile(path, 'w') as z:\n"
       "    for n in range(0, len(args), 3):\n"
       "        i = zipfile.ZipInfo(args[n], date_time=(2020, 1, 1, 12, 0, 0))\n"
       "        i.compress_type = int(args[n + 2])\n"
       "        i.external_attr = ((0o40755 << 16) | 0x10) if args[n].endswith('/') else (0o100644 "
       "<< 16)\n"
       "        z.writestr(i, open(args[n + 1], 'rb').read())\n",
       args);
  }

  ScopedTempDir dir_;
  std::string path_ = dir_.Sub("a.zip");
  std::vector<Entry> entries_;
};

}  // namespace ziptest

#endif
