#!/usr/bin/env bash
# Builds the Debian package and installs it on this machine as a technician
# would: the installed programs must start, find their catalogue next to them
# and talk to a device; the menu entry must be valid. The package is removed
# again at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)" >/dev/null
(cd build/default && cpack -G DEB >cpack.log)
deb=$(ls build/default/configurator_*.deb)
echo "package: $deb"
dpkg-deb --field "$deb" Package Version Depends

export DEBIAN_FRONTEND=noninteractive
$sudo apt-get install -y -qq "./$deb" >/dev/null
work=$(mktemp -d)
cleanup() {
  kill "${sim:-}" "${window:-}" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
  $sudo apt-get remove -y -qq configurator >/dev/null || true
}
trap cleanup EXIT

desktop-file-validate /usr/share/applications/configurator.desktop
test -f /usr/share/icons/hicolor/scalable/apps/configurator.svg
test -f /usr/share/man/man1/configurator-cli.1.gz
test -f /usr/lib/configurator/transmitter-binary.xml
configurator-cli --version
QT_QPA_PLATFORM=offscreen configurator --version

# The installed simulator and tool find each other and the installed catalogue.
blocks=()
for image in /usr/lib/configurator/samples/transmitter-binary/block*.bin; do blocks+=(--block "$image"); done
device-simulator "${blocks[@]}" --link "$work/port" >"$work/simulator.out" 2>&1 &
sim=$!
for _ in $(seq 50); do [ -e "$work/port" ] && break; sleep 0.1; done
configurator-cli identify --port "$work/port" | tee "$work/identify.out"
grep -q "Описание: transmitter-binary.xml" "$work/identify.out"
configurator-cli read --port "$work/port" -o "$work/device.cfg"
configurator-cli show "$work/device.cfg" | grep -q "Номер объекта = 1234"

# The window starts and keeps running.
(cd "$work" && exec env QT_QPA_PLATFORM=offscreen configurator --port "$work/port" >"$work/window.out" 2>&1) &
window=$!
sleep 3
kill -0 "$window"
echo "package: installs, starts and reads the simulated device"
