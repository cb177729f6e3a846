// Helpers shared by the tests: a scoped temp folder, whole-file reads and
// writes, running tools (tools/zipfixtures.py among them), and extracting or
// adding entries the way the program does. POSIX only, like the test build.
#ifndef TESTS_ZIPENGINE_TEST_UTIL_H
#define TESTS_ZIPENGINE_TEST_UTIL_H

#include <stdlib.h>
#include <sys/wait.h>

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "ZipArchive.h"

namespace ziptest {

namespace fs = std::filesystem;

// A copy with a definition, so that the assertion macros can bind to it.
constexpr uint16_t kNotFound = CZipArchive::kNotFound;

// A fresh folder under the system temp folder, removed with everything in
// it when the object goes out of scope.
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

inline std::string ShellQuote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += (c == '\'') ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// Runs argv through the shell with stdout and stderr captured together;
// returns the exit status (-1 when it did not exit normally).
inline int RunCommand(const std::vector<std::string>& argv, std::string* output = nullptr) {
  std::string cmd;
  for (const std::string& a : argv) cmd += ShellQuote(a) + " ";
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

// Runs "tools/zipfixtures.py CMD ARGS... OUT" and returns OUT, a temp folder
// named after the script's text: the script leaves a finished OUT alone, so
// all test processes (ctest runs each test on its own) share one result.
inline fs::path ZipFixtures(const std::string& cmd, std::vector<std::string> args) {
  const std::string script = SourceDir() + "/tools/zipfixtures.py";
  std::ostringstream name;
  name << "vrd-zip" << cmd << "-" << std::hex << std::hash<std::string>()(ReadFileBytes(script));
  fs::path out = fs::temp_directory_path() / name.str();
  args.insert(args.begin(), {Python(), script, cmd});
  args.push_back(out.string());
  std::string log;
  if (RunCommand(args, &log) != 0) throw std::runtime_error("zipfixtures.py failed:\n" + log);
  return out;
}

// The bytes spelt by the hex digits in text; anything else is skipped.
inline std::string FromHex(const std::string& text) {
  std::string digits, bytes;
  for (char c : text) {
    if (isxdigit(static_cast<unsigned char>(c))) digits += c;
  }
  for (size_t i = 0; i + 1 < digits.size(); i += 2) {
    bytes += static_cast<char>(std::stoi(digits.substr(i, 2), nullptr, 16));
  }
  return bytes;
}

// Extracts an entry the way the program does (memory file sized to the
// header, detached and freed afterwards), but never sizes it beyond
// presizeLimit (damaged archives claim up to 4 GiB). Returns ExtractFile's.
inline bool ExtractEntry(CZipArchive& zip, uint16_t index, std::string* bytes,
                         uint32_t presizeLimit = UINT32_MAX) {
  CZipFileHeader* header = zip.GetFileInfo(index);
  if (header == nullptr) return false;
  CZipMemFile mem(1024);
  if (header->m_uUncomprSize <= presizeLimit) mem.SetLength(header->m_uUncomprSize);
  mem.SeekToBegin();
  bool ok = zip.ExtractFile(index, mem, true, 65536);
  size_t length = static_cast<size_t>(mem.GetLength());
  void* block = mem.Detach();
  if (bytes != nullptr) {
    bytes->assign(block != nullptr ? static_cast<const char*>(block) : "", block ? length : 0);
  }
  free(block);
  return ok;
}

// Adds bytes under a name from a memory file, with the program's arguments.
inline bool AddEntry(CZipArchive& zip, const std::string& name, const std::string& bytes) {
  CZipMemFile mem(1024);
  if (!bytes.empty()) mem.Write(bytes.data(), static_cast<uint32_t>(bytes.size()));
  return zip.AddNewFile(mem, name.c_str(), -1, CZipArchive::zipsmSafeSmart, 65536);
}

inline bool IsDirName(const std::string& name) { return !name.empty() && name.back() == '/'; }

}  // namespace ziptest

#endif
