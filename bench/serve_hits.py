#!/usr/bin/env python3
"""How fast lumiclip-serve answers cache hits, idle and while pages load, side by side with a plain
static file server answering the same image (Python's threading HTTP server, the peer at hand here).
Four clients on kept-alive connections ask for one thumbnail again and again; the figures are the
median and 99th percentile latency and the requests per second. While pages load, two more clients
keep asking for captures of a page that takes 2 s, each a new one, so that the browser is always busy.

  bench/serve_hits.py --serve build/release/serve/lumiclip-serve [--requests N] [--rounds N]
"""

import argparse
import functools
import http.client
import http.server
import os
import re
import shutil
import socketserver
import statistics
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True


class Pages(http.server.SimpleHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    # Headers and body go out in two writes: without this, each answer waits for a delayed ACK.
    disable_nagle_algorithm = True

    def log_message(self, *args):
        pass

    def do_GET(self):
        if self.path.startswith("/slow"):
            time.sleep(2)
        body = b"<html><body style='margin:0;background:rgb(0,160,0)'>page</body></html>"
        if self.path.startswith("/slow") or self.path.startswith("/green"):
            self.send_response(200)
            self.send_header("Content-Type", "text/html")
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)
            return
        super().do_GET()


def start(handler):
    server = Server(("127.0.0.1", 0), handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


def hammer(port, path, requests, clients=4):
    """Latencies of requests spread over clients on kept-alive connections, and the wall time."""
    latencies = []
    lock = threading.Lock()

    def client(count):
        connection = http.client.HTTPConnection("127.0.0.1", port, timeout=30)
        mine = []
        for _ in range(count):
            began = time.perf_counter()
            connection.request("GET", path)
            answer = connection.getresponse()
            answer.read()
            if answer.status != 200:
                raise SystemExit("serve_hits: %s answered %d" % (path, answer.status))
            mine.append(time.perf_counter() - began)
        connection.close()
        with lock:
            latencies.extend(mine)

    threads = [threading.Thread(target=client, args=(requests // clients,)) for _ in range(clients)]
    began = time.perf_counter()
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    return latencies, time.perf_counter() - began


def figures(latencies, wall):
    ordered = sorted(latencies)
    return (statistics.median(ordered) * 1000, ordered[int(len(ordered) * 0.99) - 1] * 1000,
            len(ordered) / wall)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--serve", required=True)
    parser.add_argument("--requests", type=int, default=4000)
    parser.add_argument("--rounds", type=int, default=3)
    args = parser.parse_args()

    work = tempfile.mkdtemp(prefix="serve-hits-")
    pages = start(Pages)
    process = subprocess.Popen(
        [args.serve, "--listen", "127.0.0.1:0", "--cache", os.path.join(work, "cache"),
         "--allow", "127.0.0.1:%d" % pages.server_address[1], "--queue", "1000",
         "--settings", os.path.join(work, "none.ini")],
        stderr=subprocess.PIPE, text=True, env=dict(os.environ, HOME=work))
    loading = threading.Event()
    try:
        line = process.stderr.readline()
        match = re.search(r"listening on http://127.0.0.1:(\d+)/", line)
        if not match:
            raise SystemExit("serve_hits: lumiclip-serve did not start: " + line)
        port = int(match.group(1))
        page = "http://127.0.0.1:%d/green" % pages.server_address[1]
        path = "/capture?url=" + urllib.parse.quote(page, safe="")
        connection = http.client.HTTPConnection("127.0.0.1", port, timeout=60)
        connection.request("GET", path)
        answer = connection.getresponse()
        image = answer.read()
        if answer.status != 200:
            raise SystemExit("serve_hits: the first capture answered %d" % answer.status)
        # The peer answers the same bytes from a file.
        with open(os.path.join(work, "thumb.jpg"), "wb") as out:
            out.write(image)
        peer = start(functools.partial(Pages, directory=work))

        def keep_loading(client):
            n = 0
            while loading.is_set():
                n += 1
                slow = "http://127.0.0.1:%d/slow?%d-%d" % (pages.server_address[1], client, n)
                busy = http.client.HTTPConnection("127.0.0.1", port, timeout=60)
                busy.request("GET", "/capture?url=" + urllib.parse.quote(slow, safe=""))
                busy.getresponse().read()
                busy.close()

        rows = {"lumiclip-serve, idle": [], "peer (static files), idle": [], "lumiclip-serve, pages loading": []}
        for _ in range(args.rounds):
            rows["lumiclip-serve, idle"].append(figures(*hammer(port, path, args.requests)))
            rows["peer (static files), idle"].append(
                figures(*hammer(peer.server_address[1], "/thumb.jpg", args.requests)))
            loading.set()
            loaders = [threading.Thread(target=keep_loading, args=(k,), daemon=True) for k in range(2)]
            for loader in loaders:
                loader.start()
            time.sleep(0.5)
            rows["lumiclip-serve, pages loading"].append(figures(*hammer(port, path, args.requests)))
            loading.clear()
            for loader in loaders:
                loader.join()
        print("Cache hits: %d requests of a %d-byte thumbnail from 4 clients, %d rounds (medians)"
              % (args.requests, len(image), args.rounds))
        print("  %-32s %10s %10s %12s" % ("", "p50 ms", "p99 ms", "requests/s"))
        for name, values in rows.items():
            print("  %-32s %10.2f %10.2f %12.0f" % (name, statistics.median(v[0] for v in values),
                                                   statistics.median(v[1] for v in values),
                                                   statistics.median(v[2] for v in values)))
    finally:
        loading.clear()
        process.terminate()
        process.wait(timeout=60)
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
