#!/usr/bin/env bash
# Installs what building and testing need on Debian 12, only what is missing, quietly.
#   scripts/install-deps.sh [more packages...]   (e.g. openbox for `make screenshot`)
set -euo pipefail

PACKAGES=(
    make cmake python3
    g++-mingw-w64-i686 binutils-mingw-w64-i686 googletest
    wine wine32:i386
    # for hosts that cannot execute i386 code (scripts/winearch.sh), and the emulated i386 PC
    # that runs the PE32 build there (scripts/pe32vm)
    wine64 g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
    qemu-system-x86 qemu-user-static mmdebstrap arch-test e2fsprogs
    xvfb xauth x11-utils xdotool imagemagick fonts-liberation fonts-wine
    pulseaudio pulseaudio-utils
    # the PipeWire test bed; the X bell module rings through libcanberra's PulseAudio backend
    pipewire wireplumber pipewire-pulse dbus-daemon libpipewire-0.3-modules-x11 libcanberra-pulse
    desktop-file-utils
    "$@"
)

as_root() {
    if [ "$(id -u)" -eq 0 ]; then
        "$@"
    elif command -v sudo >/dev/null && sudo -n true 2>/dev/null; then
        sudo "$@"
    else
        echo "error: need root (or password-less sudo) to install: ${MISSING[*]:-i386 architecture}" >&2
        echo "       run: sudo dpkg --add-architecture i386 && sudo apt-get update && sudo apt-get install ${MISSING[*]:-}" >&2
        exit 1
    fi
}

is_installed() {
    [ "$(dpkg-query -W -f='${Status}' "$1" 2>/dev/null)" = "install ok installed" ]
}

MISSING=()
for pkg in "${PACKAGES[@]}"; do
    is_installed "$pkg" || MISSING+=("$pkg")
done
[ ${#MISSING[@]} -eq 0 ] && exit 0

echo "Installing: ${MISSING[*]}"
export DEBIAN_FRONTEND=noninteractive
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    as_root dpkg --add-architecture i386
fi
as_root apt-get -o DPkg::Lock::Timeout=900 update -qq
as_root apt-get -o DPkg::Lock::Timeout=900 install -y -qq --no-install-recommends "${MISSING[@]}" >/dev/null
