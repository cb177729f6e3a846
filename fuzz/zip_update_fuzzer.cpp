// libFuzzer target: four steering bytes and an archive file; the archive is
// opened read-write, one entry removed and one added as the bytes say, then
// closed and opened again.
#include <cstdio>
#include <cstdlib>

#include "zip_fuzz_cases.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string problem = zipfuzz::RunUpdateCase(data, size);
  if (!problem.empty()) {
    fprintf(stderr, "zip_update_fuzzer: %s\n", problem.c_str());
    abort();
  }
  return 0;
}
