#!/usr/bin/env bash
# Installs what a make target needs on Debian 12 or 13, only what is missing, and says what
# and for which target first. Each level adds to the one before:
#   build   make, make dist                     the tool chain
#   run     make run, make install              and Wine
#   test    make test, make bench, make screenshot
#                                               and the test bed: X, the sound servers, the
#                                               emulated i386 PC
#
#   scripts/install-deps.sh [--dry-run] [--for WHAT] <build|run|test> [more packages...]
#
# --for names the target in the message (e.g. "make screenshot"); --dry-run prints what would
# be installed and installs nothing.
set -euo pipefail

dry_run=
what=
while (($#)); do
    case $1 in
    --dry-run) dry_run=1; shift ;;
    --for) what=${2:?--for needs a name}; shift 2 ;;
    *) break ;;
    esac
done
level=${1:-}
shift || true

BUILD=(make cmake python3 googletest
    g++-mingw-w64-i686 binutils-mingw-w64-i686
    # the x86-64 build, which hosts that refuse i386 code run, and make install ships
    g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64)
# wine64 runs the x86-64 build and Wine's own 64-bit half; fonts-wine gives dialogs their
# Windows metrics (scripts/wineprefix.sh).
RUN=(wine wine64 fonts-wine)
TEST=(xvfb xauth x11-utils x11-xserver-utils xdotool imagemagick fonts-liberation
    pulseaudio pulseaudio-utils
    # the PipeWire test bed; the X bell module rings through libcanberra's PulseAudio backend
    pipewire wireplumber pipewire-pulse dbus-daemon libpipewire-0.3-modules-x11 libcanberra-pulse
    # the packaging test checks the desktop entry
    desktop-file-utils
    # the emulated i386 PC that runs the PE32 build where the host refuses i386 code
    # (scripts/pe32vm)
    qemu-system-x86 mmdebstrap e2fsprogs fakeroot)

case $level in
build) PACKAGES=("${BUILD[@]}") ;;
run) PACKAGES=("${BUILD[@]}" "${RUN[@]}") ;;
test) PACKAGES=("${BUILD[@]}" "${RUN[@]}" "${TEST[@]}") ;;
*)
    echo "usage: $0 [--dry-run] [--for WHAT] <build|run|test> [more packages...]" >&2
    exit 2
    ;;
esac
PACKAGES+=("$@")

# 32-bit Wine (and with it the i386 architecture) only where it can run: elsewhere the x86-64
# build runs under wine64.
if [[ $level != build ]] && "$(dirname "$0")/host-runs-i386"; then
    PACKAGES+=(wine32:i386)
fi

is_installed() {
    [ "$(dpkg-query -W -f='${Status}' "$1" 2>/dev/null)" = "install ok installed" ]
}

MISSING=()
for pkg in "${PACKAGES[@]}"; do
    is_installed "$pkg" || MISSING+=("$pkg")
done
[ ${#MISSING[@]} -eq 0 ] && exit 0

echo "install-deps: ${what:-$level} needs, and will install: ${MISSING[*]}"
[[ -z $dry_run ]] || exit 0

as_root() {
    if [ "$(id -u)" -eq 0 ]; then
        "$@"
    elif command -v sudo >/dev/null && sudo -n true 2>/dev/null; then
        sudo "$@"
    else
        echo "error: need root (or password-less sudo) to install: ${MISSING[*]}" >&2
        echo "       run: sudo apt-get update && sudo apt-get install ${MISSING[*]}" >&2
        exit 1
    fi
}

export DEBIAN_FRONTEND=noninteractive
if [[ " ${MISSING[*]} " == *":i386 "* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    as_root dpkg --add-architecture i386
fi
APT=(apt-get -o DPkg::Lock::Timeout=900)
APT_LOG=$(mktemp)
trap 'rm -rf "$APT_LOG" ${PIN_DIR:+"$PIN_DIR"}' EXIT

# A mirror caught mid-sync serves an index with the wrong size for minutes or hours, and apt
# then fails the whole update although every other list was read. Try again a few times, then
# go on with the lists there are: what we need may well be in them.
UPDATE_TRIES=3
FAILED_INDEXES=()
update_package_lists() {
    local try
    for ((try = 1; try <= UPDATE_TRIES; try++)); do
        as_root "${APT[@]}" update -qq 2>"$APT_LOG" && { FAILED_INDEXES=(); return; }
        mapfile -t FAILED_INDEXES < <(sed -n 's/^[EW]: Failed to fetch \([^ ]*\).*/\1/p' "$APT_LOG")
        ((try == UPDATE_TRIES)) || sleep "${TICKORA_APT_RETRY_PAUSE:-20}"
    done
    cat "$APT_LOG" >&2
    echo "install-deps: apt-get update failed $UPDATE_TRIES times; going on with the package" \
        "lists that were read" >&2
}

install_missing() {
    as_root "${APT[@]}" "$@" install -y -qq --no-install-recommends "${MISSING[@]}" \
        >/dev/null 2>"$APT_LOG"
}

# Without the security suite's index for one architecture, the other's libraries have security
# versions whose twins apt cannot find, and a multiarch install fails. Ranked below the main
# suite for this one install (the host's own settings untouched), the security suite gives way
# and both twins come from the main suite; a later upgrade brings the security versions.
install_without_security_suite() {
    PIN_DIR=$(mktemp -d)
    cp -t "$PIN_DIR" /etc/apt/preferences.d/* 2>/dev/null || true
    printf 'Package: *\nPin: release l=Debian-Security\nPin-Priority: 100\n' \
        >"$PIN_DIR/tickora-mirror-mid-sync.pref"
    echo "install-deps: installing from the main suite alone, as a security index could not" \
        "be read; run 'apt-get update && apt-get upgrade' later for its updates" >&2
    install_missing -o Dir::Etc::PreferencesParts="$PIN_DIR"
}

explain_failed_install() {
    cat "$APT_LOG" >&2
    echo "install-deps: could not install: ${MISSING[*]}" >&2
    ((${#FAILED_INDEXES[@]})) || return 0
    echo "install-deps: apt could not read these package lists:" >&2
    printf '    %s\n' "${FAILED_INDEXES[@]}" >&2
    echo "install-deps: without them apt does not know every package it needs, so it cannot" \
        "install the rest. The mirror was most likely caught mid-sync; a later try will likely" \
        "pass." >&2
}

update_package_lists
if install_missing; then
    exit 0
fi
if [[ " ${FAILED_INDEXES[*]} " == *-security/* ]] && install_without_security_suite; then
    exit 0
fi
explain_failed_install
exit 1
