#!/usr/bin/env bash
# Builds and runs every test: the normal build, the same suite under
# AddressSanitizer and UndefinedBehaviorSanitizer, the engine's threaded
# tests under ThreadSanitizer, a bounded fuzzing run, the macOS-named and
# Windows (under Wine) programs against the end-to-end suite, a clang build
# and the real macOS program cross-built and inspected, then the format and
# lint checks.
source "$(dirname "$0")/script_start.sh"

step "build and test"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$jobs"
ctest --test-dir build -j"$jobs" --output-on-failure

step "AddressSanitizer + UndefinedBehaviorSanitizer"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DVRD_SANITIZE=ON >/dev/null
cmake --build build-asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan -j"$jobs" --output-on-failure

step "ThreadSanitizer on the engine's threaded tests"
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVRD_TSAN=ON >/dev/null
cmake --build build-tsan -j"$jobs" --target zipengine_thread_tests
TSAN_OPTIONS=halt_on_error=1 ctest --test-dir build-tsan -j"$jobs" --output-on-failure -R '^zipengine\.TestFilesTest\.SameAnswersOnEveryWritersAndOddArchives$'

step "fuzzing (bounded)"
bash fuzz/run_fuzz.sh "${VRD_FUZZ_SECONDS:-40}"

step "macOS-named program"
bash tools/ci_macos_variant.sh

step "clang build, macOS program cross-built and inspected"
bash tools/ci_macos_cross.sh

step "Windows program under Wine"
bash tools/ci_windows.sh

step "format and lint"
bash tools/lint.sh
echo
echo "All tests passed."
