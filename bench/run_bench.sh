#!/bin/bash
# Times the ZIP engine and the program against other tools, in one run on
# the same files (page cache warm):
#   1. integrity test of every entry: zip_bench test vs "7z t", "unzip -tq"
#      and the zlib floor (inflate + crc32 of the entries held in memory);
#   2. replacing 28 entries spread through the archive (extract, remove,
#      add, Close) through OpenForUpdate into a new file, which Close forces
#      to the device, vs Info-ZIP "zip" replacing the same entries in a copy;
#   3. on two skins, one of about 49 MB and 3003 entries, one of 64,000
#      tiny deflated entries besides the catalogue's (both with their live
#      entries spread through them): the program's start-up ending at the
#      menu's Exit against "7z t", "unzip -tq" and the zlib floor, its
#      system calls per entry (strace -c) and peak memory; then the
#      unattended import of a settings file that changes most items: bytes
#      written (strace), time against one start-up plus "cp" and "sync" of
#      the skin (measured alternately), and peak memory.
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
best_engine=""; best_over=""; best_zip=""
for _ in $(seq $ROUNDS); do
  rm -f "$WORK/engine.zip"
  t=$(value engine_replace_s "$("$BENCH" replace "$ARCHIVE" $N "$WORK/engine.zip")")
  best_engine=$(min "$best_engine" "$t")
  best_zip=$(min "$best_zip" "$(infozip_once)")
  t=$(value engine_replace_s "$("$BENCH" replace "$ARCHIVE" $N "$WORK/engine.zip")")
  best_over=$(min "$best_over" "$t")
done
unzip -tqq "$WORK/engine.zip" >/dev/null || echo "WARNING: unzip rejects the updated archive"
rm -f "$WORK/engine.zip"
engine_written=$(written "$BENCH" replace "$ARCHIVE" $N "$WORK/engine.zip")
size=$(stat -c %s "$ARCHIVE")
echo "engine (output)   $best_engine s   engine/zip   $(ratio "$best_engine" "$best_zip")  (goal <= 0.80; Close forces the output to the device)"
echo "  bytes written   $engine_written   $(ratio "$engine_written" "$size") times the archive"
echo "engine (over)     $best_over s   over/zip     $(ratio "$best_over" "$best_zip")  (writing over its last output)"
echo "zip (Info-ZIP)    $(printf "%.4f" "$best_zip") s   (rewrites $(stat -c %s "$WORK/infozip.zip") bytes, no sync)"

echo "== start-up and unattended import, on two skins"
IMPORT=$WORK/import
mkdir -p "$IMPORT"
SKIN=$IMPORT/vrd.zip
CFG=$IMPORT/vrd.cfg
LARGE=$IMPORT/pristine.zip
MANY=$IMPORT/many.zip
[ -f "$LARGE" ] || "$PYTHON" "$ROOT/tools/make_skin.py" --filler 2910 --filler-size 16700 "$LARGE"
[ -f "$MANY" ] || "$PYTHON" "$ROOT/bench/make_many_entries.py" --entries 64000 "$MANY"
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
peak_of() {
  { /usr/bin/time -v "$@" >/dev/null; } 2>&1 | awk -F': ' '/Maximum resident set size/ { print $2 }'
}
# calls PATTERN: the system calls of one start-up whose names match.
calls() {
  printf '6\n' >"$IMPORT/exit.in"
  strace -f -c -o "$IMPORT/strace.out" "$PROG" --skin="$SKIN" --nowait <"$IMPORT/exit.in" >/dev/null
  awk -v p="$1" '$1 ~ /^[0-9.]+$/ && $NF ~ p && $NF != "total" { n += $4 } END { print n + 0 }' \
    "$IMPORT/strace.out"
}
per() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a / b }'; }

skin_bench() {
  local name=$1 pristine=$2
  cp "$pristine" "$SKIN"
  cat "$SKIN" >/dev/null
  local entries; entries=$(unzip -Z1 "$SKIN" | wc -l)
  echo "-- $name: $(stat -c %s "$SKIN") bytes, $entries entries"
  local startup sevenz unzipt floor
  startup=$(best_of startup_exit)
  sevenz=$(best_of 7z t -bd "$SKIN")
  unzipt=$(best_of unzip -tq "$SKIN")
  floor=$(value zlib_floor_s "$("$BENCH" floor "$SKIN" $REPEATS)")
  echo "start-up to Exit  $startup s"
  echo "7z t              $sevenz s   start-up/7z    $(ratio "$startup" "$sevenz")  (goal <= 0.50)"
  echo "unzip -tq         $unzipt s   start-up/unzip $(ratio "$startup" "$unzipt")"
  echo "zlib floor        $floor s   start-up/floor $(ratio "$startup" "$floor")  (goal <= 4 for many entries)"
  local all io
  all=$(calls '.'); io=$(calls '^(read|pread64|lseek|_llseek|readv|preadv)$')
  echo "system calls      $all in all, $(per "$all" "$entries") per entry; read/lseek $io, $(per "$io" "$entries") per entry  (goal < 0.1)"
  # shellcheck disable=SC2016  # the inner shell expands its own arguments
  echo "start-up memory   $(peak_of sh -c 'printf "6\n" | "$0" --skin="$1" --nowait' "$PROG" "$SKIN") KiB peak"

  import_run || { cat "$IMPORT/import.out"; exit 1; }
  if cmp -s "$pristine" "$SKIN"; then echo "WARNING: the import changed nothing"; fi
  cp "$pristine" "$SKIN"
  local skin_size import_written peak_kb
  skin_size=$(stat -c %s "$SKIN")
  import_written=$(written "$PROG" --skin="$SKIN" --ie="$CFG" --import --nowait)
  cp "$pristine" "$SKIN"
  peak_kb=$(peak_of "$PROG" --skin="$SKIN" --ie="$CFG" --import --nowait)
  local imports="" bases="" s e
  for _ in $(seq $ROUNDS); do
    cp "$pristine" "$SKIN"; sync
    s=$(now); import_run; e=$(now)
    imports="$imports $(sub "$e" "$s")"
    s=$(now); startup_exit; cp "$SKIN" "$IMPORT/copy.zip"; sync "$IMPORT/copy.zip"; e=$(now)
    bases="$bases $(sub "$e" "$s")"
    rm -f "$IMPORT/copy.zip"
  done
  local t_import t_base
  t_import=$(echo "$imports" | median); t_base=$(echo "$bases" | median)
  echo "import bytes      $import_written   $(ratio "$import_written" "$skin_size") times the skin  (goal <= 1.10)"
  echo "import            $t_import s (median of $ROUNDS)"
  echo "start-up+cp+sync  $t_base s   import/that  $(ratio "$t_import" "$t_base")  (goal <= 1.25)"
  echo "import memory     $peak_kb KiB peak   allowed $limit_kb KiB  $([ "$peak_kb" -le "$limit_kb" ] && echo within || echo OVER)"
}

echo "load: $(uptime | sed 's/.*load average: //')"
skin_bench "skin of few large entries" "$LARGE"
skin_bench "skin of many tiny entries" "$MANY"
echo "load: $(uptime | sed 's/.*load average: //')"
