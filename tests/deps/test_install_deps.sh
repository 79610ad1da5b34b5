#!/usr/bin/env bash
# install-deps against a package mirror caught mid-sync, played by a stand-in: a file: source
# whose Release lists its one index with a wrong size, read through an apt configuration of
# the test's own, so the host's sources and lists are never touched. Then the sources the
# emulated PC's image is made from.
set -euo pipefail
cd "$(dirname "$0")/../.."

if [[ $(id -u) -ne 0 ]] && ! sudo -n true 2>/dev/null; then
    echo "skipped: install-deps needs root or password-less sudo"
    exit 77
fi

fails=0
fail() { echo "FAIL: $*"; fails=$((fails + 1)); }
expect_in() {
    grep -qF -- "$2" <<<"$3" || fail "$1: expected \"$2\" in:"$'\n'"$3"
}

dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
arch=$(dpkg --print-architecture)
index=$dir/repo/dists/stand-in-security/main/binary-$arch
mkdir -p "$index" "$dir/lists/partial" "$dir/cache" "$dir/sources.list.d"
: >"$index/Packages"
cat >"$dir/repo/dists/stand-in-security/Release" <<RELEASE
Origin: stand-in
Suite: stand-in-security
Codename: stand-in-security
Date: $(date -Ru)
Architectures: $arch
Components: main
SHA256:
 $(printf '0%.0s' {1..64}) 1234 main/binary-$arch/Packages
RELEASE
echo "deb [trusted=yes] file:$dir/repo stand-in-security main" >"$dir/sources.list"
cat >"$dir/apt.conf" <<CONF
Dir::Etc::sourcelist "$dir/sources.list";
Dir::Etc::sourceparts "$dir/sources.list.d";
Dir::State::Lists "$dir/lists";
Dir::Cache "$dir/cache";
CONF

# The stand-in index alone is read, and fails like the real one: the update is tried again
# and the install goes on, then fails for a package no list has.
status=0
out=$(APT_CONFIG=$dir/apt.conf TICKORA_APT_RETRY_PAUSE=0 \
    scripts/install-deps.sh --for "the test" build tickora-stand-in-missing 2>&1) || status=$?
[[ $status -ne 0 ]] || fail "install-deps passed although the package cannot be had"
expect_in "the failed index" "file:$dir/repo/dists/stand-in-security/main/binary-$arch/Packages" "$out"
expect_in "the retries" "apt-get update failed 3 times; going on" "$out"
expect_in "the security suite set aside" "installing from the main suite alone" "$out"
expect_in "why it blocks" "without them apt does not know every package it needs" "$out"
expect_in "the advice" "a later try will likely pass" "$out"

# A readable mirror: no retries and no word of a mirror mid-sync.
: >"$dir/sources.list"
status=0
out=$(APT_CONFIG=$dir/apt.conf TICKORA_APT_RETRY_PAUSE=0 \
    scripts/install-deps.sh --for "the test" build tickora-stand-in-missing 2>&1) || status=$?
[[ $status -ne 0 ]] || fail "install-deps passed although the package cannot be had"
expect_in "a plain failure" "could not install: tickora-stand-in-missing" "$out"
grep -q "later try\|update failed" <<<"$out" && fail "a readable mirror was blamed: $out"

# The emulated PC is made from the main suite alone, and its key says so.
sources=$(scripts/pe32vm/image.sh --sources)
[[ $(grep -c '^source: ' <<<"$sources") -eq 1 ]] || fail "more than one source: $sources"
expect_in "the main suite" "source: deb http://deb.debian.org/debian bookworm main" "$sources"
grep -q -- '-security\|-updates' <<<"$sources" && fail "the image reads an update suite: $sources"
expect_in "the key" "key: bookworm-main-" "$sources"

[[ $fails -eq 0 ]] || exit 1
echo "install-deps: all checks passed"
