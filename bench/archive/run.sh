#!/usr/bin/env bash
# Times rscdc's archive readers beside the peer tools on generated inputs:
#   .Z decoding    DecompressFile (and the bare decoder) vs uncompress -c
#   extraction     Untar into a folder vs tar -xf
#   walking        Untar without a folder vs tar -tf
# Each pair runs alternately (A B, B A, A B, ...); the median wall time (taken
# around /usr/bin/time and sh -c, which add a millisecond or two to both) and
# the largest peak RSS of each are printed. Every command runs under sh -c, so
# the peak RSS is that of the largest process in it.
#
#   bench/archive/run.sh [build folder] [runs]
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
source_root="$(cd "$here/../.." && pwd)"
build="$(cd "${1:-$source_root/build}" && pwd)"
runs="${2:-9}"
data="$build/bench-archive"
python=/usr/bin/python3

cmake --build "$build" --target archive_bench -j2 >/dev/null
driver="$build/bench/archive/archive_bench"
mkdir -p "$data"

# Inputs, made once: 50 MB of mixed data and its .Z, and a tar of a tree.
if [ ! -f "$data/mixed.Z" ]; then
  "$python" "$here/make_input.py" "$data/mixed" 50
  compress -f -b 16 "$data/mixed"       # leaves mixed.Z
  uncompress -c "$data/mixed.Z" > "$data/mixed"
fi
if [ ! -f "$data/tree.tar" ]; then
  rm -rf "$data/tree"
  "$python" "$here/make_tree.py" "$data/tree" 3000 400
  tar --format=ustar --sort=name -cf "$data/tree.tar" -C "$data/tree" .
  rm -rf "$data/tree"
fi

# measure <label> <setup command> <command...>: one timed run, appended to the
# label's list; the setup runs untimed before it.
declare -A times rss
measure() {
  local label="$1" setup="$2"
  shift 2
  eval "$setup"
  sync
  local start end peak
  start=$EPOCHREALTIME
  /usr/bin/time -f "%M" -o "$data/time.out" "$@"
  end=$EPOCHREALTIME
  read -r peak < "$data/time.out"
  times[$label]+="$(awk -v s="$start" -v e="$end" 'BEGIN { printf "%.4f", e - s }') "
  rss[$label]+="$peak "
}

source "$here/../stats.sh"

# pair <runs> <label A> <setup A> <command A> <label B> <setup B> <command B>:
# runs both alternately, swapping which goes first on every round (A B, B A,
# ...): on this kind of disk the first run after a large deletion pays for it.
pair() {
  local n="$1" la="$2" sa="$3" ca="$4" lb="$5" sb="$6" cb="$7"
  for ((i = 0; i < n; i++)); do
    if ((i % 2 == 0)); then
      measure "$la" "$sa" sh -c "$ca"
      measure "$lb" "$sb" sh -c "$cb"
    else
      measure "$lb" "$sb" sh -c "$cb"
      measure "$la" "$sa" sh -c "$ca"
    fi
  done
}

report() {
  local ours="$1" theirs="$2"
  local a b
  a="$(echo "${times[$ours]}" | median)"
  b="$(echo "${times[$theirs]}" | median)"
  printf "  %-38s %8.3f s  %7s KB\n" "$ours" "$a" "$(echo "${rss[$ours]}" | largest)"
  printf "  %-38s %8.3f s  %7s KB\n" "$theirs" "$b" "$(echo "${rss[$theirs]}" | largest)"
  awk -v a="$a" -v b="$b" 'BEGIN { if (b > 0) printf "  ratio ours/peer: %.2f\n\n", a / b }'
}


echo "inputs: $(stat -c %s "$data/mixed") bytes -> $(stat -c %s "$data/mixed.Z") bytes .Z;" \
     "tree.tar $(stat -c %s "$data/tree.tar") bytes, $(tar -tf "$data/tree.tar" | wc -l) entries"
echo "runs per tool: $runs (alternating, first place swapped each round), median wall time, peak RSS"
echo

pair "$runs" \
  "decoder only (ZReader::Read)" ":" "'$driver' decode '$data/mixed.Z'" \
  "uncompress -c > /dev/null" ":" "uncompress -c '$data/mixed.Z' > /dev/null"
echo ".Z decoding, output discarded"
report "decoder only (ZReader::Read)" "uncompress -c > /dev/null"

pair "$runs" \
  "DecompressFile > file" "rm -f '$data/ours.out'" "'$driver' decompress '$data/mixed.Z' '$data/ours.out'" \
  "uncompress -c > file" "rm -f '$data/theirs.out'" "uncompress -c '$data/mixed.Z' > '$data/theirs.out'"
cmp "$data/ours.out" "$data/mixed"
echo ".Z decoding into a file"
report "DecompressFile > file" "uncompress -c > file"

pair "$runs" \
  "DecompressFile > file (vs ncompress)" "rm -f '$data/ours.out'" "'$driver' decompress '$data/mixed.Z' '$data/ours.out'" \
  "compress -d -c > file (ncompress)" "rm -f '$data/theirs.out'" "compress -d -c '$data/mixed.Z' > '$data/theirs.out'"
echo ".Z decoding into a file, against ncompress's own decoder"
report "DecompressFile > file (vs ncompress)" "compress -d -c > file (ncompress)"
rm -f "$data/ours.out" "$data/theirs.out"

pair "$runs" \
  "Untar into a folder" "rm -rf '$data/x-ours'; mkdir '$data/x-ours'" "'$driver' untar '$data/tree.tar' '$data/x-ours'" \
  "tar -xf" "rm -rf '$data/x-tar'; mkdir '$data/x-tar'" "tar -xf '$data/tree.tar' -C '$data/x-tar'"
diff -r "$data/x-ours" "$data/x-tar" >/dev/null
echo "tar extraction"
report "Untar into a folder" "tar -xf"
rm -rf "$data/x-ours" "$data/x-tar"

# The same in memory (tmpfs), where the disk's own delays do not drown the
# readers' work.
shm="/dev/shm/rscdc-bench-archive-$$"
if mkdir "$shm" 2>/dev/null; then
  cp "$data/tree.tar" "$shm/tree.tar"
  pair "$runs" \
    "Untar into tmpfs" "rm -rf '$shm/x-ours'; mkdir '$shm/x-ours'" "'$driver' untar '$shm/tree.tar' '$shm/x-ours'" \
    "tar -xf into tmpfs" "rm -rf '$shm/x-tar'; mkdir '$shm/x-tar'" "tar -xf '$shm/tree.tar' -C '$shm/x-tar'"
  diff -r "$shm/x-ours" "$shm/x-tar" >/dev/null
  echo "tar extraction, archive and folder in tmpfs"
  report "Untar into tmpfs" "tar -xf into tmpfs"
  rm -rf "$shm"
fi

pair "$runs" \
  "Untar walk (no folder)" ":" "'$driver' walk '$data/tree.tar'" \
  "tar -tf > /dev/null" ":" "tar -tf '$data/tree.tar' > /dev/null"
echo "tar walk"
report "Untar walk (no folder)" "tar -tf > /dev/null"
