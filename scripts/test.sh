#!/usr/bin/env bash
# Installs what is needed, builds the plain and the sanitizer configuration, and
# runs every test in both, then each fuzz target for a bounded time. Fails when
# any test fails or a fuzz target finds a crash.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh test
jobs=$(nproc)

# BUILD_TESTING named outright: a tree the demo configured has it off.
scripts/build.sh build -DBUILD_TESTING=ON
(cd build && ctest --output-on-failure -j "$jobs")

scripts/build.sh build-asan -DAVRISP_SANITIZE=ON -DBUILD_TESTING=ON
(cd build-asan && ASAN_OPTIONS=detect_leaks=0 ctest --output-on-failure -j "$jobs")

# The libFuzzer targets, in a clang tree of their own, about 30 s each.
scripts/fuzz.sh 30
