#include <errno.h>
#include <locale.h>
#include <string.h>
#include <strings.h>

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

void NameToPlatform(std::string& name) {
  for (char& c : name) {
    if (c == '\\') c = '/';
  }
}

uint32_t GetDefaultAttributes(uint8_t system, bool directory) {
  if (system == ZipFormat::kHostUnix) {
    uint32_t mode = directory ? ZipFormat::kUnixDirectoryMode : ZipFormat::kUnixRegularFileMode;
    return (mode << ZipFormat::kUnixModeShift) | (directory ? ZipFormat::kDosDirectory : 0);
  }
  return directory ? ZipFormat::kDosDirectory : ZipFormat::kDosArchive;
}

}  // namespace ZipPlatform
