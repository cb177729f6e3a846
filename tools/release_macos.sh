#!/usr/bin/env bash
# The macOS download of a release, called by tools/release.sh:
#   tools/release_macos.sh BUILD-FOLDER DIST VERSION
# builds the universal vrdskincfgm afresh in BUILD-FOLDER (tools/build_macos.sh)
# and writes DIST/vrdskincfgm-VERSION-macos-universal.tar.gz, the folder
# vrdskincfgm-VERSION/ holding the program, the players' guide (README.txt),
# NEWS.md, the notices (NOTICE.txt) and the licence texts of what the program
# contains: ours, zlib's, argtable2's, and libc++'s, libc++abi's and Zig's
# (for compiler_rt) as the fetched Zig carries them. The tarball is
# reproducible like the others: times from SOURCE_DATE_EPOCH, sorted, owners 0.
# VRD_MACOS_PROGRAM names a universal program already built from this tree
# by tools/build_macos.sh, to be packed instead of building another
# (tools/ci_release.sh: its first release takes the test run's build, the
# second builds afresh, and the two must give the same bytes).
source "$(dirname "$0")/script_start.sh"
out=${1:?usage: $0 BUILD-FOLDER DIST VERSION}
dist=${2:?usage: $0 BUILD-FOLDER DIST VERSION}
version=${3:?usage: $0 BUILD-FOLDER DIST VERSION}
: "${SOURCE_DATE_EPOCH:?set by tools/release.sh}"

rm -rf "$out"
program=${VRD_MACOS_PROGRAM:-$out/vrdskincfgm}
if [ -n "${VRD_MACOS_PROGRAM:-}" ]; then
  echo "the program built before: $program"
else
  bash tools/build_macos.sh "$out"
fi

folder="vrdskincfgm-$version"
stage="$out/stage/$folder"
zig=build-sources/zig
mkdir -p "$stage"
install -m 755 "$program" "$stage/vrdskincfgm"
while read -r name source; do
  install -m 644 "$source" "$stage/$name"
done <<LIST
README.txt doc/README-macos.txt
NEWS.md NEWS.md
NOTICE.txt doc/NOTICE-macos.txt
LICENSE LICENSE
LICENSE.zlib doc/licenses/zlib.txt
LICENSE.argtable2 doc/licenses/argtable2.txt
LICENSE.LGPL-2 doc/licenses/LGPL-2.txt
LICENSE.libcxx $zig/lib/libcxx/LICENSE.TXT
LICENSE.libcxxabi $zig/lib/libcxxabi/LICENSE.TXT
LICENSE.zig $zig/LICENSE
LIST
mkdir -p "$dist"
tar --sort=name --mtime="@$SOURCE_DATE_EPOCH" --owner=0 --group=0 --numeric-owner \
  --mode='u+rw,go+rX,go-w' --format=gnu -C "$out/stage" -cf - "$folder" |
  gzip -n -9 >"$dist/$folder-macos-universal.tar.gz"
