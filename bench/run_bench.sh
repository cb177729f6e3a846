#!/bin/bash
# Times the ZIP engine against other tools on one large archive, in one run
# on the same files (page cache warm):
#   1. integrity test of every entry: zip_bench test vs "7z t", "unzip -tq"
#      and the zlib floor (inflate + crc32 of the entries held in memory);
#   2. replacing 28 entries spread through the archive (extract, remove,
#      add, Close) vs one plain copy of the file and vs Info-ZIP "zip"
#      replacing the same entries in a copy.
# Usage: bench/run_bench.sh [BUILD_DIR]  (default build-bench, Release)
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${1:-$ROOT/build-bench}
PYTHON=${PYTHON:-python3}
REPEATS=3
N=28

cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build "$BUILD" -j2 --target zip_bench >/dev/null
BENCH=$BUILD/bench/zip_bench
WORK=$BUILD/bench-work
mkdir -p "$WORK"
ARCHIVE=$WORK/skin.zip
[ -f "$ARCHIVE" ] || "$PYTHON" "$ROOT/bench/make_bench_archive.py" "$ARCHIVE"
cat "$ARCHIVE" >/dev/null

sub() { awk -v a="$1" -v b="$2" 'BEGIN { print a - b }'; }
min() { awk -v a="$1" -v b="$2" 'BEGIN { print (a == "" || b + 0 < a + 0) ? b : a }'; }
# best_of CMD...: the least wall time of $REPEATS runs, in seconds.
best_of() {
  local best="" t s e
  for _ in $(seq $REPEATS); do
    s=$(date +%s.%N); "$@" >/dev/null 2>&1; e=$(date +%s.%N)
    best=$(min "$best" "$(sub "$e" "$s")")
  done
  printf "%.4f" "$best"
}
value() { echo "$2" | awk -v k="$1" '$1 == k { print $2 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

echo "archive $(stat -c %s "$ARCHIVE") bytes, $(unzip -Z1 "$ARCHIVE" | wc -l) entries"

echo "== integrity test of every entry"
out=$("$BENCH" test "$ARCHIVE" $REPEATS); engine=$(value engine_test_s "$out")
floor=$(value zlib_floor_s "$("$BENCH" floor "$ARCHIVE" $REPEATS)")
sevenz=$(best_of 7z t -bd "$ARCHIVE")
unzipt=$(best_of unzip -tq "$ARCHIVE")
echo "uncompressed      $(value uncompressed_bytes "$out") bytes"
echo "engine TestFile   $engine s"
echo "7z t              $sevenz s   engine/7z    $(ratio "$engine" "$sevenz")  (goal <= 0.80)"
echo "unzip -tq         $unzipt s   engine/unzip $(ratio "$engine" "$unzipt")"
echo "zlib floor        $floor s   engine/zlib  $(ratio "$engine" "$floor")  (goal <= 1.20)"

echo "== replacing $N entries"
"$BENCH" pick "$ARCHIVE" $N >"$WORK/names.txt"
rm -rf "$WORK/files" && mkdir -p "$WORK/files"
(cd "$WORK/files" && xargs -d '\n' unzip -q "$ARCHIVE" <"$WORK/names.txt")
copy=$(best_of cp "$ARCHIVE" "$WORK/copy.zip")
best_engine=""; out=""
for _ in $(seq $REPEATS); do
  cp "$ARCHIVE" "$WORK/engine.zip"
  run=$("$BENCH" replace "$WORK/engine.zip" $N)
  t=$(value engine_replace_s "$run")
  if [ "$(min "$best_engine" "$t")" = "$t" ]; then best_engine=$t; out=$run; fi
done
unzip -tqq "$WORK/engine.zip" >/dev/null || echo "WARNING: unzip rejects the updated archive"
infozip_once() {
  cp "$ARCHIVE" "$WORK/infozip.zip"
  local s e; s=$(date +%s.%N)
  (cd "$WORK/files" && xargs -d '\n' zip -q "$WORK/infozip.zip" <"$WORK/names.txt")
  e=$(date +%s.%N); sub "$e" "$s"
}
best_zip=""
for _ in $(seq $REPEATS); do
  best_zip=$(min "$best_zip" "$(infozip_once)")
done
best_zip=$(printf "%.4f" "$best_zip")
echo "engine replace    $best_engine s (Close $(value engine_close_s "$out") s)"
echo "  bytes moved     $(value bytes_moved "$out") by removals, $(value bytes_added "$out") added, $(value bytes_central_dir "$out") central directory"
echo "plain copy        $copy s   engine/copy  $(ratio "$best_engine" "$copy")"
echo "zip (Info-ZIP)    $best_zip s   engine/zip   $(ratio "$best_engine" "$best_zip")  (zip rewrites $(stat -c %s "$WORK/infozip.zip") bytes)"
