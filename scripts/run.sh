#!/usr/bin/env bash
# Builds the program and starts it on the device simulator: a simulated sample
# transmitter answers on a pseudo-terminal, and the window opens connected to
# it (the stored port setting is left alone). Without a display, the same job
# runs on the command line: identify the device, read it, print its settings.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)"

bin=$PWD/build/default/bin
work=$(mktemp -d)
sim=
cleanup() {
  [ -n "$sim" ] && kill "$sim" 2>/dev/null && wait "$sim" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

blocks=()
for image in "$bin"/samples/transmitter-binary/block*.bin; do blocks+=(--block "$image"); done
"$bin/device-simulator" --hw 5 --sw 300 --serial 0512A7C3 --key 01A2FF001234 "${blocks[@]}" \
  --link "$work/port" >"$work/simulator.out" 2>&1 &
sim=$!
for _ in $(seq 50); do [ -e "$work/port" ] && break; sleep 0.1; done

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  "$bin/configurator" --port "$work/port"
else
  echo "No display here: the job runs on the command line instead."
  "$bin/configurator-cli" identify --port "$work/port"
  "$bin/configurator-cli" read --port "$work/port" -o "$work/device.cfg"
  "$bin/configurator-cli" show "$work/device.cfg"
fi
