#!/usr/bin/env bash
# The macOS program for real, as far as Linux can check it: first the Linux
# program built with clang (-Werror), so that clang-only warnings show before
# the cross build; then the universal vrdskincfgm cross-built with Zig
# (tools/build_macos.sh, into build-macos-cross/) and inspected by
# tools/check_macos_program.py: both slices, macOS and its minimum version,
# only libSystem linked, every imported symbol in that version's libSystem,
# no build paths, the arm64 signature's page hashes. (That two builds give
# the same bytes, tools/ci_release.sh checks on the release's two builds.)
source "$(dirname "$0")/script_start.sh"

step "Linux program built with clang"
cmake -S . -B build-clang -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build build-clang --target vrdskincfg -j"$jobs"

step "macOS program cross-built (arm64 + x86_64)"
start=$SECONDS
bash tools/build_macos.sh build-macos-cross
echo "$((SECONDS - start)) s"

step "macOS program inspected"
python3 tools/check_macos_program.py build-macos-cross/vrdskincfgm
