#!/bin/bash
# Runs in the i386 test PC (tests/pe32/pe32.sh boots it): the PE32 build's GoogleTest groups
# and the end-to-end smoke, on the same kind of test bed as on the host (scripts/testbed.sh).
#   bash guest-run.sh <work-tree> <out-dir>
# <out-dir> holds bin/ (the PE32 programs) and groups (lines "name filter"); each step adds
# "name ok|FAILED seconds" to <out-dir>/steps and leaves its output beside it.
set -uo pipefail
src=$1
out=$2
cd "$src" || exit 1

uptime_s() { cut -d' ' -f1 /proc/uptime; }
since() { awk -v s="$1" '{ printf "%.0f", $1 - s }' /proc/uptime; }
failed=0
record() { # name status start
    local verdict=ok
    (($2 == 0)) || { verdict=FAILED; failed=1; }
    printf '%s %s %s\n' "$1" "$verdict" "$(since "$3")" >>"$out/steps"
}
: >"$out/steps"
printf 'boot ok %.0f\n' "$(uptime_s)" >>"$out/steps"

# Wine maps programs into memory, which files on the host's share do not all support.
bin=/tmp/bin
cp -r "$out/bin" "$bin"

# shellcheck source=scripts/testbed.sh
source scripts/testbed.sh
# Everything starts several times slower under emulation.
export TESTBED_LOGDIR=/tmp/testbed-logs TESTBED_XVFB_TIMEOUT=120 TESTBED_PULSE_TIMEOUT=120
export WINEPREFIX=/root/wineprefix WINEARCH=win32 WINEDEBUG=-all
# A crash ends the program at once instead of waiting in Wine's debugger until the time limit.
export WINEDLLOVERRIDES=winedbg.exe=d
t=$(uptime_s)
# Made when the image was; this only checks it.
scripts/wineprefix.sh "$WINEPREFIX" --desktop 1024x768 >"$out/prefix.log" 2>&1
record prefix-check $? "$t"
trap 'testbed_stop; cp -r "$TESTBED_LOGDIR" "$out/" 2>/dev/null' EXIT
t=$(uptime_s)
testbed_start_xvfb && testbed_start_pulse /tmp/pulse && testbed_hear_x11_bell
status=$?
record testbed "$status" "$t"
((status == 0)) || exit 1

# A group that hangs is stopped, so that the smoke still runs.
while read -r name filter; do
    t=$(uptime_s)
    timeout -k 10 600 wine "$bin/tickora_tests.exe" --gtest_filter="$filter" \
        >"$out/gtest-$name.log" 2>&1
    status=$?
    # A filter that matches nothing would pass silently.
    grep -q "Running 0 tests from" "$out/gtest-$name.log" && status=1
    record "gtest-$name" "$status" "$t"
done <"$out/groups"

t=$(uptime_s)
TICKORA_EXE=$bin/tickora.exe TICKORA_PROBE=$bin/tickora_probe.exe \
    TICKORA_E2E_DIR=/tmp/e2e PYTHONDONTWRITEBYTECODE=1 \
    timeout -k 10 900 python3 tests/pe32/test_pe32_smoke.py >"$out/smoke.log" 2>&1
record e2e-smoke $? "$t"
exit "$failed"
