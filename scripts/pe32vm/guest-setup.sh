#!/bin/bash
# Runs in the i386 test PC, once, at the first boot of a new image: installs the packages
# the host only unpacked (scripts/pe32vm/image.sh), with the guest's own dpkg and apt, as
# mmdebstrap does in a chroot: the essential set first, then the rest from the fetched
# files. The guest has no network; everything it needs is on its disk.
#   bash guest-setup.sh <work-tree> <out-dir>
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive DEBCONF_NONINTERACTIVE_SEEN=true LC_ALL=C
setup=/var/lib/tickora-setup
archives=/var/cache/apt/archives
uptime_s() { cut -d' ' -f1 /proc/uptime; }
step() { echo "setup: $1 at $(uptime_s) s"; }

step "essential set"
cd "$archives"
# Essential packages depend on each other in ways dpkg alone cannot order.
mapfile -t essential <"$setup/essential"
dpkg --force-depends --force-unsafe-io --install "${essential[@]}"
cd /
step "the rest"
mapfile -t packages <"$setup/packages"
apt-get --yes --no-download -o Dpkg::Options::=--force-unsafe-io \
    -o Dpkg::Options::=--force-confold install "${packages[@]}"
step "clean-up"
# Nothing broken or half-configured may stay behind.
dpkg --audit
apt-get check
# Modules loaded later by name (the initrd loads what boots the PC).
depmod -a "$(uname -r)"
rm -rf "$archives"/*.deb /var/lib/apt/lists/* "$setup"
fstrim / 2>/dev/null || true
sync
step "done"
