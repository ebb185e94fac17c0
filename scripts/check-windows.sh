#!/usr/bin/env bash
# Compiles for Windows what can be compiled here: the link layer with its
# Win32 serial port, and the plain C++ of the models, the workflows and the
# command-line tool, with the MinGW-w64 cross compiler (syntax and types only;
# libxml2 and Qt for Windows are not on this machine).
set -euo pipefail
cd "$(dirname "$0")/.."
compiler=x86_64-w64-mingw32-g++-posix
command -v "$compiler" >/dev/null || scripts/install-deps.sh

shopt -s nullglob
sources=(
  link/bytes.cpp link/crc.cpp link/port.cpp link/serial.cpp link/serial_win32.cpp link/port_list_win32.cpp link/trace.cpp
  model/cp1251.cpp model/errors.cpp model/model.cpp model/tools.cpp model/tree_grid.cpp model/exe_dir_win32.cpp model/files.cpp model/files_win32.cpp
  model/catalogue_check.cpp history/platform_win32.cpp model_bin/*.cpp model_xml/*.cpp workflow/workflow.cpp workflow/compare.cpp workflow/production.cpp
  tools/args.cpp tools/cli/*.cpp
)
checked=0
for source in "${sources[@]}"; do
  # Each platform's file is compiled on its own platform only.
  [[ $source == *_posix.cpp ]] && continue
  checked=$((checked + 1))
  "$compiler" -std=c++20 -DCONFIGURATOR_VERSION='"check"' -Wall -Wextra -Wno-missing-field-initializers -fsyntax-only -I. "$source"
done
echo "windows: $checked sources compile with $compiler"
