#!/usr/bin/env bash
# Tries a README command as a new user would on a fresh Debian machine: makes a fresh Debian
# root (12 "bookworm" or 13 "trixie"), clones this checkout's HEAD into it and runs the
# command there in the clone, as root, under `env -i` (no locale, no DISPLAY, a bare PATH).
# Slow (the command installs its packages into the root) and not part of `make test`.
#
#   sudo scripts/fresh-root.sh [--no-i386] [--keep] <bookworm|trixie> <command...>
#   e.g.  sudo scripts/fresh-root.sh trixie make test
#         sudo scripts/fresh-root.sh bookworm 'make build && scripts/run-tests.sh build/wineprefix build/win32 -E pe32'
#
# The command words are run by `sh -c` in /root/tickora. --no-i386 sets TICKORA_NO_I386=1
# in its environment. --keep leaves the run's root in place (its path is printed) instead
# of removing it.
#
# A debootstrap minbase root with `make` is made once per suite and cached in
# /var/cache/tickora-roots/<suite> (TICKORA_ROOTS_CACHE overrides); each run copies it to a
# fresh root beside it and removes that root afterwards, so only the cached base stays. The
# root shares the host's network (apt fetches from deb.debian.org) and kernel: on a host
# that refuses i386 code the root does too. /proc, /sys, /dev (with a devpts and a /dev/shm
# of its own) are mounted in a mount namespace of this script's own and unmounted on exit,
# whatever happens; processes left running in the root are ended first.
set -euo pipefail

CACHE=${TICKORA_ROOTS_CACHE:-/var/cache/tickora-roots}
MIRROR=http://deb.debian.org/debian
SECURITY=http://deb.debian.org/debian-security

log() { printf 'fresh-root: %s\n' "$*" >&2; }
die() { log "$*"; exit 1; }
usage() { sed -n '7,10p' "$0" >&2; exit 2; }

no_i386='' keep=''
while (($#)); do
    case $1 in
        --no-i386) no_i386=1; shift ;;
        --keep) keep=1; shift ;;
        -h|--help) usage ;;
        *) break ;;
    esac
done
(($# >= 2)) || usage
suite=$1
shift
case $suite in bookworm|trixie) ;; *) die "suite must be bookworm (Debian 12) or trixie (Debian 13), not '$suite'" ;; esac
((EUID == 0)) || die "needs root (debootstrap, chroot, mount)"
for tool in debootstrap chroot unshare git mount; do
    command -v "$tool" >/dev/null || die "$tool not found (Debian: apt-get install debootstrap git)"
done
checkout=$(git -C "$(dirname "$0")/.." rev-parse --show-toplevel)

# Everything mounted below lives in a mount namespace of its own: nothing propagates to the
# host, and the kernel drops what is left there once its last process ends.
if [[ ${FRESH_ROOT_NS:-} != "$$" ]]; then
    exec env FRESH_ROOT_NS=$$ unshare --mount --propagation private -- "$0" \
        ${no_i386:+--no-i386} ${keep:+--keep} "$suite" "$@"
fi
# Below, $$ is the same process (exec keeps the id).

base=$CACHE/$suite
if [[ ! -x $base/usr/bin/make ]]; then
    log "making the $suite base in $base (a few minutes, once)"
    mkdir -p "$CACHE"
    rm -rf --one-file-system "$base.new"
    debootstrap --variant=minbase --include=make,ca-certificates "$suite" "$base.new" "$MIRROR" \
        >"$CACHE/$suite.log" 2>&1 || { tail -n 20 "$CACHE/$suite.log" >&2; die "debootstrap failed"; }
    # As an installed system has it: the suite, its updates and its security fixes.
    printf 'deb %s %s main\ndeb %s %s-updates main\ndeb %s %s-security main\n' \
        "$MIRROR" "$suite" "$MIRROR" "$suite" "$SECURITY" "$suite" >"$base.new/etc/apt/sources.list"
    rm -rf "$base.new/var/cache/apt/archives/"*.deb "$base.new/var/lib/apt/lists/"*
    mv "$base.new" "$base"
fi

root=$(mktemp -d "$CACHE/run-$suite.XXXXXX")
mounted=()
# shellcheck disable=SC2317  # run by the EXIT trap
cleanup() {
    local status=$? i
    trap - EXIT INT TERM HUP
    for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do
        umount "${mounted[i]}" 2>/dev/null || umount -l "${mounted[i]}" ||
            log "could not unmount ${mounted[i]}"
    done
    if grep -q " ${root}[/ ]" /proc/self/mountinfo; then
        log "something is still mounted under $root; it is left in place"
    elif [[ -n $keep ]]; then
        log "the root is kept: $root"
    else
        rm -rf --one-file-system "$root"
    fi
    exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM HUP

log "copying the $suite base to $root"
cp -a "$base/." "$root/"
cp /etc/resolv.conf "$root/etc/resolv.conf"
git clone -q --no-hardlinks "$checkout" "$root/root/tickora"
log "checkout $(git -C "$root/root/tickora" log -1 --format='%h %s')"

mnt() { mount "$@"; mounted+=("${*: -1}"); }
mnt -t proc proc "$root/proc"
mnt -t sysfs -o ro sysfs "$root/sys"
mnt --bind /dev "$root/dev"
mnt -t devpts -o newinstance,ptmxmode=0666,mode=0620 devpts "$root/dev/pts"
mnt --bind "$root/dev/pts/ptmx" "$root/dev/ptmx"
mnt -t tmpfs -o mode=1777 shm "$root/dev/shm"

env=(HOME=/root PATH=/usr/sbin:/usr/bin:/sbin:/bin)
[[ -z $no_i386 ]] || env+=(TICKORA_NO_I386=1)
log "running in $suite: env -i ${env[*]} sh -c '$*'"
start=$SECONDS
status=0
# shellcheck disable=SC2016  # expanded by the shell in the root
# In a PID namespace of its own, with its own /proc: whatever the command leaves running (a
# daemon a package started, a test's leftovers) ends with it, and nothing else is touched.
unshare --pid --fork --kill-child --mount-proc="$root/proc" \
    chroot "$root" /usr/bin/env -i "${env[@]}" /bin/sh -c 'cd /root/tickora && eval "$1"' sh "$*" ||
    status=$?
log "finished with status $status after $((SECONDS - start)) s"
exit "$status"
