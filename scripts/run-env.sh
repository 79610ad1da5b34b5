# shellcheck shell=sh
# The environment tickora.exe runs in under Wine, for `make run` and the installed `tickora`
# launcher alike (installed beside the exe). Sourced by both; keep it to plain exports.

# winepulse's only period knob (Wine has no setting of its own for it). 80 because, measured at
# 240 bpm with the idle wave-out handle held (40 s quiet, 40 s with a core busy): unset, heard
# p99 6.9 / 8.3 ms and the process 4.4 / 3.7 % of a core; 20 and 40 no better; 80, p99
# 5.9 / 6.9 ms and 3.6 / 3.4 %; 160 lost a beat with a core busy; 320, no click heard at all.
export PULSE_LATENCY_MSEC=80
export WINEDEBUG=-all
