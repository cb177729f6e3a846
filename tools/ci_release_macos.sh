#!/usr/bin/env bash
# Checks the release's macOS download (tools/release_macos.sh):
#   tools/ci_release_macos.sh TARBALL SCRATCH
# it unpacks into the folder SCRATCH, holds the program, the guide, NEWS,
# the notices and every licence file they name, and its program passes the
# Mach-O checks of tools/check_macos_program.py.
source "$(dirname "$0")/script_start.sh"
tarball=${1:?usage: $0 TARBALL SCRATCH}
scratch=${2:?usage: $0 TARBALL SCRATCH}
fail() { echo "FAILED: $*" >&2; exit 1; }

[ -f "$tarball" ] || fail "no $tarball"
mkdir -p "$scratch"
tar -xzf "$tarball" -C "$scratch"
top="$scratch/$(basename "$tarball" -macos-universal.tar.gz)"
for f in vrdskincfgm README.txt NEWS.md NOTICE.txt LICENSE LICENSE.zlib LICENSE.argtable2 \
         LICENSE.LGPL-2 LICENSE.libcxx LICENSE.libcxxabi LICENSE.zig; do
  [ -f "$top/$f" ] || fail "the macOS tarball lacks $f"
done
[ -x "$top/vrdskincfgm" ] || fail "the macOS program is not executable"
# Every licence, notice or guide file its texts name is in the tarball.
while read -r name; do
  [ -f "$top/$name" ] || fail "the macOS tarball's texts name $name, which it lacks"
done < <(grep -h -o -E '\b(LICENSE|NOTICE|NEWS|README)([A-Za-z0-9.+-]*[A-Za-z0-9])?' \
           "$top/README.txt" "$top/NOTICE.txt" | sort -u)
python3 tools/check_macos_program.py "$top/vrdskincfgm" --no-path "$scratch" ||
  fail "the macOS program of $tarball"
