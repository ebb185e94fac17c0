#!/usr/bin/env bash
# Builds everything and runs every test:
# - the optimised build's whole suite (the window tests headless, the fault soak included);
# - the whole suite under the address and undefined-behaviour sanitizers (leak check included);
# - the link and workflow tests under the thread sanitizer;
# - every fuzz target for 60 seconds;
# - the Windows sources through the MinGW cross compiler;
# - the Debian package, installed and started.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

jobs=$(nproc)
for preset in default asan tsan fuzz; do
  echo "== build: $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
done

log=$(mktemp)
trap 'rm -f "$log"' EXIT
echo "== tests"
ctest --preset default | tee -a "$log"
echo "== tests under the address and undefined-behaviour sanitizers"
ctest --preset asan | tee -a "$log"
echo "== link and workflow tests under the thread sanitizer"
ctest --preset tsan -R '^(TPortThread|PosixSerialPort|LinkSimulatorTest|TSimulatedDevice|WorkflowTest|CliDeviceTest|Production)' |
  tee -a "$log"
echo "== fuzzing"
fuzz/run.sh 60 | tee -a "$log"
echo "== Windows sources"
scripts/check-windows.sh
echo "== Debian package"
scripts/check-package.sh

# Every step above stops the run when it fails; what ran is counted here.
tests=0
for count in $(grep -o 'tests passed, 0 tests failed out of [0-9]*' "$log" | grep -o '[0-9]*$'); do
  tests=$((tests + count))
done
targets=$(grep -c '^fuzz_.*no failures' "$log")
echo "== Summary: $tests tests in three builds, $targets fuzz targets, the Windows sources and the package"
echo "test.sh: $((tests + targets + 2)) passed, 0 failed"
