#!/bin/sh
# Builds the libFuzzer targets with clang and runs each for SECONDS (default
# 60). Seeds: the small fixture archives of tools/zipfixtures.py and the
# odd-archive corpus when it is there. Crashing inputs are left in
# $BUILD/artifacts; turn each into a case of
# tests/zipengine/fuzz_regression_test.cpp. Exits 1 when a target failed.
set -eu
SECONDS_EACH=${1:-60}
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${VRD_FUZZ_BUILD:-$ROOT/build-fuzz}
PYTHON=${PYTHON:-python3}
MAX_LEN=131072

CC=clang CXX=clang++ cmake -S "$ROOT" -B "$BUILD" -DVRD_FUZZ=ON -DBUILD_TESTING=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD" -j2 --target zip_open_fuzzer zip_update_fuzzer >/dev/null

SEEDS=$BUILD/seeds
rm -rf "$SEEDS"
mkdir -p "$SEEDS/open" "$SEEDS/update" "$BUILD/artifacts"
"$PYTHON" "$ROOT/tools/zipfixtures.py" gen "$BUILD/fixtures-small" --small
cp "$BUILD"/fixtures-small/*.zip "$SEEDS/open/"
CORPUS=$ROOT/../shared/zipcorpus
if [ -d "$CORPUS" ]; then
  find "$CORPUS" -name '*.zip' -size -$((MAX_LEN / 1024))k | while read -r f; do
    cp "$f" "$SEEDS/open/$(basename "$(dirname "$f")")_$(basename "$f")"
  done
fi
# The update target reads four steering bytes before the archive.
"$PYTHON" - "$SEEDS/open" "$SEEDS/update" <<'PY'
import os, sys
src, dst = sys.argv[1:]
steer = [b"\x01\x03\x00\x00", b"\x02\x85\x80\x07", b"\x00\x04\x01\x01", b"\x05\x02\x82\x0a"]
for i, name in enumerate(sorted(os.listdir(src))):
    with open(os.path.join(src, name), "rb") as f:
        data = f.read()
    with open(os.path.join(dst, name), "wb") as f:
        f.write(steer[i % len(steer)] + data)
PY

# The targets keep their scratch archive in TMPDIR; keep it in the build.
export TMPDIR=$BUILD/tmp
mkdir -p "$TMPDIR"
status=0
for target in zip_open_fuzzer zip_update_fuzzer; do
  seeds=$SEEDS/open
  [ "$target" = zip_update_fuzzer ] && seeds=$SEEDS/update
  work=$BUILD/work/$target
  mkdir -p "$work"
  echo "== $target: $SECONDS_EACH s"
  if ! "$BUILD/fuzz/$target" "$work" "$seeds" -dict="$ROOT/fuzz/zip.dict" \
      -max_total_time="$SECONDS_EACH" -max_len=$MAX_LEN -timeout=20 -rss_limit_mb=2048 \
      -artifact_prefix="$BUILD/artifacts/$target-" -print_final_stats=1 \
      >"$BUILD/$target.log" 2>&1; then
    status=1
    echo "$target FAILED; see $BUILD/$target.log and $BUILD/artifacts/"
    grep -E "ERROR|SUMMARY|zip_.*_fuzzer:" "$BUILD/$target.log" | head -5
  fi
  grep -E "^stat::number_of_executed_units|^stat::peak_rss_mb|cov:" "$BUILD/$target.log" | tail -3
done
exit $status
