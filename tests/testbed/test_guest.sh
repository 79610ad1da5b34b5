#!/usr/bin/env bash
# The test bed is a guest on a developer's desktop: whichever of its start steps fails, the
# developer's own sound server lives on. A PulseAudio stands in for it, under a runtime
# directory that the test bed's caller has as its own.
#   tests/testbed/test_guest.sh <build-dir>
set -euo pipefail
cd "$(dirname "$0")/../.."
BUILD_DIR=$(realpath "$1")
WORK=$BUILD_DIR/guest
rm -rf "$WORK/user" "$WORK/path" "$WORK/logs"
mkdir -p "$WORK/user" "$WORK/path" "$WORK/logs"
chmod 700 "$WORK/user"

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# The stand-in, ended by this script alone, by its id.
XDG_RUNTIME_DIR=$WORK/user PULSE_NO_AUTOSPAWN=1 pulseaudio -n --daemonize=no --exit-idle-time=-1 \
    -L module-native-protocol-unix >"$WORK/logs/user-pulse.log" 2>&1 &
user_pid=$!
trap 'kill "$user_pid" 2>/dev/null || true' EXIT
for _ in $(seq 150); do
    [[ -S $WORK/user/pulse/native ]] && break
    kill -0 "$user_pid" || fail "the stand-in sound server did not start ($WORK/logs/user-pulse.log)"
    sleep 0.1
done
[[ -S $WORK/user/pulse/native ]] || fail "the stand-in sound server did not answer"
user_start=$(cut -d' ' -f22 "/proc/$user_pid/stat")

# Usage: path_without <program>: a PATH that has every program of this one but <program>. Only
# the directories that hold it are replaced, each by links to the rest of it, made in one go.
path_without() {
    local dir=$WORK/path/$1 d n=0
    local -a dirs kept=()
    IFS=: read -r -a dirs <<<"$PATH"
    for d in "${dirs[@]}"; do
        if [[ -e $d/$1 ]]; then
            mkdir -p "$dir/$n"
            find "$d/" -mindepth 1 -maxdepth 1 ! -name "$1" -exec ln -s -t "$dir/$n" {} +
            kept+=("$dir/$n")
            n=$((n + 1))
        else
            kept+=("$d")
        fi
    done
    local IFS=:
    echo "${kept[*]}"
}

# Usage: bed_fails <case> <PATH> <expected message> <command...>
# The command must fail, saying why, and the stand-in must still run.
bed_fails() {
    local name=$1 path=$2 message=$3 log=$WORK/logs/$1.log
    shift 3
    if env -i HOME="$HOME" PATH="$path" LANG=C.UTF-8 XDG_RUNTIME_DIR="$WORK/user" \
        TMPDIR="$WORK" "$@" >"$log" 2>&1; then
        fail "$name: the test bed started ($log)"
    fi
    grep -qF -- "$message" "$log" || fail "$name: not the failure wanted, '$message' ($log)"
    [[ $(cut -d' ' -f22 "/proc/$user_pid/stat" 2>/dev/null) == "$user_start" ]] ||
        fail "$name: the test bed ended the user's sound server"
    echo "ok: $name"
}

prefix=$WORK/wineprefix
touch "$WORK/not-a-directory"
bed_fails no-xvfb "$(path_without Xvfb)" "Xvfb not found" \
    scripts/run-tests.sh "$prefix" "$BUILD_DIR" -R none
bed_fails no-pulseaudio "$(path_without pulseaudio)" "pulseaudio not found" \
    scripts/run-tests.sh "$prefix" "$BUILD_DIR" -R none
bed_fails failing-prefix "$PATH" "Not a directory" \
    scripts/run-tests.sh "$WORK/not-a-directory/prefix" "$BUILD_DIR" -R none
bed_fails no-wireplumber "$(path_without wireplumber)" "wireplumber not found" \
    scripts/run-on-pipewire.sh true
