// The engine's platform points on Windows: names with backslashes, lookups
// that ignore letter case as the file system does, and Windows' own texts for
// system errors.
#include <windows.h>

#include <string.h>

#include <vector>

#include "ZipErrorTexts.h"
#include "ZipFormat.h"
#include "ZipPlatform.h"

namespace {

DWORD WINAPI RunWork(LPVOID work) {
  (*static_cast<const std::function<void()>*>(work))();
  return 0;
}

// The C runtime's case-insensitive collation; in the "C" locale it compares
// like _stricmp.
int CompareIgnoringCase(const char* a, const char* b) { return _stricoll(a, b); }

}  // namespace

namespace ZipPlatform {

// New entries of an empty archive are marked as made on MS-DOS/FAT (0): the
// value Windows archivers write, and the one every unzipper reads DOS
// attribute bits for. An archive whose first entry came from elsewhere
// keeps that entry's system.
uint8_t GetSystemID() { return ZipFormat::kHostDos; }

bool GetSystemCaseSensitivity() { return false; }

std::string WindowsErrorText(uint32_t code) {
  const DWORD last = GetLastError();
  char* text = nullptr;
  DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<char*>(&text), 0,
      nullptr);
  std::string result = length > 0 && text != nullptr ? std::string(text, length) : "";
  if (text != nullptr) LocalFree(text);
  while (!result.empty() && strchr("\r\n ", result.back()) != nullptr) result.pop_back();
  // Describing an error must not change it: the same exception may be
  // described more than once.
  SetLastError(last);
  return result;
}

std::string GetSystemErrorDescription() {
  const DWORD error = GetLastError();
  std::string text = error == ERROR_SUCCESS ? "" : WindowsErrorText(error);
  return text.empty() ? ZipErrorTexts::kUnspecified : text;
}

ZipNameCompare GetNameCompare(bool caseSensitive) {
  return caseSensitive ? strcoll : CompareIgnoringCase;
}

char NameCharToPlatform(char c) { return c == '/' ? '\\' : c; }

void NameToPlatform(std::string& name) {
  for (char& c : name) c = NameCharToPlatform(c);
}

// Lookups ignore letter case here, so equal names may differ in their bytes.
bool ComparesAsBytes(ZipNameCompare) { return false; }

// Unix hosts keep the mode in the high 16 bits; every other host system reads
// the DOS attribute bits (archive for a file, directory for a folder).
uint32_t GetDefaultAttributes(uint8_t system, bool directory) {
  const uint32_t dosDirectory = FILE_ATTRIBUTE_DIRECTORY;
  if (system == ZipFormat::kHostUnix) {
    uint32_t mode = directory ? ZipFormat::kUnixDirectoryMode : ZipFormat::kUnixRegularFileMode;
    return (mode << ZipFormat::kUnixModeShift) | (directory ? dosDirectory : 0);
  }
  return directory ? dosDirectory : FILE_ATTRIBUTE_ARCHIVE;
}

// The C++ library of this tool chain has no std::thread: the threads are
// Windows' own.
unsigned GetProcessorCount() {
  DWORD_PTR process = 0, system = 0;
  if (!GetProcessAffinityMask(GetCurrentProcess(), &process, &system)) return 1;
  unsigned count = 0;
  for (; process != 0; process &= process - 1) count++;
  return count > 0 ? count : 1;
}

void RunOnThreads(unsigned extra, const std::function<void()>& work) {
  std::vector<HANDLE> threads;
  threads.reserve(extra);
  for (unsigned n = 0; n < extra; n++) {
    HANDLE thread =
        CreateThread(nullptr, 0, RunWork, const_cast<std::function<void()>*>(&work), 0, nullptr);
    if (thread == nullptr) break;
    threads.push_back(thread);
  }
  work();
  for (HANDLE thread : threads) {
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
  }
}

}  // namespace ZipPlatform
