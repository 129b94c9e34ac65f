#!/usr/bin/env bash
# Installs what is missing, builds the sanitizer test build, runs every test, then clang-tidy; then
# builds the Debian package from the release build and checks it (scripts/check-package.sh).
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
cd "$here"
./scripts/install-deps.sh --tests
cmake --preset asan-ubsan >/dev/null
cmake --build --preset asan-ubsan
ctest --preset asan-ubsan "$@"
cmake --build --preset tidy
cmake --preset release >/dev/null
cmake --build --preset release --target package
./scripts/check-package.sh
