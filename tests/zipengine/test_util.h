// Small helpers shared by the engine tests: a scoped temporary folder, whole
// file reads and writes, running external tools, and the fixture archives
// that tools/zipfixtures.py makes with other ZIP writers. POSIX only, like
// the test build itself.
#ifndef TESTS_ZIPENGINE_TEST_UTIL_H
#define TESTS_ZIPENGINE_TEST_UTIL_H

#include <stdlib.h>
#include <sys/wait.h>

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
  cmd += "2>&1 </dev/null";
  FILE* p = popen(cmd.c_str(), "r");
  if (p == nullptr) return -1;
  std::string text;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) text.append(buf, n);
  int status = pclose(p);
  if (output != nullptr) *output = text;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline bool ToolAvailable(const std::string& tool) {
  return RunCommand({"sh", "-c", "command -v " + ShellQuote(tool)}) == 0;
}

inline std::string SourceDir() { return VRD_SOURCE_DIR; }
inline std::string Python() { return VRD_PYTHON; }

// The archives of tools/zipfixtures.py, made once per script version and
// shared by every test process (ctest runs each test on its own).
struct FixtureSet {
  fs::path dir;
  std::vector<std::string> files;                  // file entry names
  std::vector<std::string> dirs;                   // directory entry names
  std::map<std::string, std::string> archives;     // writer -> zip path
  std::map<std::string, std::string> skipped;      // writer -> reason

  std::string Content(const std::string& name) const {
    return ReadFileBytes(dir / "content" / name);
  }
};

inline FixtureSet LoadFixtures(bool small = false) {
  const std::string script = SourceDir() + "/tools/zipfixtures.py";
  size_t key = std::hash<std::string>()(ReadFileBytes(script));
  std::ostringstream name;
  name << "vrd-zipfixtures-" << (small ? "small-" : "") << std::hex << key;
  FixtureSet set;
  set.dir = fs::temp_directory_path() / name.str();
  std::vector<std::string> argv = {Python(), script, "gen", set.dir.string()};
  if (small) argv.push_back("--small");
  std::string out;
  if (RunCommand(argv, &out) != 0) throw std::runtime_error("zipfixtures.py failed:\n" + out);

  std::istringstream manifest(ReadFileBytes(set.dir / "manifest.txt"));
  std::string line;
  while (std::getline(manifest, line)) {
    std::vector<std::string> f;
    std::istringstream fields(line);
    std::string field;
    while (std::getline(fields, field, '\t')) f.push_back(field);
    if (f.size() == 2 && f[0] == "file") set.files.push_back(f[1]);
    if (f.size() == 2 && f[0] == "dir") set.dirs.push_back(f[1]);
    if (f.size() == 3 && f[0] == "archive") set.archives[f[1]] = (set.dir / f[2]).string();
    if (f.size() == 3 && f[0] == "skipped") set.skipped[f[1]] = f[2];
  }
  return set;
}

// Extracts an entry the way the program does (memory file sized to the
// header, detached and freed afterwards). Returns ExtractFile's result.
inline bool ExtractEntry(CZipArchive& zip, uint16_t index, std::string* bytes) {
  CZipFileHeader* header = zip.GetFileInfo(index);
  if (header == nullptr) return false;
  CZipMemFile mem(1024);
  mem.SetLength(header->m_uUncomprSize);
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
