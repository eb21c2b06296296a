#!/usr/bin/env bash
# Times DownloadUrl beside `curl -s -o` on one large file served by Debian's
# nginx on 127.0.0.1, over http and over https, alternating the two in one run,
# and prints the median wall time and peak resident memory of each and the
# median ratio ours/curl per scheme.
#
#   bench/download.sh [build folder] [size in MiB] [runs] [figures file]
#
# With a figures file, every run's figures also go there, one line per kind,
# side and scheme: "wall|rss ours|peer http|https <value of each round>..."
# (seconds, KiB), for scripts/bench's table.
#
# For https the server's certificate is issued by a CA made here; both sides
# trust it through libcurl's CA file, over which a bundle holding it is
# bind-mounted in a private mount namespace of this script (run as root): the
# machine's trust store is never changed.
set -euo pipefail
self=$(realpath "$0")
cd "$(dirname "$self")/.."

build=${1:-build}
size_mib=${2:-300}
runs=${3:-5}
figures=${4:-}
[ -z "$figures" ] || figures=$(realpath -m "$figures")

if [ "${RSCDC_BENCH_NAMESPACE-}" != 1 ]; then
  [ "$(id -u)" -eq 0 ] || { echo "bench/download.sh: runs as root (for its private mount namespace)" >&2; exit 1; }
  exec env RSCDC_BENCH_NAMESPACE=1 unshare --mount --propagation private "$self" "$build" "$size_mib" "$runs" "$figures"
fi

cmake --build "$build" --target download_bench >/dev/null
driver="$build/net/download_bench"

work=$(mktemp -d "${TMPDIR:-/tmp}/download-bench.XXXXXX")
servers=()
cleanup() {
  for pid in "${servers[@]}"; do kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

mkdir "$work/served" "$work/tls"
head -c "$((size_mib * 1024 * 1024))" /dev/urandom >"$work/served/big.bin"
expected=$(sha1sum <"$work/served/big.bin" | cut -d' ' -f1)

# A CA, a certificate for 127.0.0.1 issued by it, and libcurl's bundle with the CA.
tls=$work/tls
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=rscdc bench CA" -keyout "$tls/ca.key" \
  -out "$tls/ca.crt" 2>/dev/null
openssl req -newkey rsa:2048 -nodes -subj "/CN=127.0.0.1" -keyout "$tls/server.key" -out "$tls/server.csr" 2>/dev/null
printf 'subjectAltName=IP:127.0.0.1\n' >"$tls/ext"
openssl x509 -req -in "$tls/server.csr" -CA "$tls/ca.crt" -CAkey "$tls/ca.key" -CAcreateserial -days 2 \
  -extfile "$tls/ext" -out "$tls/server.crt" 2>/dev/null
bundle=$(curl-config --ca)
cat "$bundle" "$tls/ca.crt" >"$tls/bundle.crt"
mount --bind "$tls/bundle.crt" "$bundle"

# start_nginx NAME [TLS ARGS...]: nginx serving the file; sets port_NAME.
start_nginx() {
  local name=$1 port
  shift
  mkdir "$work/state-$name"
  /usr/bin/python3 -B tests/support/nginx_test_server.py --root "$work/served" --state "$work/state-$name" "$@" \
    >"$work/ready-$name" &
  servers+=($!)
  for _ in $(seq 100); do
    grep -q '^ready ' "$work/ready-$name" 2>/dev/null && break
    sleep 0.1
  done
  port=$(awk '/^ready /{print $2}' "$work/ready-$name")
  [ -n "$port" ] || { echo "nginx ($name) did not start" >&2; exit 1; }
  printf -v "port_$name" '%s' "$port"
}
start_nginx http
start_nginx https --tls-cert "$tls/server.crt" --tls-key "$tls/server.key"
declare -A url=([http]="http://127.0.0.1:$port_http/big.bin" [https]="https://127.0.0.1:$port_https/big.bin")

# One run of "ours" or "curl" over a scheme: prints "<seconds> <peak KiB>" and
# checks that the file arrived intact. The wall time is taken around
# /usr/bin/time to the microsecond, since %e has hundredths only.
measure() {
  local out="$work/out.bin" command start end peak
  rm -f "$out"
  if [ "$1" = ours ]; then
    command=("$driver" "${url[$2]}" "$out")
  else
    command=(curl -s --noproxy '*' -o "$out" "${url[$2]}")
  fi
  start=$EPOCHREALTIME
  /usr/bin/time -f '%M' -o "$work/time" "${command[@]}" >/dev/null 2>"$work/stderr" ||
    { cat "$work/stderr" >&2; exit 1; }
  end=$EPOCHREALTIME
  peak=$(cat "$work/time")
  [ "$(sha1sum <"$out" | cut -d' ' -f1)" = "$expected" ] || { echo "corrupt download by $1 over $2" >&2; exit 1; }
  awk -v s="$start" -v e="$end" -v m="$peak" 'BEGIN { printf "%.4f %s\n", e - s, m }'
}

# The tool follows the system's proxy settings; the bench must not.
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY all_proxy ALL_PROXY

# One warm-up run of each, untimed.
for scheme in http https; do
  measure ours "$scheme" >/dev/null
  measure curl "$scheme" >/dev/null
done
declare -A ours theirs ratios
for round in $(seq "$runs"); do
  for scheme in http https; do
    # The first place swaps every round.
    if [ $((round % 2)) = 1 ]; then
      a=$(measure ours "$scheme"); b=$(measure curl "$scheme")
    else
      b=$(measure curl "$scheme"); a=$(measure ours "$scheme")
    fi
    ours[$scheme]+="$a"$'\n'
    theirs[$scheme]+="$b"$'\n'
    ratios[$scheme]+="$(awk -v a="${a%% *}" -v b="${b%% *}" 'BEGIN {print (b > 0) ? a / b : 0}')"$'\n'
  done
done

source bench/stats.sh

report() {
  local name=$1 runs_text=$2
  local secs mem
  secs=$(printf '%s' "$runs_text" | cut -d' ' -f1 | median)
  mem=$(printf '%s' "$runs_text" | cut -d' ' -f2 | median)
  printf '%-20s median %6.2f s  %8.1f MiB/s  peak RSS %7.0f KiB   (runs: %s)\n' "$name" "$secs" \
    "$(awk -v s="$secs" -v m="$size_mib" 'BEGIN {print (s > 0) ? m / s : 0}')" "$mem" \
    "$(printf '%s' "$runs_text" | tr '\n' ' ' | tr -s ' ')"
}

echo "download of $size_mib MiB from nginx on 127.0.0.1, $runs rounds, alternating"
for scheme in http https; do
  report "DownloadUrl $scheme" "${ours[$scheme]}"
  report "curl -s -o $scheme" "${theirs[$scheme]}"
  printf '%-20s median ratio ours/curl %.2f\n' "$scheme" "$(printf '%s' "${ratios[$scheme]}" | median)"
done

if [ -n "$figures" ]; then
  : >"$figures"
  for scheme in http https; do
    for side in ours peer; do
      if [ "$side" = ours ]; then runs_text=${ours[$scheme]}; else runs_text=${theirs[$scheme]}; fi
      echo "wall $side $scheme $(printf '%s' "$runs_text" | cut -d' ' -f1 | tr '\n' ' ')" >>"$figures"
      echo "rss $side $scheme $(printf '%s' "$runs_text" | cut -d' ' -f2 | tr '\n' ' ')" >>"$figures"
    done
  done
fi
