#!/usr/bin/env bash
# Installs what is missing, builds the release, and captures a page:
#   ./lumiclip.sh            captures the sample page that ships in res/sample/
#   ./lumiclip.sh URL [...]  captures that address (further lumiclip-cli options may follow)
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
cd "$here"
./scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release >/dev/null
if [ $# -eq 0 ]; then
  set -- "file://$here/res/sample/index.html" -o "$here/build/sample.jpg"
fi
exec "$here/build/release/cli/lumiclip-cli" "$@"
