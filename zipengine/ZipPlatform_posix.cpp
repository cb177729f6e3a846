#include <errno.h>
#include <locale.h>
#include <sched.h>
#include <string.h>
#include <strings.h>
#include <unistd.h>

#include <system_error>
#include <thread>
#include <vector>

#include "ZipErrorTexts.h"
#include "ZipFormat.h"
#include "ZipPlatform.h"

namespace {

bool IsClassicLocale() {
  const char* name = setlocale(LC_COLLATE, nullptr);
  return name == nullptr || strcmp(name, "C") == 0 || strcmp(name, "POSIX") == 0;
}

}  // namespace

namespace ZipPlatform {

uint8_t GetSystemID() { return ZipFormat::kHostUnix; }

bool GetSystemCaseSensitivity() { return true; }

std::string GetSystemErrorDescription() {
  int error = errno;
  // Only the errno rows of the table describe a system error here.
  const char* text = (error >= 1 && error <= 30) ? ZipErrorTexts::Find(error) : nullptr;
  return text != nullptr ? text : ZipErrorTexts::kUnspecified;
}

ZipNameCompare GetNameCompare(bool caseSensitive) {
  if (caseSensitive || !IsClassicLocale()) return strcoll;
  return strcasecmp;
}

char NameCharToPlatform(char c) { return c == '\\' ? '/' : c; }

void NameToPlatform(std::string& name) {
  for (char& c : name) c = NameCharToPlatform(c);
}

bool ComparesAsBytes(ZipNameCompare compare) { return compare == strcoll && IsClassicLocale(); }

uint32_t GetDefaultAttributes(uint8_t system, bool directory) {
  if (system == ZipFormat::kHostUnix) {
    uint32_t mode = directory ? ZipFormat::kUnixDirectoryMode : ZipFormat::kUnixRegularFileMode;
    return (mode << ZipFormat::kUnixModeShift) | (directory ? ZipFormat::kDosDirectory : 0);
  }
  return directory ? ZipFormat::kDosDirectory : ZipFormat::kDosArchive;
}

unsigned GetProcessorCount() {
#if defined(__linux__)
  // The affinity mask also counts what taskset or a container allows.
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0) {
    return static_cast<unsigned>(CPU_COUNT(&set));
  }
#endif
  long online = sysconf(_SC_NPROCESSORS_ONLN);
  return online > 0 ? static_cast<unsigned>(online) : 1;
}

void RunOnThreads(unsigned extra, const std::function<void()>& work) {
  std::vector<std::thread> threads;
  threads.reserve(extra);
  for (unsigned n = 0; n < extra; n++) {
    try {
      threads.emplace_back(work);
    } catch (const std::system_error&) {
      break;
    }
  }
  work();
  for (std::thread& thread : threads) thread.join();
}

}  // namespace ZipPlatform
