// One scratch file per process and name ending for the fuzz targets: the code
// under test reads its input from a file, as the program does.
#ifndef FUZZ_FUZZ_SCRATCH_H
#define FUZZ_FUZZ_SCRATCH_H

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace fuzzscratch {

inline std::string Path(const char* ending) {
  const char* dir = getenv("TMPDIR");
  return std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/vrdfuzz-" +
         std::to_string(getpid()) + ending;
}

inline std::string Read(const std::string& path) {
  std::string data;
  FILE* f = fopen(path.c_str(), "rb");
  if (f == nullptr) return data;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) data.append(buffer, n);
  fclose(f);
  return data;
}

inline bool Write(const std::string& path, const uint8_t* data, size_t size) {
  FILE* f = fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  bool ok = size == 0 || fwrite(data, 1, size, f) == size;
  return fclose(f) == 0 && ok;
}

}  // namespace fuzzscratch

#endif
