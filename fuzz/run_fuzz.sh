#!/bin/sh
# Builds the libFuzzer targets with clang and runs each for SECONDS (default
# 60). Seeds: the small fixture archives of tools/zipfixtures.py and the
# odd-archive corpus when it is there; settings files and answer sequences
# made here. Crashing inputs are left in $BUILD/artifacts; turn each into a
# case of tests/zipengine/fuzz_regression_test.cpp (engine) or a unit test
# of tests/src (settings file, answers). Exits 1 when a target failed.
set -eu
SECONDS_EACH=${1:-60}
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${VRD_FUZZ_BUILD:-$ROOT/build-fuzz}
PYTHON=${PYTHON:-python3}
MAX_LEN=131072
JOBS=$(nproc)
TARGETS="zip_open_fuzzer zip_update_fuzzer settings_file_fuzzer console_input_fuzzer"

CC=clang CXX=clang++ cmake -S "$ROOT" -B "$BUILD" -DVRD_FUZZ=ON -DBUILD_TESTING=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
# shellcheck disable=SC2086  # TARGETS splits into the target names on purpose
cmake --build "$BUILD" -j"$(nproc)" --target $TARGETS >/dev/null

SEEDS=$BUILD/seeds
rm -rf "$SEEDS"
mkdir -p "$SEEDS/open" "$SEEDS/update" "$SEEDS/settings" "$SEEDS/answers" "$BUILD/artifacts"
"$PYTHON" "$ROOT/tools/zipfixtures.py" gen "$BUILD/fixtures-small" --small
cp "$BUILD"/fixtures-small/*.zip "$SEEDS/open/"
CORPUS=$ROOT/../shared/zipcorpus
if [ -d "$CORPUS" ]; then
  find "$CORPUS" -name '*.zip' -size -$((MAX_LEN / 1024))k | while read -r f; do
    cp "$f" "$SEEDS/open/$(basename "$(dirname "$f")")_$(basename "$f")"
  done
fi
# The update target reads four steering bytes before the archive. Settings
# files: a complete one as the export writes it, and ones the import has to
# reconcile; answers: a whole Setup dialogue, retries, NUL bytes, long lines.
"$PYTHON" - "$SEEDS" "$ROOT/tools" <<'PY'
import os, sys
seeds, tools = sys.argv[1:]
sys.path.insert(0, tools)
import make_skin as skin
src, dst = os.path.join(seeds, "open"), os.path.join(seeds, "update")
steer = [b"\x01\x03\x00\x00", b"\x02\x85\x80\x07", b"\x00\x04\x01\x01", b"\x05\x02\x82\x0a"]
for i, name in enumerate(sorted(os.listdir(src))):
    with open(os.path.join(src, name), "rb") as f:
        data = f.read()
    with open(os.path.join(dst, name), "wb") as f:
        f.write(steer[i % len(steer)] + data)

build = skin.BUILD.decode()
older, newer = str(int(build) - 1), str(int(build) + 1)


def settings(build=build, skip=(), extra="", eol="\n"):
    lines = ["# vrdskincfg (build %s) --- Skin configuration" % build]
    lines += ["%d,%d;" % (item.id, item.values[-1].id) for item in skin.CATALOGUE
              if item.id not in skip]
    return ("\n".join(lines) + "\n" + extra).replace("\n", eol).encode()

answers = [b"1\n" + b"\n" * 18 + b"y\n", b"1\n2\n" + b"1\n" * 18 + b"n\n", b"y\0junk\n6\n",
           b"a" * 300 + b"\n5\ny\ny\n", b"0\n07\n100\n\n4\nN\n"]
files = [settings(), settings(eol="\r\n"), settings(older, (17, 18, 19, 20, 21)),
         settings(newer, (1,), "1,99;\n8,1;\n"), settings(build, (3,)), settings()[:-1]]
for folder, inputs in (("answers", answers), ("settings", files)):
    for i, data in enumerate(inputs):
        with open(os.path.join(seeds, folder, "seed%d" % i), "wb") as f:
            f.write(data)
PY

# Scratch inputs are rewritten for every run: a RAM folder keeps that fast.
TMPDIR=$BUILD/tmp
[ -d /dev/shm ] && [ -w /dev/shm ] && TMPDIR=$(mktemp -d /dev/shm/vrdfuzz.XXXXXX)
export TMPDIR
mkdir -p "$TMPDIR"
trap 'case $TMPDIR in /dev/shm/*) rm -rf "$TMPDIR";; esac' EXIT
# fuzz TARGET: runs one target for SECONDS_EACH, its output in $BUILD/TARGET.log.
fuzz() {
  case $1 in
    zip_open_fuzzer) seeds=$SEEDS/open dict=zip.dict max_len=$MAX_LEN ;;
    zip_update_fuzzer) seeds=$SEEDS/update dict=zip.dict max_len=$MAX_LEN ;;
    settings_file_fuzzer) seeds=$SEEDS/settings dict=settings.dict max_len=1024 ;;
    console_input_fuzzer) seeds=$SEEDS/answers dict=answers.dict max_len=4096 ;;
  esac
  mkdir -p "$BUILD/work/$1"
  "$BUILD/fuzz/$1" "$BUILD/work/$1" "$seeds" -dict="$ROOT/fuzz/$dict" \
    -max_total_time="$SECONDS_EACH" -max_len="$max_len" -timeout=20 -rss_limit_mb=2048 \
    -artifact_prefix="$BUILD/artifacts/$1-" -print_final_stats=1 >"$BUILD/$1.log" 2>&1
}

# The targets run side by side, one per processor, so the run takes
# SECONDS_EACH per round of targets rather than per target.
status=0
batch=""
for target in $TARGETS ""; do
  if [ -n "$target" ]; then
    echo "== $target: $SECONDS_EACH s"
    fuzz "$target" &
    batch="$batch $!:$target"
    [ "$(echo "$batch" | wc -w)" -lt "$JOBS" ] && continue
  fi
  for job in $batch; do
    name=${job#*:}
    if ! wait "${job%%:*}"; then
      status=1
      echo "$name FAILED; see $BUILD/$name.log and $BUILD/artifacts/"
      grep -E "ERROR|SUMMARY|_fuzzer:" "$BUILD/$name.log" | head -5
    fi
    echo "-- $name"
    grep -E "^stat::number_of_executed_units|^stat::peak_rss_mb|cov:" "$BUILD/$name.log" | tail -3
  done
  batch=""
done
exit $status
