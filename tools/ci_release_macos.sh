#!/usr/bin/env bash
# Checks the release's macOS download (made by tools/release.sh):
#   tools/ci_release_macos.sh DIST SCRATCH
# DIST/vrdskincfgm-<version>-macos-universal.tar.gz unpacks into SCRATCH as
# the one folder vrdskincfgm-<version>/, holding the program, the guide,
# NEWS, the notices and every licence file they name; the notices name each
# component the program contains (its link has no map to read them from:
# the libraries built from source are those the slices' link lines name),
# the source archive of the release and the relinking right argtable2's
# licence gives; and the program passes the Mach-O checks of
# tools/check_macos_program.py.
source "$(dirname "$0")/script_start.sh"
dist=${1:?usage: $0 DIST SCRATCH}
scratch=${2:?usage: $0 DIST SCRATCH}
fail() { echo "FAILED: $*" >&2; exit 1; }

version=$(release_version)
tarball="$dist/vrdskincfgm-$version-macos-universal.tar.gz"
[ -f "$tarball" ] || fail "no $tarball"
mkdir -p "$scratch"
tar -xzf "$tarball" -C "$scratch"
[ "$(ls "$scratch")" = "vrdskincfgm-$version" ] || fail "the macOS tarball does not unpack into vrdskincfgm-$version/"
top="$scratch/vrdskincfgm-$version"
for f in vrdskincfgm README.txt NEWS.txt NOTICE.txt LICENSE.txt LICENSE.LGPL-2.txt; do
  [ -f "$top/$f" ] || fail "the macOS tarball lacks $f"
done
[ -x "$top/vrdskincfgm" ] || fail "the macOS program is not executable"
! grep -q -E '^#|`' "$top/NEWS.txt" || fail "NEWS.txt is Markdown"
# Every licence, notice or guide file its texts name is in the tarball (the
# notices of the libraries, from "=== " on, are their own texts).
while read -r name; do
  [ -f "$top/$name" ] || fail "the macOS tarball's texts name $name, which it lacks"
done < <(sed '/^=== /q' "$top/NOTICE.txt" | cat "$top/README.txt" - |
           grep -o -E '\b(LICENSE|NOTICE|NEWS|README)([A-Za-z0-9.+-]*[A-Za-z0-9])?' | grep -v -x README.md |
           sort -u)
# The notice names the source archive and every component with its version.
notice="$top/NOTICE.txt"
grep -q -F "vrdskincfg-$version-src.tar.gz" "$notice" || fail "the macOS NOTICE names no source archive"
grep -q -F "link the program again" "$notice" || fail "the macOS NOTICE lacks the relinking paragraph"
zig_version=$(build-sources/zig/zig version)
for component in "libc++ of Zig $zig_version" "libc++abi of Zig $zig_version" \
                 "compiler_rt of Zig $zig_version" \
                 "zlib $(dpkg-query -W -f '${Version}' zlib1g-dev)" \
                 "argtable2 $(dpkg-query -W -f '${Version}' libargtable2-dev)"; do
  grep -q -F -- "- $component" "$notice" || fail "the macOS NOTICE does not name $component"
done
# The libraries the slices' links took besides Zig's own: each one's
# component is named.
for arch in aarch64 x86_64; do
  link="build-macos-cross/$arch/CMakeFiles/vrdskincfgm.dir/link.txt"
  [ -f "$link" ] || fail "no $link"
  while read -r library; do
    case $library in
      libzipengine.a | libvrdcore.a) ;;
      libvrd_zlib.a) grep -q -F -- "- zlib " "$notice" || fail "the macOS NOTICE lacks zlib" ;;
      libargtable2.a) grep -q -F -- "- argtable2 " "$notice" || fail "the macOS NOTICE lacks argtable2" ;;
      *) fail "the $arch link takes $library, which the macOS NOTICE is not known to name" ;;
    esac
  done < <(grep -o -E '[^ /]+\.a\b' "$link" | sort -u)
done
python3 tools/check_macos_program.py "$top/vrdskincfgm" --no-path "$scratch" ||
  fail "the macOS program of $tarball"
echo "the macOS tarball: folder, texts, notices and program"
