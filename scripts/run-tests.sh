#!/usr/bin/env bash
# Runs every test under Wine on a private X display and a private sound server.
#   scripts/run-tests.sh <wine-prefix> <build-dir> [ctest arguments...]
# With GTEST=<filter> set, runs just those GoogleTest cases instead of CTest.
set -euo pipefail
cd "$(dirname "$0")/.."

# shellcheck source=scripts/testbed-runner.sh
source scripts/testbed-runner.sh
runner_select "$1" "$2" "$PWD/build/testbed-logs"
shift 2
# CTest shows no output of a skipped entry: its reason is given here.
if host_runs_i386; then
    echo "note: this host runs i386 code, so every entry runs the PE32 build and pe32 (the same" \
        "in an emulated i386 PC) is skipped; TICKORA_NO_I386=1 runs the x86-64 build and pe32," \
        "as on a host that refuses i386 code" >&2
fi

# A virtual desktop the size of the X screen: there is no window manager on the test bed.
scripts/wineprefix.sh "$PREFIX" --desktop 1024x768
export WINEPREFIX=$PREFIX WINEDEBUG=-all
runner_start_testbed pulse
testbed_hear_x11_bell

if [ -n "${GTEST:-}" ]; then
    wine "$BUILD_DIR/tickora_tests.exe" --gtest_filter="$GTEST" >"$TESTBED_LOGDIR/gtest.log" 2>&1 &&
        status=0 || status=$?
    tr -d '\r' <"$TESTBED_LOGDIR/gtest.log"
    exit "$status"
fi
# Two at a time: the entries' resource locks say which may share the machine.
ctest --test-dir "$BUILD_DIR" --output-on-failure -j2 "$@"
