#!/usr/bin/env bash
# Times file_entry::check_file against sha1sum on one large file: the two run
# alternately, from the page cache, and the median wall time and the peak
# resident size of each are printed side by side.
#
# Usage: bench/checksum.sh [build folder] [size in MiB] [runs]
#        (defaults: build, 1024, 5)
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build}
size_mib=${2:-1024}
runs=${3:-5}

cmake --build "$build" --target rscdc_checksum_bench -j2 >/dev/null
tool="$build/verify/rscdc_checksum_bench"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
echo "making a ${size_mib} MiB file of random bytes..."
openssl rand -out "$work/data.bin" $((size_mib * 1024 * 1024)) 2>/dev/null \
  || head -c $((size_mib * 1024 * 1024)) /dev/urandom > "$work/data.bin"
expected=$(sha1sum "$work/data.bin" | cut -d' ' -f1)  # also fills the page cache

# One timed run: prints "<seconds> <peak KiB>".
timed() {
  /usr/bin/time -f '%e %M' -o "$work/time" "$@" > "$work/out"
  cat "$work/time"
}

ours=(); peer=(); ours_rss=(); peer_rss=()
for ((i = 0; i < runs; i++)); do
  read -r t m < <(timed "$tool" "$work/" data.bin "$expected")
  [ "$(cat "$work/out")" = 0 ] || { echo "check_file did not report a match" >&2; exit 1; }
  ours+=("$t"); ours_rss+=("$m")
  read -r t m < <(timed sha1sum "$work/data.bin")
  [ "$(cut -d' ' -f1 "$work/out")" = "$expected" ] || { echo "sha1sum disagrees" >&2; exit 1; }
  peer+=("$t"); peer_rss+=("$m")
done

source bench/stats.sh

m_ours=$(printf '%s\n' "${ours[@]}" | median); m_peer=$(printf '%s\n' "${peer[@]}" | median)
printf '%-22s %10s %12s   %s\n' "" "median s" "peak RSS KiB" "all runs (s)"
printf '%-22s %10s %12s   %s\n' "check_file" "$m_ours" "$(printf '%s\n' "${ours_rss[@]}" | largest)" "${ours[*]}"
printf '%-22s %10s %12s   %s\n' "sha1sum" "$m_peer" "$(printf '%s\n' "${peer_rss[@]}" | largest)" "${peer[*]}"
awk -v a="$m_ours" -v b="$m_peer" 'BEGIN { printf "check_file / sha1sum: %.3f\n", a / b }'
