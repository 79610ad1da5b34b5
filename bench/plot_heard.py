#!/usr/bin/env python3
"""Draws each beat's deviation over the long runs of bench/e2e_bench.py, for docs/BENCHMARKS.md.

  bench/plot_heard.py <out.png> <heard.json>...

One row of panels per sound server (one heard.json each), one column per load (the first
quiet run, the busy run); tickora.exe, the floor and the peer on the same axes, with the
+-6 ms lines past which a trained ear hears a beat out of place. Needs python3-matplotlib.
"""
import json
import sys

import matplotlib

matplotlib.use("Agg")  # no display needed
import matplotlib.pyplot as plt  # noqa: E402

OFF_BY_MS = 6.0
STYLE = {"tickora.exe": {"color": "tab:red", "zorder": 3},
         "floor": {"color": "tab:green", "zorder": 2},
         "gtick": {"color": "tab:blue", "zorder": 1}}


def long_runs(programs):
    """{busy: [(program, run)]}: the first run of each program at the fastest tempo, per load."""
    tempo = max(run["tempo"] for runs in programs.values() for run in runs)
    panels = {False: [], True: []}
    for name, runs in programs.items():
        for busy in panels:
            first = next((r for r in runs if r["tempo"] == tempo and r["busy"] == busy), None)
            if first:
                panels[busy].append((name, first))
    return tempo, panels


def draw(ax, runs, title, limit):
    for name, run in runs:
        # Each interval is drawn at the time of the beat that ends it.
        t = [(onset - run["onsets"][0]) / 1000.0 for onset in run["onsets"][1:]]
        ax.plot(t, run["signed"], marker=".", markersize=3, linewidth=0.6,
                label="%s: p99 %.1f ms, max %.1f ms" % (name, run["p99_dev"], run["max_dev"]),
                **STYLE.get(name, {}))
    for y in (OFF_BY_MS, -OFF_BY_MS):
        ax.axhline(y, color="black", linestyle="--", linewidth=0.8,
                   label="±%.0f ms: heard as off the beat" % OFF_BY_MS if y > 0 else None)
    ax.axhline(0, color="grey", linewidth=0.5)
    ax.set_ylim(-limit, limit)
    ax.set_ylabel("interval - period (ms)")
    ax.set_title(title, fontsize="medium")
    ax.legend(loc="upper right", fontsize="x-small")


def plot(servers, out_path):
    """servers: [{"server": name, "programs": {program: [run]}}] as heard.json holds them."""
    rows = [(s["server"],) + long_runs(s["programs"]) for s in servers]
    every = [abs(d) for _, _, panels in rows for runs in panels.values()
             for _, run in runs for d in run["signed"]]
    # One scale for every panel, so that servers and loads compare at a glance.
    limit = max(2 * OFF_BY_MS, 1.1 * max(every, default=0.0))
    fig, axes = plt.subplots(len(rows), 2, figsize=(14, 3.4 * len(rows)), sharex=True,
                             squeeze=False)
    for row, (server, tempo, panels) in zip(axes, rows):
        for ax, busy in zip(row, (False, True)):
            draw(ax, panels[busy], "%s, %d bpm, %s" % (
                server, tempo, "one core busy" if busy else "quiet machine"), limit)
    for ax in axes[-1]:
        ax.set_xlabel("time into the run (s)")
    fig.tight_layout()
    fig.savefig(out_path, dpi=90)
    plt.close(fig)


def main():
    if len(sys.argv) < 3:
        raise SystemExit(__doc__)
    servers = []
    for path in sys.argv[2:]:
        with open(path) as f:
            servers.append(json.load(f))
    plot(servers, sys.argv[1])


if __name__ == "__main__":
    main()
