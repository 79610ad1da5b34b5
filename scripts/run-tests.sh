#!/usr/bin/env bash
# Runs every test under Wine on a private X display and a private sound server.
#   scripts/run-tests.sh <wine-prefix> <build-dir> [ctest arguments...]
# With GTEST=<filter> set, runs just those GoogleTest cases instead of CTest.
set -euo pipefail
cd "$(dirname "$0")/.."

PREFIX=$(realpath -m "$1")
BUILD_DIR=$2
shift 2

# shellcheck source=scripts/testbed.sh
source scripts/testbed.sh
# shellcheck source=scripts/winearch.sh
source scripts/winearch.sh
winearch_select "$BUILD_DIR"
BUILD_DIR=$WINE_BUILD_DIR
PREFIX=$(winearch_prefix "$PREFIX")
# CTest shows no output of a skipped entry: its reason is given here.
if host_runs_i386; then
    echo "note: this host runs i386 code, so every entry runs the PE32 build and pe32 (the same" \
        "in an emulated i386 PC) is skipped; TICKORA_NO_I386=1 runs the x86-64 build and pe32," \
        "as on a host that refuses i386 code" >&2
fi
export TESTBED_LOGDIR=$PWD/build/testbed-logs
mkdir -p "$TESTBED_LOGDIR"

# A virtual desktop the size of the X screen: there is no window manager on the test bed.
scripts/wineprefix.sh "$PREFIX" --desktop 1024x768
export WINEPREFIX=$PREFIX WINEDEBUG=-all
trap testbed_stop EXIT
testbed_start_xvfb
testbed_start_pulse "$TESTBED_LOGDIR/pulse"
testbed_hear_x11_bell

if [ -n "${GTEST:-}" ]; then
    wine "$BUILD_DIR/tickora_tests.exe" --gtest_filter="$GTEST" >"$TESTBED_LOGDIR/gtest.log" 2>&1 &&
        status=0 || status=$?
    tr -d '\r' <"$TESTBED_LOGDIR/gtest.log"
    exit "$status"
fi
ctest --test-dir "$BUILD_DIR" --output-on-failure "$@"
