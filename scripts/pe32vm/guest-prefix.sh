#!/bin/bash
# Runs in the i386 test PC, once, when its image is made: sets up the test bed's Wine prefix
# (32-bit, with the virtual desktop) so that every later boot finds it ready.
#   bash guest-prefix.sh <work-tree> <out-dir>
set -euo pipefail
cd "$1"
start=$(cut -d' ' -f1 /proc/uptime)
scripts/wineprefix.sh /root/wineprefix --desktop 1024x768
echo "prefix: $(awk -v s="$start" '{printf "%.0f", $1 - s}' /proc/uptime) s"
