# shellcheck shell=bash
# Functions for test runners that need a private X display and sound server.
# Source this file, then e.g.:
#
#   source scripts/testbed.sh
#   trap testbed_stop EXIT
#   testbed_start_xvfb
#   testbed_start_pulse "$workdir/pulse"      # or testbed_start_pipewire "$workdir/pipewire"
#   export WINEPREFIX=...        # testbed_stop runs `wineserver -k` for it
#
# Call the start functions directly, not inside $(...) or a pipeline: they
# export variables and record process ids in this shell.
# Every wait is bounded; on a timeout a function prints why to stderr and
# returns non-zero, leaving what it started recorded for testbed_stop.

# TESTBED_XVFB_PID and TESTBED_PULSE_PID are set for callers that want them.
# shellcheck disable=SC2034
TESTBED_PIDS=${TESTBED_PIDS:-}
TESTBED_XVFB_TIMEOUT=${TESTBED_XVFB_TIMEOUT:-15}
TESTBED_PULSE_TIMEOUT=${TESTBED_PULSE_TIMEOUT:-15}
TESTBED_LOGDIR=${TESTBED_LOGDIR:-}

# Wine maps file names to Unix names through the locale's character type, so the caller's
# locale (none at all in a bare environment) must not decide what the tests see: everything the
# test bed starts runs in C.UTF-8, which Debian always has.
export LC_ALL=C.UTF-8
unset LANGUAGE

_testbed_log() { printf 'testbed: %s\n' "$*" >&2; }

# Logs go to $TESTBED_LOGDIR (a new temporary directory unless the caller
# sets one).
_testbed_logdir() {
    if [[ -z $TESTBED_LOGDIR ]]; then
        TESTBED_LOGDIR=$(mktemp -d "${TMPDIR:-/tmp}/testbed.XXXXXX")
    fi
    mkdir -p "$TESTBED_LOGDIR"
}

_testbed_alive() { kill -0 "$1" 2>/dev/null; }

# Usage: testbed_start_xvfb [WxHxD]
# Starts Xvfb on the first free display from :90 on and exports DISPLAY.
testbed_start_xvfb() {
    local screen=${1:-1024x768x24} logdir n pid deadline
    _testbed_logdir || return 1
    logdir=$TESTBED_LOGDIR
    command -v Xvfb >/dev/null || { _testbed_log "Xvfb not found (package xvfb)"; return 1; }
    command -v xdpyinfo >/dev/null || { _testbed_log "xdpyinfo not found (package x11-utils)"; return 1; }
    for ((n = 90; n < 190; n++)); do
        # A lock file or socket means another server owns (or owned) the number.
        [[ -e /tmp/.X$n-lock || -e /tmp/.X11-unix/X$n ]] && continue
        Xvfb ":$n" -screen 0 "$screen" -nolisten tcp >"$logdir/xvfb.$n.log" 2>&1 &
        pid=$!
        TESTBED_PIDS="$TESTBED_PIDS $pid"
        deadline=$((SECONDS + TESTBED_XVFB_TIMEOUT))
        while _testbed_alive "$pid"; do
            # The lock file names the server that owns :n; it must be ours,
            # not one that won a race for the number.
            if [[ $(tr -dc 0-9 2>/dev/null </tmp/.X$n-lock) == "$pid" ]] &&
                xdpyinfo -display ":$n" >/dev/null 2>&1; then
                export DISPLAY=":$n"
                TESTBED_XVFB_PID=$pid
                return 0
            fi
            if ((SECONDS >= deadline)); then
                _testbed_log "Xvfb :$n did not answer within ${TESTBED_XVFB_TIMEOUT}s (log: $logdir/xvfb.$n.log)"
                return 1
            fi
            sleep 0.1
        done
        # Lost a race for this number (or Xvfb failed): forget it, try the next.
        wait "$pid" 2>/dev/null || true
        TESTBED_PIDS=${TESTBED_PIDS/ $pid/}
    done
    _testbed_log "no free X display number in :90-:189"
    return 1
}

# Makes <dir> the private runtime directory of a sound server <name> and exports what clients
# need to reach that server and no other.
_testbed_sound_runtime() {
    mkdir -p "$1" && chmod 700 "$1" || return 1
    XDG_RUNTIME_DIR=$(cd "$1" && pwd) || return 1
    export XDG_RUNTIME_DIR
    export PULSE_SERVER=unix:$XDG_RUNTIME_DIR/pulse/native
    # Never fall back to starting a server of its own somewhere else.
    export PULSE_NO_AUTOSPAWN=1
    export TESTBED_SOUND_SERVER=$2
}

# Usage: testbed_start_pulse <dir>
# Starts a private PulseAudio with a null sink "tick" (monitor: tick.monitor)
# and exports XDG_RUNTIME_DIR and PULSE_SERVER so that clients, Wine
# included, reach it and nothing else.
testbed_start_pulse() {
    local dir=${1:?usage: testbed_start_pulse <dir>} logdir pid deadline
    _testbed_logdir || return 1
    logdir=$TESTBED_LOGDIR
    command -v pulseaudio >/dev/null || { _testbed_log "pulseaudio not found (package pulseaudio)"; return 1; }
    command -v pactl >/dev/null || { _testbed_log "pactl not found (package pulseaudio-utils)"; return 1; }
    _testbed_sound_runtime "$dir" pulseaudio || return 1
    pulseaudio -n --daemonize=no --exit-idle-time=-1 --disallow-exit \
        -L "module-null-sink sink_name=tick rate=44100" \
        -L module-native-protocol-unix -L module-always-sink \
        >>"$logdir/pulse.log" 2>&1 &
    pid=$!
    # Tests kill it on purpose; the shell is not to report that as if something broke.
    disown "$pid"
    TESTBED_PIDS="$TESTBED_PIDS $pid"
    TESTBED_PULSE_PID=$pid
    _testbed_wait_pulse_answers pulseaudio "$pid" || return 1
    export PULSE_SINK=tick
}

# Usage: _testbed_wait_pulse_answers <name> <pid>
# Waits until the sound server answers PulseAudio clients while process pid lives.
_testbed_wait_pulse_answers() {
    local name=$1 pid=$2 deadline=$((SECONDS + TESTBED_PULSE_TIMEOUT))
    until pactl info >/dev/null 2>&1; do
        if ! _testbed_alive "$pid"; then
            _testbed_log "$name exited at start (logs: $TESTBED_LOGDIR)"
            return 1
        fi
        if ((SECONDS >= deadline)); then
            _testbed_log "$name did not answer within ${TESTBED_PULSE_TIMEOUT}s (logs: $TESTBED_LOGDIR)"
            return 1
        fi
        sleep 0.1
    done
}

# Usage: _testbed_wait_path <path> <pid> <what>
_testbed_wait_path() {
    local deadline=$((SECONDS + TESTBED_PULSE_TIMEOUT))
    until [[ -e $1 ]]; do
        if ! _testbed_alive "$2" || ((SECONDS >= deadline)); then
            _testbed_log "$3 did not come up (logs: $TESTBED_LOGDIR)"
            return 1
        fi
        sleep 0.05
    done
}

# Usage: testbed_start_pipewire <dir>
# Starts a private PipeWire, as most desktops now run it: pipewire, wireplumber and
# pipewire-pulse, on a session bus of their own, with the same null sink "tick" as
# testbed_start_pulse. Exports the same variables, and DBUS_SESSION_BUS_ADDRESS.
testbed_start_pipewire() {
    local dir=${1:?usage: testbed_start_pipewire <dir>} tool pid
    _testbed_logdir || return 1
    for tool in pipewire wireplumber pipewire-pulse dbus-daemon pactl; do
        command -v "$tool" >/dev/null || { _testbed_log "$tool not found"; return 1; }
    done
    _testbed_sound_runtime "$dir" pipewire || return 1
    dir=$XDG_RUNTIME_DIR
    # Without a session bus wireplumber exits, and then new streams time out.
    dbus-daemon --session --nofork --address="unix:path=$dir/bus" \
        >>"$TESTBED_LOGDIR/dbus.log" 2>&1 &
    pid=$!
    TESTBED_PIDS="$TESTBED_PIDS $pid"
    _testbed_wait_path "$dir/bus" "$pid" "the session bus" || return 1
    export DBUS_SESSION_BUS_ADDRESS=unix:path=$dir/bus
    _testbed_start_pipewire_daemons
}

# pipewire, wireplumber and pipewire-pulse in $XDG_RUNTIME_DIR, and the null sink.
_testbed_start_pipewire_daemons() {
    local dir=$XDG_RUNTIME_DIR logdir=$TESTBED_LOGDIR pid
    # The daemon's own X11 bell module, on by default, would ring the bell a second time,
    # without our sample: it is kept off the display.
    env -u DISPLAY pipewire >>"$logdir/pipewire.log" 2>&1 &
    pid=$!
    TESTBED_PIDS="$TESTBED_PIDS $pid"
    _testbed_wait_path "$dir/pipewire-0" "$pid" pipewire || return 1
    # Its remembered default sink and stream volumes stay with this test bed, not in $HOME.
    XDG_STATE_HOME=$dir/state wireplumber >>"$logdir/wireplumber.log" 2>&1 &
    TESTBED_PIDS="$TESTBED_PIDS $!"
    pipewire-pulse >>"$logdir/pipewire-pulse.log" 2>&1 &
    pid=$!
    TESTBED_PIDS="$TESTBED_PIDS $pid"
    _testbed_wait_pulse_answers pipewire-pulse "$pid" || return 1
    pactl load-module module-null-sink sink_name=tick rate=44100 >/dev/null ||
        { _testbed_log "cannot make the null sink on pipewire-pulse"; return 1; }
    # The default sink is wireplumber's to keep, and pipewire-pulse answers before wireplumber
    # is ready ("Not supported" until then).
    local deadline=$((SECONDS + TESTBED_PULSE_TIMEOUT))
    until pactl set-default-sink tick 2>/dev/null; do
        if ((SECONDS >= deadline)); then
            _testbed_log "wireplumber did not take the default sink within ${TESTBED_PULSE_TIMEOUT}s (logs: $logdir)"
            return 1
        fi
        sleep 0.1
    done
    export PULSE_SINK=tick
}

# Usage: testbed_hear_x11_bell
# Wine sends MessageBeep to the X bell, which Xvfb drops. PulseAudio's X11 bell module, given
# a sample, plays each bell of the display on the sink instead, so the beep can be heard.
# pipewire-pulse has the module too; it rings through libcanberra, whose PulseAudio backend
# (libcanberra-pulse) plays the uploaded sample by its name.
# The bell is a 40 ms 2 kHz tone, well apart from the click's 870 Hz. Call after both starts.
testbed_hear_x11_bell() {
    local bell
    _testbed_logdir || return 1
    bell=$TESTBED_LOGDIR/x11-bell.wav
    python3 - "$bell" <<'PY' || return 1
import math, struct, sys, wave
rate = 44100
with wave.open(sys.argv[1], "wb") as w:
    w.setnchannels(1)
    w.setsampwidth(2)
    w.setframerate(rate)
    w.writeframes(b"".join(struct.pack("<h", int(16000 * math.sin(2 * math.pi * 2000 * i / rate)))
                           for i in range(rate * 40 // 1000)))
PY
    pactl upload-sample "$bell" x11-bell >/dev/null &&
        pactl load-module module-x11-bell "display=$DISPLAY" sample=x11-bell sink=tick >/dev/null ||
        { _testbed_log "cannot ring the X bell on the sink"; return 1; }
}

# Usage: testbed_restart_sound
# For tests of a sound server that goes away and comes back, once they have killed it: starts
# the server again in the same runtime directory (the session bus stays), with its sink and
# bell. It may run in a shell of its own; testbed_stop finds the new server's processes.
testbed_restart_sound() {
    : "${XDG_RUNTIME_DIR:?testbed_restart_sound: no test bed sound server}"
    case ${TESTBED_SOUND_SERVER:-} in
    pulseaudio) testbed_start_pulse "$XDG_RUNTIME_DIR" ;;
    pipewire) _testbed_start_pipewire_daemons ;;
    *) _testbed_log "no test bed sound server to restart"; return 1 ;;
    esac && testbed_hear_x11_bell
}

# The sound server's processes of this test bed (found by its runtime directory), started
# here or again by testbed_restart_sound in another shell.
_testbed_sound_pids() {
    local env pid
    [[ -n ${XDG_RUNTIME_DIR:-} ]] || return 0
    for env in /proc/[0-9]*/environ; do
        pid=${env#/proc/}
        pid=${pid%/environ}
        case $(cat "/proc/$pid/comm" 2>/dev/null) in
        pulseaudio | pipewire | pipewire-pulse | wireplumber) ;;
        *) continue ;;
        esac
        grep -qzx "XDG_RUNTIME_DIR=$XDG_RUNTIME_DIR" "$env" 2>/dev/null && echo "$pid"
    done
}

# Remember a process started by the caller so that testbed_stop ends it too.
testbed_track_pid() { TESTBED_PIDS="$TESTBED_PIDS $*"; }

# Stops Wine in $WINEPREFIX (if set) and every recorded process, by id.
# Safe to call more than once, and from an EXIT trap; keeps the caller's
# exit status.
testbed_stop() {
    local rc=$? pid deadline i
    if [[ -n ${WINEPREFIX:-} ]] && command -v wineserver >/dev/null; then
        # wineserver -k only reaches this prefix's server; bound it anyway.
        timeout 10 wineserver -k >/dev/null 2>&1 || true
    fi
    # A sound server restarted by a test is not among the recorded ones.
    for pid in $(_testbed_sound_pids); do
        [[ " $TESTBED_PIDS " == *" $pid "* ]] || TESTBED_PIDS="$TESTBED_PIDS $pid"
    done
    # Newest first: the sound server and X outlive their clients.
    local -a pids
    read -r -a pids <<<"$TESTBED_PIDS"
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        pid=${pids[i]}
        _testbed_alive "$pid" || continue
        kill -TERM "$pid" 2>/dev/null || true
        deadline=$((SECONDS + 5))
        while _testbed_alive "$pid" && ((SECONDS < deadline)); do sleep 0.1; done
        if _testbed_alive "$pid"; then
            _testbed_log "process $pid ignored TERM for 5s; killing it"
            kill -KILL "$pid" 2>/dev/null || true
        fi
        wait "$pid" 2>/dev/null || true
    done
    TESTBED_PIDS=
    unset TESTBED_XVFB_PID TESTBED_PULSE_PID
    return "$rc"
}
