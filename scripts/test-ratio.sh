#!/usr/bin/env bash
# Prints the share of tests in the code: C++ lines that are neither blank nor
# comments, of tests/ and fuzz/ against those of every other folder but bench/.
# The project keeps it at 0.35 or below.
set -euo pipefail
cd "$(dirname "$0")/.."
count() { xargs -r cat | grep -c -v -E '^\s*(//.*)?$' || true; }
tests=$(git ls-files -- tests fuzz | grep -E '\.(cpp|cc|cxx|h|hpp)$' | count)
code=$(git ls-files | grep -E '\.(cpp|cc|cxx|h|hpp)$' | grep -v -E '^(tests|fuzz|bench)/' | count)
awk -v t="$tests" -v c="$code" 'BEGIN { printf "test lines %d, other code lines %d, ratio %.4f\n", t, c, t / c }'
