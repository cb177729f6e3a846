#!/usr/bin/env bash
# Builds the macOS-named program (vrdskincfgm) here on Linux into build-macos/
# and runs the end-to-end suite against it under that name. It also refuses
# Linux-only file calls in the POSIX platform code, which macOS does not have.
source "$(dirname "$0")/script_start.sh"

step "POSIX code uses calls macOS has"
# macOS has a 64-bit off_t and no *64 variants or O_LARGEFILE.
calls='lseek64|ftruncate64|pread64|pwrite64|fstat64|stat64|lstat64|open64|fopen64|off64_t'
calls+='|O_LARGEFILE|O_DIRECT|O_NOATIME|O_TMPFILE|fallocate|sendfile|copy_file_range|renameat2'
calls+='|syncfs|mkostemp|getrandom|strchrnul|get_current_dir_name|canonicalize_file_name'
linux_only="\\b($calls)\\b"
# Blocks under `#if VRD_LINUX_CALLS` or `#if VRD_HAVE_...` (the generated
# sysconfig.h) are compiled only where the system has the call.
hits=$(for f in src/*.cpp src/*.h zipengine/*.cpp zipengine/*.h; do
         case "$f" in *_win.cpp|*/linuxcalls.h) continue ;; esac
         awk -v file="$f" '
           /^[[:space:]]*#[[:space:]]*if/ { depth++; if ($0 ~ /VRD_LINUX_CALLS|VRD_HAVE_/ && skip == 0) skip = depth }
           skip == 0 && !/^[[:space:]]*(\/\/|\/?\*)/ { print file ":" NR ":" $0 }
           /^[[:space:]]*#[[:space:]]*endif/ { if (skip == depth) skip = 0; depth-- }
         ' "$f"
       done | grep -E "$linux_only" || true)
if [ -n "$hits" ]; then
  echo "Linux-only calls in code the macOS program compiles:" >&2
  echo "$hits" >&2
  exit 1
fi

step "build vrdskincfgm (and the end-to-end tests' preloaded module)"
# The same configuration a Mac gets from the preset, here with Debian's libraries.
cmake --preset macos >/dev/null
cmake --build build-macos --target vrdskincfgm replace_on_lookup -j"$jobs"

step "end-to-end suite against vrdskincfgm"
ctest --test-dir build-macos -R '^e2e_' -j"$jobs" --output-on-failure
