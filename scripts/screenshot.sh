#!/usr/bin/env bash
# Takes docs/screenshot.png as a user sees the program: started by scripts/run-app.sh (what
# `make run` runs) on an X display with a window manager (openbox). Also checks that the
# panel, the About box, the file dialog and a message box are windows of their own, managed
# by the window manager, and prints how long each takes to close.
#   scripts/screenshot.sh <wine-prefix> <build-dir>
set -euo pipefail
cd "$(dirname "$0")/.."

WORK=$PWD/build/screenshot
rm -rf "$WORK"
# shellcheck source=scripts/testbed-runner.sh
source scripts/testbed-runner.sh
given_prefix=$(realpath -m "$1")
runner_select "$given_prefix" "$(realpath -m "$2")" "$WORK/logs"

export WINEPREFIX=$PREFIX
runner_start_testbed pulse 1024x768x24
openbox --sm-disable >"$TESTBED_LOGDIR/openbox.log" 2>&1 &
testbed_track_pid $!
for _ in $(seq 100); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
    sleep 0.1
done
xprop -root _NET_SUPPORTING_WM_CHECK | grep -q 'window id' || {
    echo "screenshot: openbox did not start (log: $TESTBED_LOGDIR/openbox.log)" >&2
    exit 1
}
# A plain desktop colour behind the window (set once the window manager runs, or it is lost).
xsetroot -solid '#3a6ea5'

# Made here first, as run-app.sh makes it: the probe must not start Wine in a prefix that
# is not set up yet.
scripts/wineprefix.sh "$PREFIX" --desktop off
# run-app.sh picks the prefix for this host's Wine from the one given, as runner_select did.
scripts/run-app.sh "$given_prefix" "$BUILD_DIR/tickora.exe" >"$TESTBED_LOGDIR/app.log" 2>&1 &
testbed_track_pid $!
TICKORA_PROBE=$BUILD_DIR/tickora_probe.exe TICKORA_E2E_DIR=$WORK PYTHONDONTWRITEBYTECODE=1 \
    python3 scripts/screenshot.py "$WORK" docs/screenshot.png
