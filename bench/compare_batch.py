#!/usr/bin/env python3
"""Times a lumiclip-cli batch against the same batch written with Playwright (bench/playwright_batch.mjs),
side by side in one run, at each number of pages at once, and prints both times and their ratio.

The batch: five local pages served on 127.0.0.1 (the sample page, a long table page made here and three
documentation pages that Debian installs, each with its style sheets and scripts), cycled to the number
of captures, each address with its own query so that no two are the same. Both sides use the same
headless shell with the same flags, a fresh browser context per address, a view of 810 x 600, the load
event, and exactly 180 x 138 JPEG images at quality 75. A run is one whole process, from its start to its
exit (its last file is written before it exits); every run's files are checked (count, JPEG, size). The
two sides alternate, the one to go first changing every round, so that a drifting machine treats both
alike.
"""

import argparse
import functools
import http.server
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time

# The flags lumiclip's browser gets (core/browser/browser_process.cpp), minus the protocol pipe and the
# profile, which Playwright sets itself.
from cold_runs import BROWSER_FLAGS

# Documentation pages of Debian packages the build installs anyway; a missing one is replaced by a page
# made here, and the run says so.
DOC_PAGES = [
    ("python3", "/usr/share/doc/python3", "python-policy.html"),
    ("base-passwd", "/usr/share/doc/base-passwd", "users-and-groups.html"),
    ("zlib", "/usr/share/doc/zlib1g-dev/examples", "zlib_how.html"),
]
RUN_LIMIT_S = 600


def table_page(rows):
    """A long page of our own: a styled table and a script that fills in a total after the parse."""
    cells = "\n".join(
        f"<tr><td>{i}</td><td>item {i}</td><td class=n>{(i * 37) % 1000}</td><td>{'ab' * (i % 7 + 1)}</td></tr>"
        for i in range(1, rows + 1))
    return f"""<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>Table</title>
<style>
body {{ font-family: sans-serif; margin: 24px; }}
table {{ border-collapse: collapse; width: 100%; }}
td {{ border: 1px solid #ccc; padding: 4px 8px; }}
tr:nth-child(odd) {{ background: #eef4fa; }}
td.n {{ text-align: right; font-variant-numeric: tabular-nums; }}
</style></head>
<body><h1>Stock list</h1><p id=total></p>
<table>{cells}</table>
<script>
let sum = 0;
for (const cell of document.querySelectorAll('td.n')) sum += Number(cell.textContent);
document.getElementById('total').textContent = 'Total: ' + sum;
</script></body></html>
"""


def build_site(root, sample):
    """Lays out the five pages under root; returns their paths and the names of missing documents."""
    pages, missing = [], []
    shutil.copy(sample, os.path.join(root, "index.html"))
    pages.append("index.html")
    with open(os.path.join(root, "table.html"), "w", encoding="utf-8") as f:
        f.write(table_page(400))
    pages.append("table.html")
    for name, folder, page in DOC_PAGES:
        if os.path.isfile(os.path.join(folder, page)):
            shutil.copytree(folder, os.path.join(root, name), symlinks=False,
                            ignore=shutil.ignore_patterns("*.gz"))
            pages.append(f"{name}/{page}")
        else:
            missing.append(f"{folder}/{page}")
            stand_in = f"stand-in-{name}.html"
            with open(os.path.join(root, stand_in), "w", encoding="utf-8") as f:
                f.write(table_page(150))
            pages.append(stand_in)
    return pages, missing


class QuietHandler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass


def jpeg_size(path):
    """(width, height) of a baseline or progressive JPEG file, or None."""
    with open(path, "rb") as f:
        data = f.read()
    if data[:2] != b"\xff\xd8":
        return None
    i = 2
    while i + 9 < len(data):
        if data[i] != 0xFF:
            return None
        marker = data[i + 1]
        length = int.from_bytes(data[i + 2:i + 4], "big")
        if marker in (0xC0, 0xC1, 0xC2):
            return int.from_bytes(data[i + 7:i + 9], "big"), int.from_bytes(data[i + 5:i + 7], "big")
        i += 2 + length
    return None


def timed(command, folder, captures, size):
    """Runs command with an empty output folder; returns seconds to exit, or exits naming the fault."""
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    start = time.perf_counter()
    done = subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, timeout=RUN_LIMIT_S)
    elapsed = time.perf_counter() - start
    if done.returncode != 0:
        sys.exit(f"compare_batch: {os.path.basename(command[1] if command[0] == 'node' else command[0])} "
                 f"exited with {done.returncode}: {done.stderr.decode(errors='replace').strip()[-500:]}")
    files = [os.path.join(folder, name) for name in os.listdir(folder)]
    wrong = [f for f in files if jpeg_size(f) != size]
    if len(files) != captures or wrong:
        sys.exit(f"compare_batch: {command[0]} wrote {len(files)} files of {captures}; "
                 f"not {size[0]}x{size[1]} JPEG: {wrong[:3]}")
    return elapsed


def spread(values):
    return f"{statistics.median(values):6.2f} s ({min(values):.2f}-{max(values):.2f})"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--cli", required=True)
    parser.add_argument("--peer", required=True, help="folder whose node_modules has playwright-core and sharp")
    parser.add_argument("--shell", default="/usr/lib/chromium/chromium-headless-shell")
    parser.add_argument("--sample", required=True, help="the sample page")
    parser.add_argument("--captures", type=int, default=50)
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--jobs", default="1,2", help="pages at once, comma-separated")
    args = parser.parse_args()
    jobs_list = [int(j) for j in args.jobs.split(",")]
    args.peer = os.path.abspath(args.peer)
    here = os.path.dirname(os.path.abspath(__file__))
    work = tempfile.mkdtemp(prefix="lumiclip-compare-")
    server = None
    try:
        site = os.path.join(work, "site")
        os.makedirs(site)
        pages, missing = build_site(site, args.sample)
        handler = functools.partial(QuietHandler, directory=site)
        server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
        threading.Thread(target=server.serve_forever, daemon=True).start()
        base = f"http://127.0.0.1:{server.server_address[1]}/"
        urls = [f"{base}{pages[i % len(pages)]}?n={i}" for i in range(args.captures)]
        url_list = os.path.join(work, "urls.txt")
        with open(url_list, "w", encoding="utf-8") as f:
            f.write("\n".join(urls) + "\n")
        settings = os.path.join(work, "empty.ini")
        open(settings, "w", encoding="utf-8").close()
        out = os.path.join(work, "out")
        size = (180, 138)

        def lumiclip(jobs):
            return [args.cli, "--settings", settings, "--view", "810x600", "--size", "180x138", "-f", "JPG",
                    "-j", str(jobs), "-o", out + "/", "-i", url_list]

        def playwright(jobs):
            command = ["node", os.path.join(here, "playwright_batch.mjs"), "--modules", args.peer,
                       "--browser", args.shell, "--jobs", str(jobs), "--view", "810x600", "--size", "180x138",
                       "--out", out, "--list", url_list]
            for flag in BROWSER_FLAGS:
                command += ["--flag", flag]
            return command

        print(f"\nSide by side: {args.captures} captures of {len(pages)} pages ({', '.join(pages)}), "
              f"{args.rounds} rounds, whole process each")
        if missing:
            print(f"  (not installed, replaced by a page made here: {', '.join(missing)})")
        times = {(side, jobs): [] for side in ("lumiclip", "playwright") for jobs in jobs_list}
        # One untimed run of each first: the programs' files are then in the page cache for both.
        for jobs in jobs_list:
            timed(lumiclip(jobs), out, args.captures, size)
            timed(playwright(jobs), out, args.captures, size)
        for round_index in range(args.rounds):
            for jobs in jobs_list:
                sides = [("lumiclip", lumiclip(jobs)), ("playwright", playwright(jobs))]
                if round_index % 2:
                    sides.reverse()
                for side, command in sides:
                    times[(side, jobs)].append(timed(command, out, args.captures, size))
            line = "  ".join(f"-j {j}: {times[('lumiclip', j)][-1]:.2f} / {times[('playwright', j)][-1]:.2f} s"
                             for j in jobs_list)
            print(f"  round {round_index + 1}: lumiclip / playwright  {line}", flush=True)
        print(f"\n  {'jobs':5} {'lumiclip-cli median (range)':30} {'playwright median (range)':30} ratio   "
              f"per-round ratios")
        for jobs in jobs_list:
            ours, theirs = times[("lumiclip", jobs)], times[("playwright", jobs)]
            ratios = [a / b for a, b in zip(ours, theirs)]
            print(f"  -j {jobs:<2} {spread(ours):30} {spread(theirs):30} "
                  f"{statistics.median(ours) / statistics.median(theirs):.2f}x   "
                  f"{min(ratios):.2f}-{max(ratios):.2f}x")
    finally:
        if server:
            server.shutdown()
        shutil.rmtree(work, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
