#!/usr/bin/env bash
# The whole rscdc run done the way a user would script it with the usual tools:
# curl, openssl, sha1sum, tar, uncompress and xorrisofs. The same work as the
# tool, step by step: download the distribution and its manifest, prove the
# manifest (signature over the body with the signer's key, signer chain to the
# root at the tool's fixed instant, revocation list) and the file's SHA-1,
# unpack, download and prove the package, decode it into slax/rootcopy/, read
# the virus data version from its entry names, fetch the identities (a 404 is
# no failure) and master the image with the tool's mkisofs options. The
# working folder is made fresh under $TMPDIR and removed at the end.
#
#   bench/peer-run.sh BASE_URL OUTPUT.iso [ROOT.crt ROOT.crl]
#
# BASE_URL is the server, e.g. http://127.0.0.1:8712; the trust anchors default
# to the demo root in trust/demo/. Exit status 0 when the image was made.
set -euo pipefail

[ $# -eq 2 ] || [ $# -eq 4 ] || { echo "usage: $0 BASE_URL OUTPUT.iso [ROOT.crt ROOT.crl]" >&2; exit 2; }
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
# shellcheck source=demo/mirror-layout
. "$here/../demo/mirror-layout"
base="${1%/}"
out="$(realpath -m -- "$2")"
root_cert="$(realpath -- "${3:-$here/../trust/demo/demo-root.crt}")"
root_crl="$(realpath -- "${4:-$here/../trust/demo/demo-root.crl}")"
# The instant at which the tool judges certificates: 1 January 2009.
attime=1230768000

die() { echo "peer-run: $*" >&2; exit 1; }

work="${TMPDIR:-/tmp}/PeerRunTempFolder"
rm -rf "$work"
mkdir -m 700 "$work"
trap 'rm -rf "$work"' EXIT
proof="$work/proof"
mkdir "$proof"

fetch() {  # fetch URL_PATH DESTINATION
  curl -s -f --noproxy '*' -o "$2" "$base$1" || die "download of $1 failed (curl exit $?)"
}

# prove MANIFEST FILE: the manifest's signature and chain, then FILE's SHA-1
# against the manifest line ".\NAME".
prove() {
  local manifest="$1" file="$2" name
  name="$(basename "$file")"
  # Body: every line before the signature block. Signature: the base64 lines
  # between its markers. Certificates: the first block is the signer's, any
  # further ones form the chain.
  sed '/^-----BEGIN SIGNATURE-----$/,$d' "$manifest" > "$proof/body"
  sed -n '/^-----BEGIN SIGNATURE-----$/,/^-----END SIGNATURE-----$/{/^-----/!p}' "$manifest" \
    | base64 -d > "$proof/signature" || die "$name: unreadable signature"
  awk -v signer="$proof/signer.pem" -v chain="$proof/chain.pem" '
    /^-----BEGIN CERTIFICATE-----$/ { n++ }
    n == 1 { print > signer }
    n > 1 { print > chain }' "$manifest"
  [ -s "$proof/signer.pem" ] || die "$name: no signer certificate"
  local untrusted=()
  [ -s "$proof/chain.pem" ] && untrusted=(-untrusted "$proof/chain.pem")
  openssl verify -attime "$attime" -crl_check -CRLfile "$root_crl" -CAfile "$root_cert" \
    "${untrusted[@]}" "$proof/signer.pem" > /dev/null || die "$name: signer certificate not trusted"
  openssl x509 -in "$proof/signer.pem" -noout -pubkey > "$proof/signer.pub"
  openssl dgst -sha1 -verify "$proof/signer.pub" -signature "$proof/signature" "$proof/body" > /dev/null \
    || die "$name: bad manifest signature"
  local expected actual
  expected="$(awk -v key=".\\\\$name" -F'"' '$2 == key { split($3, f, " "); print f[2]; exit }' "$proof/body")"
  [ -n "$expected" ] || die "$name: not in the manifest"
  actual="$(sha1sum < "$file")"
  [ "${actual%% *}" = "$expected" ] || die "$name: checksum mismatch"
  rm -f "$proof"/*
}

dist="$work/CorvexLive-SLAX.tar"
fetch "/$MIRROR_DISTRIBUTION" "$dist"
fetch "/$MIRROR_DISTRIBUTION_MANIFEST" "$work/manifest.dat"
prove "$work/manifest.dat" "$dist"
tar -xf "$dist" -C "$work"
rm -f "$dist" "$work/manifest.dat"

package="$work/linux.intel.libc6.glibc.2.2.tar.Z"
fetch "/$MIRROR_PACKAGE" "$package"
fetch "/$MIRROR_PACKAGE_MANIFEST" "$work/manifest.dat"
prove "$work/manifest.dat" "$package"
rm -f "$work/manifest.dat"
rootcopy="$work/slax/rootcopy"
[ -d "$rootcopy" ] || die "the distribution has no slax/rootcopy/ folder"
uncompress -c "$package" > "$rootcopy/linux.intel.libc6.glibc.2.2.tar"
rm -f "$package"

# The first data file name decides, as in the tool; the listing is read to its end.
vdl="$(tar -tf "$rootcopy/linux.intel.libc6.glibc.2.2.tar" | grep -i -E '/vdl-[^/]*\.dat$' || true)"
vdl="${vdl%%$'\n'*}"
[[ "$(basename "$vdl")" =~ ^[Vv][Dd][Ll]-([0-9]+)\.([0-9]+) ]] || die "could not determine the virus data version"
major=$((10#${BASH_REMATCH[1]}))
minor=$((10#${BASH_REMATCH[2]}))

ides="${major}${minor}_ides.zip"
status="$(curl -s --noproxy '*' -o "$rootcopy/$ides" -w '%{http_code}' "$base/$MIRROR_IDENTITIES/$ides")" \
  || die "download of $ides failed"
case "$status" in
  200) ;;
  404) rm -f "$rootcopy/$ides" ;;
  *) die "download of $ides failed with HTTP status $status" ;;
esac

rmdir "$proof"
label="RSCD $major.$minor"
# The tool's own fixed arguments, from the file its build reads.
mapfile -t fixed < <(sed -e '/^#/d' -e '/^$/d' -e 's/^path //' "$here/../pipeline/mkisofs_fixed_arguments.txt")
(cd "$work" && xorrisofs -quiet "${fixed[@]}" -o "$out" -A "$label" -V "$label" .)
