#!/usr/bin/env bash
# Line and branch coverage of the product code by the test suite: builds with
# gcc's coverage counters in build/coverage, runs every test but the fault
# soak, and prints gcovr's summary of the program's own code (the tests, fuzz
# targets, benchmarks and the simulator are not counted). Not run by CI: about
# 15 minutes on 2 cores.
#
#   scripts/coverage.sh [--html DIR]    also writes a browsable report into DIR
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
build=build/coverage
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_CXX_FLAGS="--coverage -fno-inline" -DCMAKE_EXE_LINKER_FLAGS=--coverage >/dev/null
cmake --build "$build" -j "$(nproc)" >/dev/null
find "$build" -name '*.gcda' -delete
(cd "$build" && QT_QPA_PLATFORM=offscreen ctest -j "$(nproc)" -E soak --output-on-failure >/dev/null) ||
  echo "coverage: some tests failed; the figures count what ran" >&2
report=(--root . --object-directory "$build" --filter '(link|model|model_bin|model_xml|workflow|history|app|editors|tools/cli)/'
        --exclude-unreachable-branches --exclude-throw-branches)
if [ "${1:-}" = --html ]; then
  mkdir -p "$2"
  gcovr "${report[@]}" --html-details "$2/index.html" >/dev/null
fi
gcovr "${report[@]}" --print-summary -o "$build/summary.txt"
