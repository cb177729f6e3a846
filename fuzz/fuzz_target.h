// The common frame of the fuzz targets: a problem that a case body reports
// ends the run like a crash, so that libFuzzer keeps the input.
#ifndef FUZZ_FUZZ_TARGET_H
#define FUZZ_FUZZ_TARGET_H

#include <cstdio>
#include <cstdlib>
#include <string>

namespace fuzztarget {

inline int Verdict(const char* target, const std::string& problem) {
  if (problem.empty()) return 0;
  fprintf(stderr, "%s: %s\n", target, problem.c_str());
  abort();
}

// The program's messages would drown the fuzzer's own report.
inline int SilenceStdout() { return freopen("/dev/null", "w", stdout) == nullptr; }

}  // namespace fuzztarget

#endif
