# shellcheck shell=sh
# The environment tickora.exe runs in under Wine, for `make run` and the installed `tickora`
# launcher alike (installed beside the exe). Sourced by both; keep it to plain exports.

# winepulse's only period knob; measured to shorten the clicks' timing tail and their CPU use.
export PULSE_LATENCY_MSEC=80
export WINEDEBUG=-all
