#!/usr/bin/env bash
# Makes, once, the disk image of the i386 test PC, with a Wine prefix set up in it, and
# caches it outside the work tree, keyed by what goes into it. Prints the image directory.
#
#   scripts/pe32vm/image.sh
#
# Two stages, each cached on its own:
#  - base: a Debian 12 i386 root (linux-image-686, Wine, Xvfb, PulseAudio, xdotool, python3)
#    made on the host by mmdebstrap, whose package scripts run under qemu-i386-static where
#    the kernel refuses i386 code (scripts/pe32vm/i386-userns.py), as an ext4 image with
#    the kernel and initrd beside it. Keyed by this script, the guest's init and packages.
#  - prefix: the base with the test bed's Wine prefix made inside the guest, which is slow
#    under emulation. Keyed by the base and the scripts that make the prefix.
# TICKORA_PE32_CACHE overrides the cache directory (default /var/cache/tickora-pe32).
set -euo pipefail
self=$(realpath "$0")
cd "$(dirname "$0")/../.."

CACHE=${TICKORA_PE32_CACHE:-/var/cache/tickora-pe32}
SUITE=bookworm
MIRROR=http://deb.debian.org/debian
SECURITY=http://deb.debian.org/debian-security
PACKAGES=(
    linux-image-686 initramfs-tools kmod iproute2
    wine wine32 libwine fonts-wine fonts-liberation
    xvfb x11-utils xdotool pulseaudio pulseaudio-utils python3
)
# What the test PC has no use for; less to unpack, copy and index under emulation.
EXCLUDE=(
    '/usr/share/doc/*' '/usr/share/man/*' '/usr/share/locale/*'
    /usr/lib/modules/'*'/kernel/{sound,drivers/{gpu,media,infiniband,staging,scsi,usb,bluetooth,isdn,iio,net/wireless,net/ethernet}}/'*'
)
# The initrd only has to find an ext4 root on a virtio disk. Its default takes most modules,
# which under qemu-user costs minutes.
# shellcheck disable=SC2016
INITRAMFS_SETUP='set -e; d="$1/etc/initramfs-tools"; mkdir -p "$d/conf.d" "$d/hooks"
echo RESUME=none >"$d/conf.d/resume"
echo MODULES=list >"$d/conf.d/modules"
printf "%s\n" "#!/bin/sh" "[ \"\$1\" = prereqs ] && exit 0" ". /usr/share/initramfs-tools/hook-functions" \
    "manual_add_modules virtio_pci virtio_blk ext4" >"$d/hooks/tickora"
chmod 755 "$d/hooks/tickora"'
PREFIX_FILES=(scripts/wineprefix.sh scripts/pe32vm/guest-prefix.sh)
PREFIX_SECONDS=600

log() { printf 'pe32vm: %s\n' "$*" >&2; }
die() { log "$*"; exit 1; }

# TICKORA_PE32_EMULATE=1 makes a host that runs i386 code build as one that cannot would.
host_runs_i386() {
    [[ ${TICKORA_PE32_EMULATE:-} != 1 ]] && /usr/lib/wine/wine --version >/dev/null 2>&1
}

base_key() {
    { printf '%s\n' "${PACKAGES[@]}" "$SUITE"; cat "$self" scripts/pe32vm/guest-init; } |
        sha256sum | cut -c1-16
}

make_root() {
    local root=$1 wrap=()
    # mmdebstrap runs the packages' scripts in the new root, which needs i386 code to run.
    host_runs_i386 || wrap=(python3 scripts/pe32vm/i386-userns.py)
    timeout 1200 "${wrap[@]}" mmdebstrap --mode=root --variant=minbase --architectures=i386 \
        --include="$(IFS=,; echo "${PACKAGES[*]}")" \
        --aptopt='APT::Install-Recommends "false"' \
        "${EXCLUDE[@]/#/--dpkgopt=path-exclude=}" \
        --essential-hook="$INITRAMFS_SETUP" \
        --customize-hook='rm -rf "$1/var/cache/apt" "$1/var/lib/apt/lists"' \
        "$SUITE" "$root" "deb $MIRROR $SUITE main" "deb $MIRROR $SUITE-updates main" \
        "deb $SECURITY $SUITE-security main"
}

# An ext4 file system with room for the Wine prefix and the tests' scratch files.
make_disk() {
    local root=$1 disk=$2 mb
    mb=$(($(du -sm "$root" | cut -f1) + 1024))
    mkfs.ext4 -q -F -L tickora-pe32 -d "$root" "$disk" "${mb}M"
}

build_base() {
    local dir=$1 work=$1.work start=$SECONDS
    rm -rf "$work"
    mkdir -p "$work"
    log "building the i386 root in $work (a few minutes, once)"
    make_root "$work/root" >"$work/mmdebstrap.log" 2>&1 || {
        tail -n 30 "$work/mmdebstrap.log" >&2
        die "mmdebstrap failed (log: $work/mmdebstrap.log)"
    }
    install -m 755 scripts/pe32vm/guest-init "$work/root/usr/local/sbin/tickora-guest"
    local kernels=("$work"/root/boot/vmlinuz-*-686) initrds=("$work"/root/boot/initrd.img-*-686)
    cp "${kernels[-1]}" "$work/vmlinuz"
    cp "${initrds[-1]}" "$work/initrd.img"
    make_disk "$work/root" "$work/root.img"
    rm -rf "$work/root"
    mv "$work" "$dir"
    log "base image ready in $((SECONDS - start)) s: $dir"
}

build_prefix() {
    local base=$1 dir=$2 work=$2.work start=$SECONDS
    rm -rf "$work"
    mkdir -p "$work"
    cp --sparse=always "$base/root.img" "$work/root.img"
    cp "$base/vmlinuz" "$base/initrd.img" "$work/"
    log "making the Wine prefix inside the guest (about a minute, once)"
    scripts/pe32vm/boot.sh "$work" scripts/pe32vm/guest-prefix.sh "$work/out" "$PREFIX_SECONDS" --keep || {
        tail -n 30 "$work/out/job.log" >&2 || true
        die "making the Wine prefix in the guest failed (logs: $work/out)"
    }
    mv "$work" "$dir"
    log "prefix ready in $((SECONDS - start)) s: $dir"
}

# Only the image directory goes to stdout; the tools' chatter goes with the log to stderr.
exec 3>&1 1>&2
mkdir -p "$CACHE"
exec 8>"$CACHE/.lock"
# Another run may be building the same image; it takes a while.
flock -w 2400 8 || die "timed out waiting for another build of the image in $CACHE"

base=$CACHE/base-$(base_key)
[[ -f $base/root.img ]] || build_base "$base"
ready=$CACHE/prefix-$( { base_key; cat "${PREFIX_FILES[@]}"; } | sha256sum | cut -c1-16)
[[ -f $ready/root.img ]] || build_prefix "$base" "$ready"
# Images of other versions of these files (2-4 GB each) go when unused for two weeks.
touch "$base" "$ready"
find "$CACHE" -mindepth 1 -maxdepth 1 -type d \( -name 'base-*' -o -name 'prefix-*' \) \
    -mtime +14 -exec rm -rf {} +
printf '%s\n' "$ready" >&3
