#!/usr/bin/env bash
# Refreshes the pictures in docs/images: the real window on the simulated
# sample device, under a virtual X server (or rendered offscreen without one).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)" --target screenshots samples catalogue
root=$PWD
# The window keeps its placement in FORM.INI of the working folder: not in the repository.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
if command -v xvfb-run >/dev/null; then
  # A window manager draws the title bars a person would see.
  xvfb-run -a -s "-screen 0 1024x768x24" sh -c \
    'openbox >/dev/null 2>&1 & sleep 1; "$0" "$1"; status=$?; kill %1 2>/dev/null; exit $status' \
    "$root/build/default/bin/screenshots" "$root/docs/images"
else
  QT_QPA_PLATFORM=offscreen "$root/build/default/bin/screenshots" "$root/docs/images"
fi
