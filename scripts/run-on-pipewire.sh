#!/usr/bin/env bash
# Runs a command with a private PipeWire as its sound server (pipewire-pulse, as most desktops
# now run it) in place of the test bed's PulseAudio; X and Wine stay the test bed's.
#   scripts/run-on-pipewire.sh <command...>
set -euo pipefail
# shellcheck source=scripts/testbed.sh
source "$(dirname "$0")/testbed.sh"

TESTBED_PIDS=
_testbed_logdir
export TESTBED_LOGDIR=$TESTBED_LOGDIR/pipewire
mkdir -p "$TESTBED_LOGDIR"
# Only what is started here is stopped here: Wine belongs to the test bed around this run.
trap 'WINEPREFIX= testbed_stop' EXIT
testbed_start_pipewire "$TESTBED_LOGDIR/runtime"
testbed_hear_x11_bell
if ! pactl info | grep -q "on PipeWire"; then
    echo "run-on-pipewire: the sound server answering is not PipeWire:" >&2
    pactl info >&2
    exit 1
fi
"$@"
