#include <errno.h>
#include <locale.h>
#include <string.h>
#include <strings.h>

#include "ZipErrorTexts.h"
#include "ZipPlatform.h"

namespace {

const uint8_t kUnix = 3;
const uint32_t kRegularFileMode = 0100644;
const uint32_t kDirectoryMode = 040755;
const uint32_t kDosDirectory = 0x10;
const uint32_t kDosArchive = 0x20;

bool IsClassicLocale() {
  const char* name = setlocale(LC_COLLATE, nullptr);
  return name == nullptr || strcmp(name, "C") == 0 || strcmp(name, "POSIX") == 0;
}

}  // namespace

namespace ZipPlatform {

uint8_t GetSystemID() { return kUnix; }

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

void NameToPlatform(std::string& name) {
  for (char& c : name) {
    if (c == '\\') c = '/';
  }
}

uint32_t GetDefaultAttributes(uint8_t system, bool directory) {
  if (system == kUnix) {
    uint32_t mode = directory ? kDirectoryMode : kRegularFileMode;
    return (mode << 16) | (directory ? kDosDirectory : 0);
  }
  return directory ? kDosDirectory : kDosArchive;
}

}  // namespace ZipPlatform
