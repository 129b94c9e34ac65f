#!/usr/bin/env python3
"""Times cold runs of lumiclip-cli and of the headless shell's own --screenshot on one address, then
prints the benchmark's summary table together with lumiclip-bench's figures.

Each run is a fresh process: time from the start of the process to the output file appearing (the
CLI renames a finished file into place) and to the process exiting. The two commands alternate so
that a drifting machine treats both alike. The file is looked for every millisecond or so, which puts
about a millisecond of uncertainty on "written".
"""

import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

# The flags lumiclip's browser gets (core/browser/browser_process.cpp), minus the protocol pipe.
BROWSER_FLAGS = [
    "--no-first-run", "--no-default-browser-check", "--disable-background-networking",
    "--disable-component-update", "--disable-sync", "--disable-gpu", "--disable-extensions",
    "--disable-breakpad", "--mute-audio", "--hide-scrollbars", "--password-store=basic",
    "--disable-background-timer-throttling", "--disable-renderer-backgrounding",
    "--disable-backgrounding-occluded-windows",
]
WARM_TARGET_MS = 150.0
IMAGE_TARGET_MS = 20.0
RUN_LIMIT_S = 60.0


def timed_run(command, output):
    """Runs command once; returns (ms to the output file, ms to exit, exit status)."""
    if os.path.exists(output):
        os.remove(output)
    start = time.perf_counter()
    process = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    written = None
    while process.poll() is None:
        now = time.perf_counter()
        if written is None and os.path.exists(output):
            written = now
        if now - start > RUN_LIMIT_S:
            process.kill()
            process.wait()
            break
        time.sleep(0.001)
    ended = time.perf_counter()
    if written is None and os.path.exists(output):
        written = ended
    to_file = (written - start) * 1000 if written is not None else None
    return to_file, (ended - start) * 1000, process.returncode


def read_results(path):
    figures = {}
    with open(path, encoding="utf-8") as f:
        for line in f:
            key, _, value = line.strip().partition("=")
            if key:
                figures[key] = float(value)
    return figures


def median_of(runs, index, label):
    values = [r[index] for r in runs if r[index] is not None]
    if not values:
        sys.exit(f"cold_runs: {label}: no run wrote its file")
    return statistics.median(values)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--url", required=True)
    parser.add_argument("--cli", required=True)
    parser.add_argument("--shell", default="/usr/lib/chromium/chromium-headless-shell")
    parser.add_argument("--runs", type=int, default=7)
    parser.add_argument("--warm-results", help="key=value figures written by lumiclip-bench --results")
    args = parser.parse_args()
    if args.runs < 1:
        sys.exit("cold_runs: --runs must be at least 1")

    work = tempfile.mkdtemp(prefix="lumiclip-bench-")
    try:
        settings = os.path.join(work, "empty.ini")
        open(settings, "w", encoding="utf-8").close()
        cli_out = os.path.join(work, "cli.jpg")
        ref_out = os.path.join(work, "reference.png")
        cli_command = [args.cli, "--settings", settings, "--view", "810x600", "--size", "180x138", "-f", "JPG",
                       "-o", cli_out, args.url]

        def ref_command():
            profile = tempfile.mkdtemp(prefix="profile-", dir=work)
            command = [args.shell, *BROWSER_FLAGS, f"--user-data-dir={profile}"]
            if os.geteuid() == 0:
                command.append("--no-sandbox")
            return command + [f"--screenshot={ref_out}", "--window-size=810,600", args.url]

        cli_runs, ref_runs = [], []
        # One untimed run of each first: both then start with the programs' files in the page cache.
        for timed in [False] + [True] * args.runs:
            for runs, command, output in ((cli_runs, cli_command, cli_out), (ref_runs, ref_command(), ref_out)):
                result = timed_run(command, output)
                if result[2] != 0:
                    sys.exit(f"cold_runs: {command[0]} exited with status {result[2]}")
                if timed:
                    runs.append(result)
    finally:
        shutil.rmtree(work, ignore_errors=True)

    cli_file = median_of(cli_runs, 0, "lumiclip-cli")
    cli_exit = median_of(cli_runs, 1, "lumiclip-cli")
    ref_file = median_of(ref_runs, 0, "reference")
    ref_exit = median_of(ref_runs, 1, "reference")

    rows = []
    warm = read_results(args.warm_results) if args.warm_results else {}
    if warm:
        def against(value, target):
            verdict = "met" if value < target else "MISSED"
            return f"< {target:.0f} ms", f"{verdict} ({value / target:.2f}x target)"
        rows.append(("warm capture, PageCapture", f"{warm['warm_median_ms']:.1f} ms",
                     *against(warm["warm_median_ms"], WARM_TARGET_MS)))
        rows.append(("warm capture + image + file", f"{warm['warm_total_median_ms']:.1f} ms", "", ""))
        rows.append(("image step (decode, white, 180x138, JPEG)", f"{warm['image_median_ms']:.1f} ms",
                     *against(warm["image_median_ms"], IMAGE_TARGET_MS)))
    rows.append(("cold lumiclip-cli, start -> file", f"{cli_file:.0f} ms", "<= reference",
                 f"{'met' if cli_file <= ref_file else 'MISSED'} ({cli_file / ref_file:.2f}x reference)"))
    rows.append(("cold lumiclip-cli, start -> exit", f"{cli_exit:.0f} ms", "",
                 f"{cli_exit / ref_exit:.2f}x reference"))
    rows.append(("reference --screenshot, start -> file", f"{ref_file:.0f} ms", "", ""))
    rows.append(("reference --screenshot, start -> exit", f"{ref_exit:.0f} ms", "", ""))
    if warm:
        mid = int(warm["mem_mid_captures"])
        end = int(warm["captures"])
        rows.append(("browser RSS sum: start / %d / %d" % (mid, end),
                     "%.0f / %.0f / %.0f MB" % (warm["mem_start_rss_mb"], warm["mem_mid_rss_mb"], warm["mem_end_rss_mb"]),
                     "flat", ""))
        rows.append(("browser PSS sum: start / %d / %d" % (mid, end),
                     "%.0f / %.0f / %.0f MB" % (warm["mem_start_pss_mb"], warm["mem_mid_pss_mb"], warm["mem_end_pss_mb"]),
                     "flat", "flat" if warm["mem_flat"] else "GROWING"))

    headers = ("measure", "median", "target", "verdict")
    widths = [max(len(str(r[i])) for r in rows + [headers]) for i in range(4)]
    print(f"\nSummary (cold runs: median of {args.runs} each)")
    for row in [headers, tuple("-" * w for w in widths)] + rows:
        print("  " + "  ".join(str(cell).ljust(widths[i]) for i, cell in enumerate(row)).rstrip())


if __name__ == "__main__":
    main()
