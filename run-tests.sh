#!/usr/bin/env bash
# Installs what is missing, builds the sanitizer test build, runs every test, then clang-tidy; then
# builds the Debian package from the release build and from a plain configure and checks both
# (scripts/check-package.sh).
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
cd "$here"
# The compiler cache finds the same sources in another clone or build folder.
export CCACHE_BASEDIR="$here" CCACHE_NOHASHDIR=1
./scripts/install-deps.sh --tests
cmake --preset asan-ubsan >/dev/null
cmake --build --preset asan-ubsan
ctest --preset asan-ubsan "$@"
cmake --build --preset tidy
cmake --preset release >/dev/null
cmake --build --preset release --target package
./scripts/check-package.sh
# A package from a plain configure (whose install prefix is /usr/local) lands in /usr all the same.
cmake -S . -B build/plain -G Ninja -DCMAKE_BUILD_TYPE=Release -DLUMICLIP_TESTS=OFF >/dev/null
cmake --build build/plain --target package -j 2
./scripts/check-package.sh "$(ls build/plain/lumiclip_*.deb | head -n 1)"
