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

echo "== tests"
ctest --preset default
echo "== tests under the address and undefined-behaviour sanitizers"
ctest --preset asan
echo "== link and workflow tests under the thread sanitizer"
ctest --preset tsan -R '^(TPortThread|PosixSerialPort|LinkSimulatorTest|TSimulatedDevice|WorkflowTest|CliDeviceTest|Production)'
echo "== fuzzing"
fuzz/run.sh 60
echo "== Windows sources"
scripts/check-windows.sh
echo "== Debian package"
scripts/check-package.sh
