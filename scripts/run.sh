#!/usr/bin/env bash
# Builds the program and runs its main job against the device simulator: the
# simulated transmitter is identified over a pseudo-terminal.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)"

bin=build/default/bin
work=$(mktemp -d)
trap 'kill "$sim" 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$work"' EXIT

"$bin/device-simulator" --link "$work/port" >"$work/sim.out" &
sim=$!
for _ in $(seq 50); do [ -e "$work/port" ] && break; sleep 0.1; done

"$bin/configurator-cli" identify --port "$work/port"
