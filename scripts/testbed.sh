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
# The test bed signals only what it started: each process is recorded as pid:start time (so
# that a pid the system gave to another process since is not taken for it), in TESTBED_PIDS,
# and a sound server's also in testbed.pids in its private runtime directory, where a test that
# restarts the server in a shell of its own records the new one.
# shellcheck disable=SC2034
TESTBED_PIDS=${TESTBED_PIDS:-}
_TESTBED_SOUND_DIR=
TESTBED_XVFB_TIMEOUT=${TESTBED_XVFB_TIMEOUT:-15}
TESTBED_PULSE_TIMEOUT=${TESTBED_PULSE_TIMEOUT:-15}
TESTBED_LOGDIR=${TESTBED_LOGDIR:-}

# Wine maps file names to Unix names through the locale's character type, so the caller's
# locale (none at all in a bare environment) must not decide what the tests see: everything the
# test bed starts runs in C.UTF-8, which Debian always has.
export LC_ALL=C.UTF-8
unset LANGUAGE

_testbed_log() { printf 'testbed: %s\n' "$*" >&2; }

# Debian 13's 64-bit Wine 10 aborts at its start ("free(): invalid pointer") whenever TMPDIR is
# set, to any value; Wine needs none (Windows programs get %TEMP% from the prefix). The test
# bed's own files still go where the caller's TMPDIR says.
_testbed_tmpdir=${TMPDIR:-/tmp}
unset TMPDIR

# Logs go to $TESTBED_LOGDIR (a new temporary directory unless the caller
# sets one).
_testbed_logdir() {
    if [[ -z $TESTBED_LOGDIR ]]; then
        TESTBED_LOGDIR=$(mktemp -d "$_testbed_tmpdir/testbed.XXXXXX")
    fi
    mkdir -p "$TESTBED_LOGDIR"
}

_testbed_alive() { kill -0 "$1" 2>/dev/null; }

# The start time of process <pid> (clock ticks since boot); fails if it is gone or a zombie.
_testbed_start_time() {
    local stat
    { stat=$(<"/proc/$1/stat"); } 2>/dev/null || return 1
    local -a fields
    read -r -a fields <<<"${stat##*) }"
    [[ ${fields[0]} != Z ]] && echo "${fields[19]}"
}

# Usage: _testbed_record <pid> [name]
# Records a process this shell started. Named ones belong to the sound server and go to its
# pid file too.
_testbed_record() {
    local start
    start=$(_testbed_start_time "$1") || start=gone
    TESTBED_PIDS="$TESTBED_PIDS $1:$start"
    if [[ -n ${2:-} && -n $_TESTBED_SOUND_DIR ]]; then
        echo "$1 $start $2" >>"$_TESTBED_SOUND_DIR/testbed.pids"
    fi
}

# Usage: _testbed_is <pid:start>   true while that very process runs.
_testbed_is() { [[ $(_testbed_start_time "${1%%:*}") == "${1#*:}" ]]; }

# Gives the letters the tests type that a US keymap lacks keys of their own, on keycodes that
# have none. Otherwise xdotool maps a spare key for each such letter while it types, and Wine,
# which reads the keymap again on every change, now and then loses the letter.
_testbed_map_typed_letters() {
    if ! command -v xmodmap >/dev/null; then
        _testbed_log "xmodmap not found (package x11-xserver-utils): typing non-ASCII letters may lose some"
        return 0
    fi
    xmodmap -e "keycode 93 = adiaeresis Adiaeresis" -e "keycode 97 = udiaeresis Udiaeresis" \
        -e "keycode 103 = odiaeresis Odiaeresis" -e "keycode 120 = eacute Eacute"
}

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
        # -noreset: Xvfb would otherwise reset when its last client leaves, the first time
        # when xmodmap below does, and drop the keys it gives.
        Xvfb ":$n" -screen 0 "$screen" -nolisten tcp -noreset >"$logdir/xvfb.$n.log" 2>&1 &
        pid=$!
        _testbed_record "$pid"
        deadline=$((SECONDS + TESTBED_XVFB_TIMEOUT))
        while _testbed_alive "$pid"; do
            # The lock file names the server that owns :n; it must be ours,
            # not one that won a race for the number.
            if [[ $(tr -dc 0-9 2>/dev/null </tmp/.X$n-lock) == "$pid" ]] &&
                xdpyinfo -display ":$n" >/dev/null 2>&1; then
                export DISPLAY=":$n"
                TESTBED_XVFB_PID=$pid
                _testbed_map_typed_letters
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
        TESTBED_PIDS=${TESTBED_PIDS%" $pid:"*}
    done
    _testbed_log "no free X display number in :90-:189"
    return 1
}

# Usage: _testbed_sound_runtime <dir> <name> [again]
# Makes <dir> the private runtime directory of a sound server <name> and exports what clients
# need to reach that server and no other. Its pid file starts empty unless the server is
# started "again" there.
_testbed_sound_runtime() {
    mkdir -p "$1" && chmod 700 "$1" || return 1
    XDG_RUNTIME_DIR=$(cd "$1" && pwd) || return 1
    _TESTBED_SOUND_DIR=$XDG_RUNTIME_DIR
    [[ ${3:-} == again ]] || : >"$_TESTBED_SOUND_DIR/testbed.pids" || return 1
    export XDG_RUNTIME_DIR
    export PULSE_SERVER=unix:$XDG_RUNTIME_DIR/pulse/native
    # Never fall back to starting a server of its own somewhere else.
    export PULSE_NO_AUTOSPAWN=1
    export TESTBED_SOUND_SERVER=$2
}

# Usage: testbed_start_pulse <dir> [again]
# Starts a private PulseAudio with a null sink "tick" (monitor: tick.monitor)
# and exports XDG_RUNTIME_DIR and PULSE_SERVER so that clients, Wine
# included, reach it and nothing else.
testbed_start_pulse() {
    local dir=${1:?usage: testbed_start_pulse <dir>} logdir pid deadline
    _testbed_logdir || return 1
    logdir=$TESTBED_LOGDIR
    command -v pulseaudio >/dev/null || { _testbed_log "pulseaudio not found (package pulseaudio)"; return 1; }
    command -v pactl >/dev/null || { _testbed_log "pactl not found (package pulseaudio-utils)"; return 1; }
    _testbed_sound_runtime "$dir" pulseaudio "${2:-}" || return 1
    # No pid file: we know our server by its recorded id, and the pid file of a server killed
    # on purpose names its zombie until init reaps it (late, under some inits), which makes a
    # restart refuse with "Daemon already running".
    pulseaudio -n --daemonize=no --exit-idle-time=-1 --disallow-exit --use-pid-file=no \
        -L "module-null-sink sink_name=tick rate=44100" \
        -L module-native-protocol-unix -L module-always-sink \
        >>"$logdir/pulse.log" 2>&1 &
    pid=$!
    # Tests kill it on purpose; the shell is not to report that as if something broke.
    disown "$pid"
    _testbed_record "$pid" pulseaudio
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
    _testbed_record "$pid" dbus-daemon
    _testbed_wait_path "$dir/bus" "$pid" "the session bus" || return 1
    export DBUS_SESSION_BUS_ADDRESS=unix:path=$dir/bus
    _testbed_start_pipewire_daemons
}

# Usage: _testbed_wireplumber_config <dir>
# A configuration for wireplumber in <dir> (its XDG_CONFIG_HOME), laid over the system's: no
# devices (the test bed has its null sink and must not take the user's sound card, camera or
# Bluetooth) and no logind, which containers and chroots lack: without systemd's runtime
# directories wireplumber 0.4 fails its logind monitor and leaves PipeWire. Version 0.4 reads
# Lua files, which replace the system's of the same name; 0.5 reads SPA-JSON fragments.
_testbed_wireplumber_config() {
    local dir=$1/wireplumber version
    version=$(wireplumber --version 2>/dev/null | sed -n 's/.*libwireplumber \([0-9]*\.[0-9]*\).*/\1/p' | tail -n 1)
    rm -rf "$dir"
    case $version in
    0.4)
        mkdir -p "$dir/main.lua.d" "$dir/bluetooth.lua.d" || return 1
        cat >"$dir/main.lua.d/90-enable-all.lua" <<'LUA' || return 1
-- The system's list without the device monitors.
load_module("metadata")
default_access.enable()
device_defaults.enable()
stream_defaults.enable()
load_script("intended-roles.lua")
load_script("suspend-node.lua")
LUA
        echo '-- No Bluetooth monitor, and so no logind.' >"$dir/bluetooth.lua.d/90-enable-all.lua"
        ;;
    0.5)
        mkdir -p "$dir/wireplumber.conf.d" || return 1
        cat >"$dir/wireplumber.conf.d/50-testbed.conf" <<'CONF'
wireplumber.profiles = {
  main = {
    hardware.audio = disabled
    hardware.bluetooth = disabled
    hardware.video-capture = disabled
    support.logind = disabled
    monitor.bluez.seat-monitoring = disabled
    support.reserve-device = disabled
    monitor.alsa.reserve-device = disabled
    support.portal-permissionstore = disabled
    script.client.access-portal = disabled
  }
}
CONF
        ;;
    *)
        _testbed_log "wireplumber ${version:-of unknown version}: no test bed configuration for it (0.4 and 0.5 are known)"
        return 1
        ;;
    esac
}

# pipewire, wireplumber and pipewire-pulse in $XDG_RUNTIME_DIR, and the null sink.
_testbed_start_pipewire_daemons() {
    local dir=$XDG_RUNTIME_DIR logdir=$TESTBED_LOGDIR pid
    # The daemon's own X11 bell module, on by default, would ring the bell a second time,
    # without our sample: it is kept off the display.
    # Tests kill them on purpose: the shell is not to report it.
    env -u DISPLAY pipewire >>"$logdir/pipewire.log" 2>&1 &
    pid=$!
    disown "$pid"
    _testbed_record "$pid" pipewire
    _testbed_wait_path "$dir/pipewire-0" "$pid" pipewire || return 1
    _testbed_wireplumber_config "$dir/config" || return 1
    # Its remembered default sink and stream volumes stay with this test bed, not in $HOME.
    XDG_CONFIG_HOME=$dir/config XDG_STATE_HOME=$dir/state wireplumber \
        >>"$logdir/wireplumber.log" 2>&1 &
    disown $!
    _testbed_record $! wireplumber
    pipewire-pulse >>"$logdir/pipewire-pulse.log" 2>&1 &
    pid=$!
    disown "$pid"
    _testbed_record "$pid" pipewire-pulse
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
# bell. It may run in a shell of its own: the new server's processes go to the pid file, where
# testbed_stop finds them.
testbed_restart_sound() {
    : "${XDG_RUNTIME_DIR:?testbed_restart_sound: no test bed sound server}"
    case ${TESTBED_SOUND_SERVER:-} in
    pulseaudio) testbed_start_pulse "$XDG_RUNTIME_DIR" again ;;
    pipewire) _testbed_sound_runtime "$XDG_RUNTIME_DIR" pipewire again && _testbed_start_pipewire_daemons ;;
    *) _testbed_log "no test bed sound server to restart"; return 1 ;;
    esac && testbed_hear_x11_bell
}

# Remember a process started by the caller so that testbed_stop ends it too.
testbed_track_pid() {
    local pid
    for pid; do _testbed_record "$pid"; done
}

# Stops Wine in $WINEPREFIX (if set) and every recorded process, by id.
# Safe to call more than once, and from an EXIT trap; keeps the caller's
# exit status.
testbed_stop() {
    local rc=$? entry pid start deadline i
    if [[ -n ${WINEPREFIX:-} ]] && command -v wineserver >/dev/null; then
        # wineserver -k only reaches this prefix's server; bound it anyway.
        timeout 10 wineserver -k >/dev/null 2>&1 || true
    fi
    # A sound server restarted by a test in another shell is only in the pid file.
    if [[ -n $_TESTBED_SOUND_DIR && -f $_TESTBED_SOUND_DIR/testbed.pids ]]; then
        while read -r pid start _; do
            [[ " $TESTBED_PIDS " == *" $pid:$start "* ]] || TESTBED_PIDS="$TESTBED_PIDS $pid:$start"
        done <"$_TESTBED_SOUND_DIR/testbed.pids"
    fi
    # Newest first: the sound server and X outlive their clients.
    local -a pids
    read -r -a pids <<<"$TESTBED_PIDS"
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        entry=${pids[i]}
        pid=${entry%%:*}
        if _testbed_is "$entry"; then
            kill -TERM "$pid" 2>/dev/null || true
            deadline=$((SECONDS + 5))
            while _testbed_is "$entry" && ((SECONDS < deadline)); do sleep 0.1; done
        fi
        if _testbed_is "$entry"; then
            _testbed_log "process $pid ignored TERM for 5s; killing it"
            kill -KILL "$pid" 2>/dev/null || true
        fi
        wait "$pid" 2>/dev/null || true
    done
    TESTBED_PIDS=
    unset TESTBED_XVFB_PID TESTBED_PULSE_PID
    return "$rc"
}
