#!/usr/bin/env python3
"""Times what the waits and the capture kinds cost per capture against the default (the load event, the
view): one lumiclip-cli batch per mode over the same address, every mode in turn, several rounds, so
that a drifting machine treats them alike. Prints the median per capture and its ratio to the default.
"""

import argparse
import statistics
import subprocess
import sys
import tempfile
import time

MODES = [
    ("load (default)", []),
    ("--wait domcontentloaded", ["--wait", "domcontentloaded"]),
    ("--wait networkidle", ["--wait", "networkidle"]),
    ("--full-page", ["--full-page"]),
]


def batch_ms(cli, url, captures, flags, folder):
    command = [cli, "-j", "1", "-o", folder + "/", *flags] + [url + "?" + str(i) for i in range(captures)]
    start = time.perf_counter()
    done = subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, timeout=600)
    elapsed = (time.perf_counter() - start) * 1000
    if done.returncode != 0:
        return None, done.stderr.decode(errors="replace").strip().splitlines()[-1:]
    return elapsed / captures, None


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--url", required=True)
    parser.add_argument("--cli", required=True)
    parser.add_argument("--captures", type=int, default=20, help="captures per batch")
    parser.add_argument("--rounds", type=int, default=3)
    args = parser.parse_args()
    per_capture = {name: [] for name, _ in MODES}
    failures = {}
    with tempfile.TemporaryDirectory() as folder:
        for _ in range(args.rounds):
            for name, flags in MODES:
                ms, error = batch_ms(args.cli, args.url, args.captures, flags, folder)
                if ms is None:
                    failures[name] = error
                else:
                    per_capture[name].append(ms)
    base = statistics.median(per_capture[MODES[0][0]]) if per_capture[MODES[0][0]] else None
    print(f"\nWaits and capture kinds, lumiclip-cli -j 1, {args.captures} captures a batch, "
          f"{args.rounds} rounds (median per capture, whole process):")
    for name, _ in MODES:
        if name in failures:
            print(f"  {name:26} failed: {' '.join(failures[name])}")
            continue
        median = statistics.median(per_capture[name])
        ratio = f"{median / base:.2f} x load" if base else ""
        print(f"  {name:26} {median:7.1f} ms   {ratio}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
