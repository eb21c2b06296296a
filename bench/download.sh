#!/usr/bin/env bash
# Times DownloadUrl beside `curl -s -o` on one large file served from
# 127.0.0.1, alternating the two, and prints the median wall time and peak
# resident memory of each.
#
#   bench/download.sh [build folder] [size in MiB] [runs]
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build}
size_mib=${2:-200}
runs=${3:-5}

cmake --build "$build" --target download_bench >/dev/null
driver="$build/net/download_bench"

work=$(mktemp -d "${TMPDIR:-/tmp}/download-bench.XXXXXX")
server_pid=""
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

mkdir "$work/served"
head -c "$((size_mib * 1024 * 1024))" /dev/urandom >"$work/served/big.bin"
expected=$(sha1sum <"$work/served/big.bin" | cut -d' ' -f1)

/usr/bin/python3 tests/support/http_test_server.py --root "$work/served" >"$work/ready" &
server_pid=$!
for _ in $(seq 100); do
  grep -q '^ready ' "$work/ready" 2>/dev/null && break
  sleep 0.1
done
port=$(awk '/^ready /{print $2}' "$work/ready")
[ -n "$port" ] || { echo "server did not start" >&2; exit 1; }
url="http://127.0.0.1:$port/big.bin"

# One run of "ours" or "curl": prints "<seconds> <peak KiB>" and checks that
# the file arrived intact.
measure() {
  local out="$work/out.bin" command
  rm -f "$out"
  if [ "$1" = ours ]; then
    command=("$driver" "$url" "$out")
  else
    command=(curl -s --noproxy '*' -o "$out" "$url")
  fi
  /usr/bin/time -f '%e %M' -o "$work/time" "${command[@]}" >/dev/null 2>"$work/stderr" ||
    { cat "$work/stderr" >&2; exit 1; }
  [ "$(sha1sum <"$out" | cut -d' ' -f1)" = "$expected" ] || { echo "corrupt download by $1" >&2; exit 1; }
  cat "$work/time"
}

# The tool follows the system's proxy settings; the bench must not.
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY all_proxy ALL_PROXY

ours=()
theirs=()
for _ in $(seq "$runs"); do
  ours+=("$(measure ours)")
  theirs+=("$(measure curl)")
done

source bench/stats.sh

report() {
  local name=$1; shift
  local secs mem
  secs=$(printf '%s\n' "$@" | cut -d' ' -f1 | median)
  mem=$(printf '%s\n' "$@" | cut -d' ' -f2 | median)
  printf '%-14s median %6.2f s  %8.1f MiB/s  peak RSS %7.0f KiB   (runs: %s)\n' "$name" "$secs" \
    "$(awk -v s="$secs" -v m="$size_mib" 'BEGIN {print (s > 0) ? m / s : 0}')" "$mem" \
    "$(printf '%s ' "$@" | tr -s ' ')"
}

echo "download of $size_mib MiB from 127.0.0.1, $runs runs each, alternating"
report "DownloadUrl" "${ours[@]}"
report "curl -s -o" "${theirs[@]}"
