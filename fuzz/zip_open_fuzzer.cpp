// libFuzzer target: the input is an archive file, opened read-only; every
// entry is looked up, tested and extracted.
#include <cstdio>
#include <cstdlib>

#include "zip_fuzz_cases.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string problem = zipfuzz::RunOpenCase(data, size);
  if (!problem.empty()) {
    fprintf(stderr, "zip_open_fuzzer: %s\n", problem.c_str());
    abort();
  }
  return 0;
}
