#!/usr/bin/env bash
# Starts the program under Wine in the project's private prefix, as a window of the desktop
# it runs on: the prefix has no Wine virtual desktop (that is for the test bed only).
#   scripts/run-app.sh <wine-prefix> <exe>
set -euo pipefail
cd "$(dirname "$0")/.."

if [ -z "${DISPLAY:-}" ]; then
    cat >&2 <<'MSG'
make run: no graphical display (DISPLAY is not set).
  Run it from a desktop session, or over ssh with X forwarding (ssh -X),
  or on a virtual display:  Xvfb :5 & DISPLAY=:5 make run
MSG
    exit 1
fi

PREFIX=$(realpath -m "$1")
EXE=$2
# shellcheck source=scripts/winearch.sh
source scripts/winearch.sh
winearch_select "$(dirname "$EXE")" tickora
PREFIX=$(winearch_prefix "$PREFIX")
scripts/wineprefix.sh "$PREFIX" --desktop off
# shellcheck source=scripts/run-env.sh
. scripts/run-env.sh
WINEPREFIX=$PREFIX exec wine "$WINE_BUILD_DIR/$(basename "$EXE")"
