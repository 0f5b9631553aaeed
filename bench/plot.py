#!/usr/bin/python3
"""Plots the cost of saving a QSO, of one call-sign keystroke and of deleting
a QSO and paging the grid against the size of the log, from the JSON of a
bench_ui run.

    bench/plot.py RESULT.json [-o docs/performance.png]

Needs Debian's matplotlib (apt-get install -y python3-matplotlib); run it
with /usr/bin/python3, which sees the Debian packages.
"""

import argparse
import json
import sys
from collections import defaultdict

try:
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
except ImportError:
    sys.exit("plot.py: matplotlib is missing: apt-get install -y python3-matplotlib, "
             "then run with /usr/bin/python3")


def parse(path):
    """{family: {qsos: benchmark}} and the run's context."""
    with open(path, encoding="utf-8") as f:
        run = json.load(f)
    by = defaultdict(dict)
    for b in run["benchmarks"]:
        if b.get("error_occurred"):
            continue
        parts = b["run_name"].split("/") if "run_name" in b else b["name"].split("/")
        size = next((i for i, p in enumerate(parts) if p.isdigit()), None)
        if size is None:
            by[parts[0]][0] = b
            continue
        by["/".join(parts[:size])][int(parts[size])] = b
    return by, run.get("context", {})


def series(by, family, counter):
    runs = by.get(family, {})
    xs = sorted(n for n in runs if n > 0 and counter in runs[n])
    return xs, [runs[n][counter] for n in xs]


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("json")
    ap.add_argument("-o", "--output", default="docs/performance.png")
    args = ap.parse_args()
    by, ctx = parse(args.json)

    fig, (left, right, third) = plt.subplots(1, 3, figsize=(17, 6.5), constrained_layout=True)

    # saving one QSO, with the floor the disk sets at the same moments
    for family, tables, colour in (("SaveKnownCorrespondent", 1, "tab:blue"),
                                   ("SaveNewCorrespondent", 5, "tab:orange")):
        who = "known" if tables == 1 else "new"
        xs, ys = series(by, family, "median_ms")
        if xs:
            left.plot(xs, ys, "o-", color=colour,
                      label=f"save, {who} correspondent ({tables} table{'s' if tables > 1 else ''}): handler")
        xs, ys = series(by, family, "painted_median_ms")
        if xs:
            left.plot(xs, ys, "o:", color=colour, label=f"  the same, repainted")
        xs, fl = series(by, family, "floor_ms")
        if xs:
            left.plot(xs, [2 * tables * f for f in fl], "--", color=colour, alpha=0.5,
                      label=f"  target: 2 × floor × {tables}")
    xs, fl = series(by, "SaveKnownCorrespondent", "floor_ms")
    if xs:
        left.plot(xs, fl, "s-", color="grey", label="floor: 4 KiB pwrite + fdatasync")
    left.set_title("Saving one QSO: btnSaveClick through SaveAll (median)")

    # one keystroke of the call sign
    for family, what, colour in (("Keystroke/known", "2nd character of a known call", "tab:green"),
                                 ("Keystroke/busiest_prefix", "2nd character, busiest prefix",
                                  "tab:purple"),
                                 ("Keystroke/no_qso", "station with no QSO", "tab:red")):
        xs, ys = series(by, family, "median_ms")
        if xs:
            right.plot(xs, ys, "o-", color=colour, label=f"{what}: handler median")
        xs, ys = series(by, family, "painted_median_ms")
        if xs:
            right.plot(xs, ys, "o:", color=colour, label=f"  repainted: median")
        if family == "Keystroke/known":
            xs, ys = series(by, family, "painted_max_ms")
            if xs:
                right.plot(xs, ys, "v:", color=colour, alpha=0.6, label="  repainted: max")
    right.axhline(4, color="black", ls="--", lw=0.8, label="target: median 4 ms")
    right.axhline(10, color="black", ls="-.", lw=0.8, label="target: worst 10 ms")
    right.set_title("One call-sign keystroke: key to completed fields")

    # deleting a QSO and paging the grid
    xs, ys = series(by, "DeleteQso", "median_ms")
    if xs:
        third.plot(xs, ys, "o-", color="tab:brown", label="delete a QSO: handler median")
    xs, fl = series(by, "DeleteQso", "floor_ms")
    if xs:
        third.plot(xs, [2 * f for f in fl], "--", color="tab:brown", alpha=0.5,
                   label="  target: 2 × floor")
        third.plot(xs, fl, "s-", color="grey", label="floor: 4 KiB pwrite + fdatasync")
    xs, ys = series(by, "GridPage", "median_ms")
    if xs:
        third.plot(xs, ys, "o-", color="tab:cyan", label="grid page, repainted: median")
    xs, ys = series(by, "GridPage", "max_ms")
    if xs:
        third.plot(xs, ys, "v:", color="tab:cyan", alpha=0.6, label="  max")
    third.set_title("Deleting a QSO; one page of the grid")

    for ax in (left, right, third):
        ax.set_xscale("log")
        ax.set_yscale("log")
        ax.set_xlabel("QSOs in the log")
        ax.set_ylabel("ms")
        ax.grid(True, which="both", alpha=0.3)
        ax.legend(fontsize=7, loc="upper center", bbox_to_anchor=(0.5, -0.14), ncol=2,
                  frameon=False)
    fig.suptitle(f"QARDEL, {ctx.get('cpu_model', '?')} × {ctx.get('nproc', '?')}, "
                 f"{ctx.get('filesystem', '?')}, {ctx.get('date', '')[:10]}", fontsize=9)
    fig.savefig(args.output, dpi=110)
    print(f"plot: {args.output}")


if __name__ == "__main__":
    main()
