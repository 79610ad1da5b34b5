# shellcheck shell=sh
# The environment tickora.exe runs in under Wine, for `make run` and the installed `tickora`
# launcher alike (installed beside the exe). Sourced by both; keep it to plain exports.

# PULSE_LATENCY_MSEC, winepulse's only period knob, is left alone on purpose. Measured at 240
# bpm with the idle wave-out handle held, 80 gave the shortest timing tail (p99 5.9 ms against
# 6.9 unset) and the least CPU (3.6 % against 4.4), 20 and 40 were no better than unset; but
# at 80 a wave file shorter than the period (a 40 ms tick) is never heard at all, and Wine
# still reports it played. A silent tick is worse than a few ms of jitter. On PipeWire no
# value lowered the tail either (p99 6.0 ms unset, 15.4 at 20, 31.2 at 40, 6.0 at 80, one run
# each), and there a 40 ms file was heard at every beat at all of them.
export WINEDEBUG=-all

# Debian 13's 64-bit Wine 10 aborts at its start ("free(): invalid pointer") whenever TMPDIR is
# set, to any value. Wine needs none: Windows programs get %TEMP% from the prefix.
unset TMPDIR

# Wine turns file names into Unix names through the locale's character type: under C or POSIX
# it cannot open a wave file named "Täkt.wav" at all. Such a session gets a UTF-8 character
# type (C.UTF-8 is always there on Debian); a UTF-8 locale is kept as it is.
if [ "$(locale charmap 2>/dev/null)" != UTF-8 ]; then
    if [ -n "${LC_ALL:-}" ]; then
        export LC_ALL=C.UTF-8
    else
        export LC_CTYPE=C.UTF-8
    fi
fi
