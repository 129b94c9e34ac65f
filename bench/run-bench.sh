#!/usr/bin/env bash
# Builds the release preset and prints the benchmark's figures: warm captures, the image step and the
# browser's memory (lumiclip-bench), then cold runs of lumiclip-cli against the headless shell's own
# --screenshot, what the waits cost, and the batch over headless shells reached over WebSocket
# (bench/endpoints.py). Every measure captures the same page from a local server on 127.0.0.1.
#
#   bench/run-bench.sh [--captures N] [--runs N] [--page FILE]
#   bench/run-bench.sh --compare [--rounds N] [--batch N]
#   bench/run-bench.sh --serve [--rounds N]
#
# --captures: warm captures (default 200; memory is read at the start, half-way and at the end)
# --runs:     cold runs of each command (default 7)
# --page:     the HTML page to serve (default res/sample/index.html)
# --compare:  instead, a lumiclip-cli batch against the same batch written with Playwright, side by
#             side at -j 1 and -j 2 (bench/compare_batch.py); installs playwright-core and sharp from
#             npm into build/playwright-peer the first time (never a browser: it uses the headless shell)
# --rounds:   rounds of the comparison (default 5); --batch: captures per batch (default 50)
# --serve:    instead, lumiclip-serve's cache hits, idle and while pages load, beside a static file
#             server answering the same image (bench/serve_hits.py)
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
captures=200
runs=7
page="$here/res/sample/index.html"
compare=0
serve=0
rounds=5
batch=50
while [[ $# -gt 0 ]]; do
  case "$1" in
    --captures) captures=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    --page) page=$2; shift 2 ;;
    --compare) compare=1; shift ;;
    --serve) serve=1; shift ;;
    --rounds) rounds=$2; shift 2 ;;
    --batch) batch=$2; shift 2 ;;
    -h|--help) sed -n '2,18p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "run-bench.sh: unknown argument $1" >&2; exit 2 ;;
  esac
done

cd "$here"
cmake --preset release >/dev/null
cmake --build --preset release --target lumiclip-bench lumiclip-cli lumiclip-serve

if [[ $serve == 1 ]]; then
  exec python3 bench/serve_hits.py --serve build/release/serve/lumiclip-serve --rounds "${rounds}"
fi

if [[ $compare == 1 ]]; then
  peer="$here/build/playwright-peer"
  # Pinned, so that every run compares with the same peer; the browser is ours, never a download.
  if [[ ! -d $peer/node_modules/playwright-core || ! -d $peer/node_modules/sharp ]]; then
    command -v npm >/dev/null || { echo "run-bench.sh: --compare needs Node.js and npm" >&2; exit 1; }
    mkdir -p "$peer"
    [[ -f $peer/package.json ]] || echo '{"name": "lumiclip-bench-peer", "private": true}' >"$peer/package.json"
    (cd "$peer" && PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1 npm install --no-audit --no-fund --loglevel=error \
      playwright-core@1.65.2 sharp@0.35.6)
  fi
  echo "Machine: $(nproc) cores, $(. /etc/os-release && echo "$PRETTY_NAME"), $(uname -r)"
  echo "Browser: $(/usr/lib/chromium/chromium-headless-shell --version 2>/dev/null || echo unknown)," \
    "Node $(node --version), playwright-core $(node -p "require('$peer/node_modules/playwright-core/package.json').version")"
  exec python3 bench/compare_batch.py --cli build/release/cli/lumiclip-cli --peer "$peer" \
    --sample "$here/res/sample/index.html" --rounds "$rounds" --captures "$batch"
fi

work=$(mktemp -d /tmp/lumiclip-bench-XXXXXX)
server_pid=
cleanup() {
  if [[ -n $server_pid ]]; then kill "$server_pid" 2>/dev/null || true; wait "$server_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
mkdir "$work/site"
cp "$page" "$work/site/index.html"

# A free port, then the server on it; wait until it answers.
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
python3 -m http.server --bind 127.0.0.1 --directory "$work/site" "$port" >/dev/null 2>&1 &
server_pid=$!
url="http://127.0.0.1:$port/"
python3 - "$url" <<'PY'
import sys, time, urllib.request
for _ in range(100):
    try:
        urllib.request.urlopen(sys.argv[1], timeout=1).read()
        sys.exit(0)
    except OSError:
        time.sleep(0.1)
sys.exit("run-bench.sh: the page server did not come up")
PY

echo "Machine: $(nproc) cores, $(. /etc/os-release && echo "$PRETTY_NAME"), $(uname -r)"
echo "Browser: $(/usr/lib/chromium/chromium-headless-shell --version 2>/dev/null || echo unknown)"
build/release/bench/lumiclip-bench --url "$url" --captures "$captures" --results "$work/warm.txt"
python3 bench/cold_runs.py --url "$url" --cli build/release/cli/lumiclip-cli --runs "$runs" \
  --warm-results "$work/warm.txt"
python3 bench/wait_costs.py --url "$url" --cli build/release/cli/lumiclip-cli
python3 bench/endpoints.py --cli build/release/cli/lumiclip-cli --page "$page"
