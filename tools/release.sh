#!/usr/bin/env bash
# Builds the release packages of the current commit into dist/:
#   vrdskincfg-<build>-linux-x86_64.tar.gz    static Linux program, manual page, guide, licences
#   vrdskincfg-<build>-linux-aarch64.tar.gz   the same for ARM64 (cross-built)
#   vrdskincfg_<build>-1_amd64.deb           Debian package (CPack; linked with the system's libraries)
#   vrdskincfg_<build>-1_arm64.deb           the same for ARM64
#   vrdskincfgw-<build>-win64.zip            the Windows program, README.txt, licences
#   vrdskincfgm-<build>-macos-universal.tar.gz  the macOS program (tools/release_macos.sh)
#   SHA256SUMS
# The tarballs' programs are linked statically (glibc, libstdc++, zlib,
# argtable2) so that they run on any Linux of their architecture; the
# packages' programs use the system's libraries, as Debian wants, so that
# security updates of those reach them. Each architecture is compiled once
# and linked both ways (cmake/static_program.cmake); the three builds run side
# by side.
# Everything is built afresh in build-release/ (the fetched library sources
# and arm64 libraries are kept in build-sources/); VRD_RELEASE_BUILD and
# VRD_RELEASE_DIST name other folders for a second build beside the first. Two runs from one commit
# give byte-identical files: all times are the last commit's
# (SOURCE_DATE_EPOCH), archives have a fixed order, owner and mode, and the
# source path is mapped out of the programs. Debian 12, as root or with sudo
# (installs what is missing).
source "$(dirname "$0")/script_start.sh"
out=${VRD_RELEASE_BUILD:-build-release}
dist=${VRD_RELEASE_DIST:-dist}

step "packages"
bash tools/install_deps.sh dpkg-dev g++-mingw-w64-x86-64-win32 libz-mingw-w64-dev \
  g++-aarch64-linux-gnu

build=$(cat BUILD_NUMBER)
[ -n "$build" ] || { echo "$0: no build number in BUILD_NUMBER" >&2; exit 1; }
SOURCE_DATE_EPOCH=$(git log -1 --format=%ct)
export SOURCE_DATE_EPOCH TZ=UTC LC_ALL=C
umask 022
if [ -n "$(git status --porcelain --untracked-files=no)" ]; then
  echo "note: the tree has uncommitted changes; they are built in"
fi
rm -rf "$out" "$dist"
mkdir -p "$out" "$dist"

step "library sources (kept in build-sources/)"
bash tools/fetch_from_apt.sh source build-sources/argtable2 argtable2
bash tools/fetch_from_apt.sh arm64 build-sources/arm64 zlib1g zlib1g-dev libargtable2-dev
arm64_lib="$root/build-sources/arm64/usr/lib/aarch64-linux-gnu"

step "programs: Linux x86_64 and aarch64, Windows (side by side)"
# Hardening as Debian's dpkg-buildflags gives it with hardening=+all (PIE is
# the compilers' default); -ffile-prefix-map keeps the source path out.
map="-ffile-prefix-map=$root=."
cflags="$map -fstack-protector-strong -D_FORTIFY_SOURCE=2 -Wformat -Werror=format-security"
ldflags="-Wl,-z,relro -Wl,-z,now"
configure() {  # NAME CMAKE-ARGS...: configures build-release/NAME for a Release build
  local name=$1
  shift
  cmake -S . -B "$out/$name" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF "$@"
}
linux() {  # NAME ARGTABLE2-LIBRARY CMAKE-ARGS...: both Linux programs
  local name=$1 argtable2=$2
  shift 2
  configure "$name" -DVRD_STATIC_PROGRAM=ON -DARGTABLE2_LIBRARY="$argtable2" \
    -DCMAKE_C_FLAGS="$cflags" -DCMAKE_CXX_FLAGS="$cflags" -DCMAKE_EXE_LINKER_FLAGS="$ldflags" "$@" &&
    cmake --build "$out/$name" -j"$jobs"
}
windows() {
  configure win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DVRD_PLATFORM=windows \
    -DARGTABLE2_SOURCE_DIR="$root/build-sources/argtable2" \
    -DCMAKE_C_FLAGS="$map" -DCMAKE_CXX_FLAGS="$map" &&
    cmake --build "$out/win" -j"$jobs" --target vrdskincfgw
}
pids=()
linux x86_64 "$(gcc -print-file-name=libargtable2.a)" >"$out/x86_64.log" 2>&1 & pids+=($!)
linux aarch64 "$arm64_lib/libargtable2.a" -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake \
  >"$out/aarch64.log" 2>&1 & pids+=($!)
windows >"$out/win.log" 2>&1 & pids+=($!)
for i in 0 1 2; do
  log=("$out/x86_64.log" "$out/aarch64.log" "$out/win.log")
  wait "${pids[$i]}" || { cat "${log[$i]}"; echo "$0: the build in ${log[$i]%.log} failed" >&2; exit 1; }
done
echo "built"

# A static program has no NEEDED entry; a packaged one needs only what every
# Debian or Ubuntu system has.
check_needed() {  # PROGRAM ALLOWED-REGEX
  local needed foreign
  needed=$(readelf -d "$1" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
  foreign=$(echo "$needed" | grep -v -x -E "$2" || true)
  [ -z "$foreign" ] || { echo "$0: $1 needs ${foreign//$'\n'/ }" >&2; exit 1; }
}
packaged='libc\.so\.6|libm\.so\.6|libstdc\+\+\.so\.6|libgcc_s\.so\.1|libz\.so\.1|ld-linux-aarch64\.so\.1'

folder="vrdskincfg-$build"
tarball() {  # ARCH STRIP-PROGRAM: $dist/vrdskincfg-<build>-linux-ARCH.tar.gz
  local arch=$1 strip=$2 stage="$root/$out/stage-$1"
  check_needed "$out/$arch/static/vrdskincfg" ''
  cmake --install "$out/$arch" --prefix "$stage/$folder" >/dev/null
  "$strip" --remove-section=.comment --remove-section=.note \
    -o "$stage/$folder/bin/vrdskincfg" "$out/$arch/static/vrdskincfg"
  # The players' guide also at the top, where they look first.
  cp "$stage/$folder/share/doc/vrdskincfg/README" "$stage/$folder/README"
  tar --sort=name --mtime="@$SOURCE_DATE_EPOCH" --owner=0 --group=0 --numeric-owner \
    --mode='u+rw,go+rX,go-w' --format=gnu -C "$stage" -cf - "$folder" |
    gzip -n -9 >"$dist/vrdskincfg-$build-linux-$arch.tar.gz"
}
deb() {  # ARCH DEB-ARCH: $dist/vrdskincfg_<build>-1_DEB-ARCH.deb
  check_needed "$out/$1/vrdskincfg" "$packaged"
  (cd "$out/$1" && cpack -G DEB >/dev/null)
  cp "$out/$1/packages/vrdskincfg_${build}-1_$2.deb" "$dist/"
}

step "tarballs (static programs)"
tarball x86_64 strip
tarball aarch64 aarch64-linux-gnu-strip

step "Debian packages"
deb x86_64 amd64
# dpkg-shlibdeps cannot see arm64 libraries on this machine; the arm64
# program is built by the same compiler and C library versions from the
# same source, so it needs what the amd64 one needs.
depends=$(dpkg-deb -f "$dist/vrdskincfg_${build}-1_amd64.deb" Depends)
echo "Depends: $depends"
cmake "$out/aarch64" -DVRD_DEB_DEPENDS="$depends" >/dev/null
deb aarch64 arm64
[ "$(dpkg-deb -f "$dist/vrdskincfg_${build}-1_arm64.deb" Depends)" = "$depends" ] ||
  { echo "$0: the arm64 package does not declare the Depends above" >&2; exit 1; }

step "Windows zip"
exe="$out/vrdskincfgw.exe"
x86_64-w64-mingw32-strip -o "$exe" "$out/win/vrdskincfgw.exe"
bash tools/check_windows_imports.sh "$exe"
# Text files get CR LF line ends, for Notepad and its kin.
python3 - "$dist/vrdskincfgw-$build-win64.zip" <<EOF
import os, sys, time, zipfile
files = [  # name in the zip, source, text
    ("vrdskincfgw.exe", "$exe", False),
    ("README.txt", "doc/README-windows.txt", True),
    ("NEWS.txt", "NEWS.md", True),
    ("NOTICE.txt", "doc/NOTICE-windows.txt", True),
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

step "macOS tarball (universal program, cross-built with Zig)"
bash tools/release_macos.sh "$out/macos" "$dist" "$build"

step "checksums"
(cd "$dist" && sha256sum "vrdskincfg-$build-linux-x86_64.tar.gz" "vrdskincfg-$build-linux-aarch64.tar.gz" \
   "vrdskincfg_${build}-1_amd64.deb" "vrdskincfg_${build}-1_arm64.deb" \
   "vrdskincfgw-$build-win64.zip" "vrdskincfgm-$build-macos-universal.tar.gz" >SHA256SUMS)
echo "built from commit $(git rev-parse --short HEAD) (SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH):"
(cd "$dist" && for f in *; do printf '%10d  %s\n' "$(stat -c %s "$f")" "$f"; done && cat SHA256SUMS)
