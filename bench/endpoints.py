#!/usr/bin/env python3
"""Pages per second of one lumiclip-cli batch on the local browser (the pipe) and on 1, 2 and 4 headless
shells reached over WebSocket (--browser), as browsers on other machines would be. Here every shell
shares this machine's cores, so the figures show what the WebSocket and the spreading cost, not what
more machines gain. The shells are started before the clock and left running between batches, as
browsers elsewhere are; every mode runs in turn, several rounds, and the median is printed.

  bench/endpoints.py --cli build/release/cli/lumiclip-cli [--page FILE] [--captures N] [--rounds N] [--jobs N]
"""

import argparse
import functools
import http.server
import os
import shutil
import socketserver
import statistics
import subprocess
import sys
import tempfile
import threading
import time

SHELL = "/usr/lib/chromium/chromium-headless-shell"


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True


class QuietHandler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass


def serve(folder):
    handler = functools.partial(QuietHandler, directory=folder)
    server = Server(("127.0.0.1", 0), handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


def start_shell(profile):
    args = [SHELL, "--remote-debugging-address=127.0.0.1", "--remote-debugging-port=0",
            f"--user-data-dir={profile}", "--no-first-run", "--disable-background-networking",
            "--disable-component-update", "--disable-gpu", "--hide-scrollbars", "about:blank"]
    if os.geteuid() == 0:
        args.append("--no-sandbox")
    process = subprocess.Popen(args, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                               start_new_session=True)
    port_file = os.path.join(profile, "DevToolsActivePort")
    for _ in range(200):
        try:
            with open(port_file) as f:
                lines = f.read().split("\n")
            if len(lines) >= 2 and lines[1].startswith("/devtools/browser/"):
                return process, f"ws://127.0.0.1:{lines[0]}{lines[1].strip()}"
        except OSError:
            pass
        time.sleep(0.1)
    process.kill()
    sys.exit("endpoints.py: a headless shell did not come up")


def batch_seconds(cli, urls, jobs, browsers, folder):
    command = [cli, "-j", str(jobs), "-o", folder + "/"]
    for browser in browsers:
        command += ["--browser", browser]
    start = time.perf_counter()
    done = subprocess.run(command + urls, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, timeout=900)
    elapsed = time.perf_counter() - start
    if done.returncode != 0:
        sys.exit("endpoints.py: a batch failed: " + done.stderr.decode(errors="replace").strip()[-400:])
    return elapsed


def main():
    here = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--cli", required=True)
    parser.add_argument("--page", default=os.path.join(here, "res", "sample", "index.html"))
    parser.add_argument("--captures", type=int, default=60)
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--jobs", type=int, default=2, help="pages at once on each browser")
    args = parser.parse_args()

    work = tempfile.mkdtemp(prefix="lumiclip-endpoints-")
    shells = []
    try:
        site = os.path.join(work, "site")
        os.mkdir(site)
        shutil.copy(args.page, os.path.join(site, "index.html"))
        server = serve(site)
        base = f"http://127.0.0.1:{server.server_address[1]}/index.html"
        urls = [f"{base}?{i}" for i in range(args.captures)]
        sockets = []
        for n in range(4):
            profile = os.path.join(work, f"shell-{n}")
            os.mkdir(profile)
            process, socket = start_shell(profile)
            shells.append(process)
            sockets.append(socket)
        modes = [("local browser (pipe)", [])] + [
            (f"{n} endpoint{'s' if n > 1 else ''} (WebSocket)", sockets[:n]) for n in (1, 2, 4)]
        seconds = {name: [] for name, _ in modes}
        out = os.path.join(work, "out")
        for _ in range(args.rounds):
            for name, browsers in modes:
                seconds[name].append(batch_seconds(args.cli, urls, args.jobs, browsers, out))
        print(f"\nBrowsers elsewhere: {args.captures} captures a batch, -j {args.jobs} on each browser, "
              f"{args.rounds} rounds, all on this machine's {os.cpu_count()} cores (median, whole process):")
        local = statistics.median(seconds[modes[0][0]])
        for name, _ in modes:
            median = statistics.median(seconds[name])
            spread = f"{min(seconds[name]):.2f}-{max(seconds[name]):.2f} s"
            print(f"  {name:28} {args.captures / median:6.1f} pages/s   {median:6.2f} s ({spread})"
                  f"   {median / local:.2f} x local")
    finally:
        for process in shells:
            try:
                os.killpg(process.pid, 9)
            except ProcessLookupError:
                pass
            process.wait()
        shutil.rmtree(work, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
