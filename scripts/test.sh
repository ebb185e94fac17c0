#!/usr/bin/env bash
# Builds everything and runs every test: the optimised build, then the whole
# suite under the address and undefined-behaviour sanitizers, then the link
# tests under the thread sanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

jobs=$(nproc)
for preset in default asan tsan; do
  echo "== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
done

ctest --preset default
ctest --preset asan
ctest --preset tsan -R '^(TPortThread|PosixSerialPort|LinkSimulatorTest|TSimulatedDevice|WorkflowTest|CliDeviceTest)\.'
