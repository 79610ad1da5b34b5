#!/usr/bin/env python3
"""Draws each beat's deviation over the long runs of bench/e2e_bench.py, for docs/BENCHMARKS.md.

  bench/plot_heard.py <heard.json> <out.png>

One panel per load (quiet, one core busy), tickora.exe and the peer on the same axes, with
the +-6 ms lines past which a trained ear hears a beat out of place. Needs python3-matplotlib.
"""
import json
import sys

import matplotlib

matplotlib.use("Agg")  # no display needed
import matplotlib.pyplot as plt  # noqa: E402

OFF_BY_MS = 6.0
STYLE = {"tickora.exe": {"color": "tab:red", "zorder": 3},
         "gtick": {"color": "tab:blue", "zorder": 2}}


def long_runs(heard):
    """{busy: [(program, run)]} for the fastest tempo's runs, the long ones."""
    tempo = max(run["tempo"] for runs in heard.values() for run in runs)
    panels = {}
    for name, runs in heard.items():
        for run in runs:
            if run["tempo"] == tempo:
                panels.setdefault(run["busy"], []).append((name, run))
    return tempo, panels


def plot(heard, out_path):
    """heard: {program: [run]} as bench/e2e_bench.py writes it to heard.json."""
    tempo, panels = long_runs(heard)
    every = [abs(d) for runs in panels.values() for _, run in runs for d in run["signed"]]
    # One scale for both panels, so that quiet and busy compare at a glance.
    limit = max(2 * OFF_BY_MS, 1.1 * max(every, default=0.0))
    fig, axes = plt.subplots(len(panels), 1, figsize=(10, 3.2 * len(panels)), sharex=True,
                             squeeze=False)
    for ax, busy in zip(axes[:, 0], sorted(panels)):
        for name, run in panels[busy]:
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
        ax.set_title("%d bpm, %s" % (tempo, "one core busy" if busy else "quiet machine"))
        ax.legend(loc="upper right", fontsize="small")
    axes[-1, 0].set_xlabel("time into the run (s)")
    fig.tight_layout()
    fig.savefig(out_path, dpi=100)
    plt.close(fig)


def main():
    if len(sys.argv) != 3:
        raise SystemExit(__doc__)
    with open(sys.argv[1]) as f:
        plot(json.load(f), sys.argv[2])


if __name__ == "__main__":
    main()
