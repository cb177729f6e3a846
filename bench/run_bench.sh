#!/bin/bash
# Times the ZIP engine and the program against other tools, in one run on
# the same files (page cache warm):
#   1. integrity test of every entry: zip_bench test vs "7z t", "unzip -tq"
#      and the zlib floor (inflate + crc32 of the entries held in memory);
#   2. replacing 28 entries spread through the archive (extract, remove,
#      add, Close) through OpenForUpdate into a new file, which Close forces
#      to the device, vs Info-ZIP "zip" replacing the same entries in a copy
#      (and the former in-place update, for reference);
#   3. the program's unattended import of a settings file that changes most
#      items, on a skin of about 49 MB and 3003 entries with its 25 live
#      entries spread through it: bytes written (strace), time against one
#      start-up ending at the menu's Exit plus "cp" and "sync" of the skin
#      (measured alternately), and peak memory.
# Usage: bench/run_bench.sh [BUILD_DIR]  (default build-bench, Release)
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${1:-$ROOT/build-bench}
PYTHON=${PYTHON:-python3}
REPEATS=3
ROUNDS=9
N=28

cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build "$BUILD" -j"$(nproc)" --target zip_bench vrdskincfg >/dev/null
BENCH=$BUILD/bench/zip_bench
PROG=$BUILD/vrdskincfg
WORK=$BUILD/bench-work
mkdir -p "$WORK"
ARCHIVE=$WORK/skin.zip
[ -f "$ARCHIVE" ] || "$PYTHON" "$ROOT/bench/make_bench_archive.py" "$ARCHIVE"
cat "$ARCHIVE" >/dev/null

now() { date +%s.%N; }
sub() { awk -v a="$1" -v b="$2" 'BEGIN { print a - b }'; }
min() { awk -v a="$1" -v b="$2" 'BEGIN { print (a == "" || b + 0 < a + 0) ? b : a }'; }
median() { tr ' ' '\n' | grep . | sort -g | awk '{ v[NR] = $1 } END { printf "%.4f", v[int((NR + 1) / 2)] }'; }
# best_of CMD...: the least wall time of $REPEATS runs, in seconds.
best_of() {
  local best="" s e
  for _ in $(seq $REPEATS); do
    s=$(now); "$@" >/dev/null 2>&1; e=$(now)
    best=$(min "$best" "$(sub "$e" "$s")")
  done
  printf "%.4f" "$best"
}
value() { echo "$2" | awk -v k="$1" '$1 == k { print $2 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
written() { value bytes_written "$("$PYTHON" "$ROOT/bench/io_bytes.py" "$@")"; }

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
infozip_once() {
  cp "$ARCHIVE" "$WORK/infozip.zip"
  local s e; s=$(now)
  (cd "$WORK/files" && xargs -d '\n' zip -q "$WORK/infozip.zip" <"$WORK/names.txt")
  e=$(now); sub "$e" "$s"
}
# They take turns, so that a busy moment hits each alike; best of each. The
# engine writes into a new file, as the program has it do; zip renames its
# result over its copy, which frees the old file; "over" has the engine
# write over its last output, which frees that file too.
best_engine=""; best_over=""; best_inplace=""; best_zip=""
for _ in $(seq $ROUNDS); do
  rm -f "$WORK/engine.zip"
  t=$(value engine_replace_s "$("$BENCH" replace "$ARCHIVE" $N "$WORK/engine.zip")")
  best_engine=$(min "$best_engine" "$t")
  best_zip=$(min "$best_zip" "$(infozip_once)")
  t=$(value engine_replace_s "$("$BENCH" replace "$ARCHIVE" $N "$WORK/engine.zip")")
  best_over=$(min "$best_over" "$t")
  cp "$ARCHIVE" "$WORK/inplace.zip"
  t=$(value engine_replace_s "$("$BENCH" replace "$WORK/inplace.zip" $N)")
  best_inplace=$(min "$best_inplace" "$t")
done
unzip -tqq "$WORK/engine.zip" >/dev/null || echo "WARNING: unzip rejects the updated archive"
rm -f "$WORK/engine.zip"
engine_written=$(written "$BENCH" replace "$ARCHIVE" $N "$WORK/engine.zip")
cp "$ARCHIVE" "$WORK/inplace.zip"
inplace_written=$(written "$BENCH" replace "$WORK/inplace.zip" $N)
size=$(stat -c %s "$ARCHIVE")
echo "engine (output)   $best_engine s   engine/zip   $(ratio "$best_engine" "$best_zip")  (goal <= 0.80; Close forces the output to the device)"
echo "  bytes written   $engine_written   $(ratio "$engine_written" "$size") times the archive"
echo "engine (over)     $best_over s   over/zip     $(ratio "$best_over" "$best_zip")  (writing over its last output)"
echo "engine (in place) $best_inplace s   in-place/zip $(ratio "$best_inplace" "$best_zip")  (the former algorithm)"
echo "  bytes written   $inplace_written   $(ratio "$inplace_written" "$size") times the archive"
echo "zip (Info-ZIP)    $(printf "%.4f" "$best_zip") s   (rewrites $(stat -c %s "$WORK/infozip.zip") bytes, no sync)"

echo "== unattended import"
IMPORT=$WORK/import
mkdir -p "$IMPORT"
SKIN=$IMPORT/vrd.zip
CFG=$IMPORT/vrd.cfg
PRISTINE=$IMPORT/pristine.zip
[ -f "$PRISTINE" ] || "$PYTHON" "$ROOT/tools/make_skin.py" --filler 2910 --filler-size 16700 "$PRISTINE"
# The next alternative of every item; prints the memory allowance (16 MiB
# plus twice the largest live entry, the largest the import can add).
limit_kb=$("$PYTHON" - "$ROOT/tools" "$CFG" <<'PY'
import sys
sys.path.insert(0, sys.argv[1])
import make_skin as skin
with open(sys.argv[2], "w") as f:
    f.write("# vrdskincfg (build %s) --- Skin configuration\n" % skin.BUILD.decode())
    for item in skin.CATALOGUE:
        f.write("%d,%d;\n" % (item.id, item.values[(item.default + 1) % len(item.values)].id))
largest = max(len(skin.entry_bytes(alt)) for _, _, alt in skin.live_plan(None))
print(16 * 1024 + 2 * largest // 1024)
PY
)
import_run() { "$PROG" --skin="$SKIN" --ie="$CFG" --import --nowait >"$IMPORT/import.out"; }
startup_exit() { printf '6\n' | "$PROG" --skin="$SKIN" --nowait >/dev/null; }
cp "$PRISTINE" "$SKIN"
import_run || { cat "$IMPORT/import.out"; exit 1; }
if cmp -s "$PRISTINE" "$SKIN"; then echo "WARNING: the import changed nothing"; fi
cp "$PRISTINE" "$SKIN"
skin_size=$(stat -c %s "$SKIN")
import_written=$(written "$PROG" --skin="$SKIN" --ie="$CFG" --import --nowait)
cp "$PRISTINE" "$SKIN"
peak_kb=$( { /usr/bin/time -v "$PROG" --skin="$SKIN" --ie="$CFG" --import --nowait >/dev/null; } 2>&1 |
  awk -F': ' '/Maximum resident set size/ { print $2 }')
imports=""; bases=""
for _ in $(seq $ROUNDS); do
  cp "$PRISTINE" "$SKIN"; sync
  s=$(now); import_run; e=$(now)
  imports="$imports $(sub "$e" "$s")"
  s=$(now); startup_exit; cp "$SKIN" "$IMPORT/copy.zip"; sync "$IMPORT/copy.zip"; e=$(now)
  bases="$bases $(sub "$e" "$s")"
  rm -f "$IMPORT/copy.zip"
done
t_import=$(echo "$imports" | median); t_base=$(echo "$bases" | median)
echo "skin              $skin_size bytes, $(unzip -Z1 "$SKIN" | wc -l) entries"
echo "bytes written     $import_written   $(ratio "$import_written" "$skin_size") times the skin  (goal <= 1.10)"
echo "import            $t_import s (median of $ROUNDS)"
echo "start-up+cp+sync  $t_base s   import/that  $(ratio "$t_import" "$t_base")  (goal <= 1.25)"
echo "peak memory       $peak_kb KiB   allowed $limit_kb KiB  $([ "$peak_kb" -le "$limit_kb" ] && echo within || echo OVER)"
