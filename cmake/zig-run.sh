#!/usr/bin/env bash
# Runs `zig cc` or `zig c++` (first argument) for the macOS cross build, with
# what CMake passes minus what Zig's Mach-O linker refuses: CMake's compiler
# check on Darwin links with -Wl,-v. The Zig is build-sources/zig/zig of this
# repository unless VRD_ZIG names another; its caches live in
# ${VRD_CACHE_DIR:-$HOME/.cache/vrdskincfg}/zig-cache, outside any clone, so
# that a fresh clone on the same machine builds warm.
set -euo pipefail
zig=${VRD_ZIG:-$(cd "$(dirname "$0")/.." && pwd)/build-sources/zig/zig}
cache=${VRD_CACHE_DIR:-${HOME:?}/.cache/vrdskincfg}/zig-cache
export ZIG_GLOBAL_CACHE_DIR=$cache ZIG_LOCAL_CACHE_DIR=$cache
mode=$1
shift
args=()
for a in "$@"; do
  [ "$a" = -Wl,-v ] || args+=("$a")
done
exec "$zig" "$mode" "${args[@]}"
