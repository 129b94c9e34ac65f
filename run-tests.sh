#!/usr/bin/env bash
# Installs what is missing, builds the sanitizer test build, runs every test, then clang-tidy.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
cd "$here"
./scripts/install-deps.sh --tests
cmake --preset asan-ubsan >/dev/null
cmake --build --preset asan-ubsan
ctest --preset asan-ubsan "$@"
cmake --build --preset tidy
