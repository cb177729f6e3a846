#!/usr/bin/env bash
# Builds the release packages of the current commit into dist/:
#   vrdskincfg-<build>-linux-x86_64.tar.gz   the Linux program, manual page, README, licences
#   vrdskincfg_<build>-1_amd64.deb          the same as a Debian package (CPack)
#   vrdskincfgw-<build>-win64.zip           the Windows program, README.txt, licences
#   SHA256SUMS
# Everything is built afresh in build-release/. Two runs from one commit give
# byte-identical files: all times are the last commit's (SOURCE_DATE_EPOCH),
# archives have a fixed order, owner and mode, and the source path is mapped
# out of the programs. Debian 12, as root or with sudo (installs what is missing).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
jobs=$(nproc)
out=build-release

step() { echo; echo "=== $*"; }

step "packages"
bash tools/install_deps.sh dpkg-dev g++-mingw-w64-x86-64-win32 libz-mingw-w64-dev

build=$(cat BUILD_NUMBER)
[ -n "$build" ] || { echo "$0: no build number in BUILD_NUMBER" >&2; exit 1; }
SOURCE_DATE_EPOCH=$(git log -1 --format=%ct)
export SOURCE_DATE_EPOCH TZ=UTC LC_ALL=C
umask 022
if [ -n "$(git status --porcelain --untracked-files=no)" ]; then
  echo "note: the tree has uncommitted changes; they are built in"
fi
rm -rf "$out" dist
mkdir -p "$out" dist
map="-ffile-prefix-map=$root=."

step "Linux program (argtable2 linked statically)"
argtable2_a=$(gcc -print-file-name=libargtable2.a)
[ -f "$argtable2_a" ] || { echo "$0: libargtable2.a not found" >&2; exit 1; }
cmake -S . -B "$out/linux" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
  -DARGTABLE2_LIBRARY="$argtable2_a" -DCMAKE_C_FLAGS="$map" -DCMAKE_CXX_FLAGS="$map" >/dev/null
cmake --build "$out/linux" -j$jobs
# What a stock Debian or Ubuntu has: glibc, libstdc++, libgcc and zlib.
needed=$(readelf -d "$out/linux/vrdskincfg" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
echo "needs: $(echo $needed)"
foreign=$(echo "$needed" | grep -v -x -E 'libc\.so\.6|libm\.so\.6|libstdc\+\+\.so\.6|libgcc_s\.so\.1|libz\.so\.1' || true)
if [ -n "$foreign" ]; then
  echo "vrdskincfg needs libraries a player's machine may lack: $(echo $foreign)" >&2
  exit 1
fi

step "tarball"
folder="vrdskincfg-$build"
cmake --install "$out/linux" --prefix "$root/$out/stage/$folder" --strip >/dev/null
tarball="dist/vrdskincfg-$build-linux-x86_64.tar.gz"
tar --sort=name --mtime="@$SOURCE_DATE_EPOCH" --owner=0 --group=0 --numeric-owner \
  --mode='u+rw,go+rX,go-w' --format=gnu -C "$out/stage" -cf - "$folder" | gzip -n -9 >"$tarball"

step "Debian package"
(cd "$out/linux" && cpack -G DEB >/dev/null)
cp "$out/linux/packages/vrdskincfg_${build}-1_amd64.deb" dist/

step "Windows program"
bash tools/fetch_argtable2_source.sh "$out/argtable2"
cmake -S . -B "$out/win" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DVRD_PLATFORM=windows -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
  -DARGTABLE2_SOURCE_DIR="$root/$out/argtable2" -DCMAKE_C_FLAGS="$map" -DCMAKE_CXX_FLAGS="$map" \
  >/dev/null
cmake --build "$out/win" -j$jobs --target vrdskincfgw
exe="$out/vrdskincfgw.exe"
x86_64-w64-mingw32-strip -o "$exe" "$out/win/vrdskincfgw.exe"
bash tools/check_windows_imports.sh "$exe"

step "Windows zip"
# Text files get CR LF line ends, for Notepad and its kin.
python3 - "dist/vrdskincfgw-$build-win64.zip" <<EOF
import os, sys, time, zipfile
files = [  # name in the zip, source, text
    ("vrdskincfgw.exe", "$exe", False),
    ("README.txt", "doc/README-windows.txt", True),
    ("NOTICE.txt", "doc/NOTICE", True),
    ("LICENSE.txt", "LICENSE", True),
    ("LICENSE.zlib.txt", "doc/licenses/zlib.txt", True),
    ("LICENSE.argtable2.txt", "doc/licenses/argtable2.txt", True),
    ("LICENSE.LGPL-2.txt", "doc/licenses/LGPL-2.txt", True),
]
stamp = time.gmtime(int(os.environ["SOURCE_DATE_EPOCH"]))[:6]
with zipfile.ZipFile(sys.argv[1], "w") as zf:
    for name, source, text in files:
        with open(source, "rb") as f:
            data = f.read()
        if text:
            data = data.replace(b"\r\n", b"\n").replace(b"\n", b"\r\n")
        info = zipfile.ZipInfo(name, date_time=stamp)
        info.create_system = 0  # MS-DOS attributes, whoever makes the zip
        info.external_attr = 0x20  # archive bit
        info.compress_type = zipfile.ZIP_DEFLATED
        zf.writestr(info, data, compresslevel=9)
EOF

step "checksums"
(cd dist && sha256sum "$(basename "$tarball")" "vrdskincfg_${build}-1_amd64.deb" \
   "vrdskincfgw-$build-win64.zip" >SHA256SUMS)
echo "built from commit $(git rev-parse --short HEAD) (SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH):"
(cd dist && for f in *; do printf '%10d  %s\n' "$(stat -c %s "$f")" "$f"; done && cat SHA256SUMS)
