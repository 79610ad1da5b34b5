#!/usr/bin/env bash
# Makes, once, the disk image of the i386 test PC, with a Wine prefix set up in it, and
# caches it outside the work tree, keyed by what goes into it. Prints the image directory.
#
#   scripts/pe32vm/image.sh             makes the image if needed, prints its directory
#   scripts/pe32vm/image.sh --sources   prints what the base is made from, and its key
#
# Nothing here runs i386 code on the host, makes a namespace, mounts or needs root, so it
# works in a container or a chroot and on a kernel that refuses i386 code. Two stages, each
# cached on its own:
#  - base: a Debian 12 i386 root. mmdebstrap fetches the packages and unpacks them on the
#    host without running any of them; the guest's own dpkg and apt install them properly
#    at its first boot (scripts/pe32vm/guest-setup.sh). The kernel comes from the same
#    packages; the initrd is made here from busybox and the few modules needed to mount the
#    root (scripts/pe32vm/initramfs.py). An ext4 image, with the kernel and initrd beside
#    it. Keyed by these scripts and the packages.
#  - prefix: the base with the test bed's Wine prefix made inside the guest, which is slow
#    under emulation. Keyed by the base and the scripts that make the prefix.
# TICKORA_PE32_CACHE overrides the cache directory (default /var/cache/tickora-pe32). The
# packages are kept there too, so that a changed script does not fetch them again.
set -euo pipefail
self=$(realpath "$0")
cd "$(dirname "$0")/../.."

CACHE=${TICKORA_PE32_CACHE:-/var/cache/tickora-pe32}
SUITE=bookworm
MIRROR=http://deb.debian.org/debian
# The main suite alone: the test PC is sealed, so it needs no security or point updates, and
# a mirror caught mid-sync on one of those suites cannot stop it being made (mmdebstrap
# fails on any index it cannot read).
SOURCES=("deb $MIRROR $SUITE main")
# Installed in the guest.
PACKAGES=(
    mount kmod iproute2
    wine wine32 libwine fonts-wine fonts-liberation
    xvfb x11-utils xdotool pulseaudio pulseaudio-utils python3
)
# Only unpacked: the kernel and its modules, and busybox for the initrd.
BOOT_PACKAGES=(linux-image-686 busybox-static)
# What the test PC has no use for; less to unpack, copy and index under emulation.
EXCLUDE=(
    '/usr/share/doc/*' '/usr/share/man/*' '/usr/share/locale/*'
    /lib/modules/'*'/kernel/{sound,drivers/{gpu,media,infiniband,staging,scsi,usb,bluetooth,isdn,iio,net/wireless,net/ethernet}}/'*'
)
BASE_FILES=("$self" scripts/pe32vm/guest-init scripts/pe32vm/guest-setup.sh
    scripts/pe32vm/initramfs.py scripts/pe32vm/boot.sh)
PREFIX_FILES=(scripts/wineprefix.sh scripts/pe32vm/guest-prefix.sh)
# Installing some 300 packages under emulation; about 6 minutes measured.
SETUP_SECONDS=1800
PREFIX_SECONDS=600

log() { printf 'pe32vm: %s\n' "$*" >&2; }
die() { log "$*"; exit 1; }

base_key() {
    printf '%s-main-' "$SUITE"
    { printf '%s\n' "${PACKAGES[@]}" "${BOOT_PACKAGES[@]}" "${SOURCES[@]}"; cat "${BASE_FILES[@]}"; } |
        sha256sum | cut -c1-16
}

if [[ ${1:-} == --sources ]]; then
    printf 'source: %s\n' "${SOURCES[@]}"
    printf 'key: %s\n' "$(base_key)"
    exit 0
fi

# fakeroot records the owners the packages give their files, for mkfs.ext4. It is used as
# root too: from Debian 13 on, mmdebstrap refuses its chrootless mode as root without it.
as_root() {
    fakeroot -i "$FAKEROOT_STATE" -s "$FAKEROOT_STATE" -- "$@"
}

# Fetches the packages and unpacks them into <root>, running none of them. Leaves the
# package lists and files in the root for the guest's apt, and the list of the essential
# set, which the guest's dpkg installs first, as mmdebstrap itself would. Called where
# errexit does not hold, hence the returns.
unpack_root() {
    local root=$1 setup=$1/var/lib/tickora-setup
    mkdir -p "$CACHE/debs" || return
    # shellcheck disable=SC2016  # expanded by the hook's shell
    TICKORA_DEBS=$CACHE/debs as_root timeout 1800 mmdebstrap --mode=chrootless --variant=extract \
        --architectures=i386 --include='?essential' \
        --include="$(IFS=,; echo "apt,${PACKAGES[*]},${BOOT_PACKAGES[*]}")" \
        --aptopt='APT::Install-Recommends "false"' \
        --hook-dir=/usr/share/mmdebstrap/hooks/merged-usr \
        --setup-hook='mkdir -p "$1/var/cache/apt/archives"
            find "$TICKORA_DEBS" -name "*.deb" -exec cp -t "$1/var/cache/apt/archives/" {} +' \
        --skip=cleanup/apt \
        "$SUITE" "$root" "${SOURCES[@]}" || return
    mkdir -p "$setup" || return
    # The essential set and what it needs, as apt picks them for an empty root, named as
    # apt names their files: "Inst name (version ... [arch])" -> name_version_arch.deb
    apt-get -o Dir="$root" -o APT::Architecture=i386 -o APT::Architectures=i386 \
        -o APT::Install-Recommends=false -o Debug::NoLocking=1 --simulate install '?essential' >"$setup/essential.sim" || return
    rm -f "$root"/var/cache/apt/*.bin
    sed -n 's/^Inst \([^ ]*\) (\([^ ]*\) [^[]*\[\([^]]*\)\]).*/\1_\2_\3.deb/p' "$setup/essential.sim" |
        sed 's/:/%3a/g' >"$setup/essential"
    [[ -s $setup/essential ]] || { echo "no essential packages in $setup/essential.sim"; return 1; }
    local deb
    while read -r deb; do
        [[ -f $root/var/cache/apt/archives/$deb ]] || { echo "$deb not fetched"; return 1; }
    done <"$setup/essential"
    printf '%s\n' "${PACKAGES[@]}" apt >"$setup/packages"
    # Left out here rather than by mmdebstrap, which filters each package through a
    # program of its own, minutes slower; the guest's dpkg leaves them out by itself.
    printf 'path-exclude=%s\n' "${EXCLUDE[@]}" >"$root/etc/dpkg/dpkg.cfg.d/tickora-exclude"
    local pattern
    for pattern in "${EXCLUDE[@]}"; do
        # shellcheck disable=SC2086  # the patterns are globs
        rm -rf "$root"$pattern
    done
    # Kept for the next image; what is no longer fetched goes.
    rm -rf "$CACHE/debs.new"
    mkdir -p "$CACHE/debs.new"
    cp -l "$root"/var/cache/apt/archives/*.deb "$CACHE/debs.new/" 2>/dev/null ||
        cp "$root"/var/cache/apt/archives/*.deb "$CACHE/debs.new/" || return
    rm -rf "$CACHE/debs"
    mv "$CACHE/debs.new" "$CACHE/debs"
}

# An ext4 file system with room for the Wine prefix and the tests' scratch files.
make_disk() {
    local root=$1 disk=$2 mb
    mb=$(($(du -sm "$root" | cut -f1) + 1536))
    as_root mkfs.ext4 -q -F -L tickora-pe32 -d "$root" "$disk" "${mb}M"
}

build_base() {
    local dir=$1 work=$1.work start=$SECONDS
    rm -rf "$work"
    mkdir -p "$work"
    FAKEROOT_STATE=$work/fakeroot.state
    : >"$FAKEROOT_STATE"
    log "fetching and unpacking the i386 packages in $work (a few minutes, once)"
    unpack_root "$work/root" >"$work/mmdebstrap.log" 2>&1 || {
        tail -n 30 "$work/mmdebstrap.log" >&2
        die "mmdebstrap failed (log: $work/mmdebstrap.log)"
    }
    log "unpacked in $((SECONDS - start)) s"
    local kernels=("$work"/root/boot/vmlinuz-*-686)
    local version=${kernels[-1]#"$work"/root/boot/vmlinuz-}
    cp "${kernels[-1]}" "$work/vmlinuz"
    python3 scripts/pe32vm/initramfs.py "$work/root" "$version" "$work/initrd.img"
    rm -f "$work"/root/boot/*
    as_root install -D -m 755 scripts/pe32vm/guest-init "$work/root/usr/local/sbin/tickora-guest"
    make_disk "$work/root" "$work/root.img"
    rm -rf "$work/root"
    local at=$SECONDS
    log "installing the packages inside the guest (several minutes, once)"
    scripts/pe32vm/boot.sh "$work" scripts/pe32vm/guest-setup.sh "$work/out" "$SETUP_SECONDS" --keep || {
        tail -n 30 "$work/out/job.log" >&2 || true
        die "installing the packages in the guest failed (logs: $work/out)"
    }
    log "installed in the guest in $((SECONDS - at)) s"
    rm -f "$FAKEROOT_STATE"
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
for tool in mmdebstrap fakeroot mkfs.ext4 qemu-system-i386 python3; do
    command -v "$tool" >/dev/null || die "$tool not found (make deps installs it)"
done
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
