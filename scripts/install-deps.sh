#!/usr/bin/env bash
# Installs the Debian packages that the build, the tests and the tools need,
# every program the scripts and the build call included (a minimal Debian 12
# has none of them). Idempotent: packages already present are left alone and
# nothing is downloaded when everything is installed.
set -euo pipefail

packages=(
  # compilers and the build: cmake, ninja, pkg-config; gzip for the manual pages
  build-essential g++ cmake ninja-build pkg-config gzip
  # tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev
  # libraries of the program
  libxml2-dev libxslt1-dev libgit2-dev
  qt6-base-dev qt6-base-dev-tools libgl-dev qt6-qpa-plugins qt6-translations-l10n
  # sanitizers and fuzzing: clang++-14, the sanitizer runtimes, llvm-symbolizer
  clang-14 libclang-rt-14-dev llvm-14
  # the window under a virtual X server (xvfb-run needs xauth) with a window manager
  xvfb xauth openbox
  # the Windows compile check
  g++-mingw-w64-x86-64-posix
  # the package: manual pages, menu entry check, dpkg-shlibdeps, and file for CPack's dependency scan
  help2man desktop-file-utils dpkg-dev file
  # git: check-fresh.sh clones with it, and the history tests check repositories with git fsck
  git
  # coverage.sh: line and branch coverage of the product code
  gcovr
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq || true
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
