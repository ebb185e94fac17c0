#!/usr/bin/env bash
# The mutation check: applies each mutation of scripts/mutations.txt on its
# own (a flipped comparison, an off-by-one, a dropped call, a swapped byte
# order, a wrong constant), rebuilds the test executables that the mutated
# code feeds, runs them and counts the mutants they catch. A mutant is caught
# when a test fails or a run does not end within its time. The sources are
# put back after each mutant and when the script ends however it ends.
# Not run by CI: on 2 cores it takes about 15 to 25 minutes.
#
#   scripts/mutate.sh [REGEX]      only the mutations whose line matches REGEX (extended)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=$root/build/mutate
list=$root/scripts/mutations.txt
pattern=${1:-}
seconds_per_run=300

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
echo "== building the test executables once"
cmake --build "$build" -j "$(nproc)" >/dev/null

saved=$(mktemp)
current=
restore() {
  if [ -n "$current" ]; then
    cp "$saved" "$root/$current"
    current=
  fi
}
trap 'restore; rm -f "$saved"' EXIT

caught=0 survived=0 broken=0 total=0
survivors=()
start=$(date +%s)
while IFS= read -r line; do
  [[ -z $line || $line == \#* ]] && continue
  [[ -n $pattern ]] && ! grep -qE -- "$pattern" <<<"$line" && continue
  IFS=$'\x1f' read -r tests file old new <<<"$(sed 's/ @@ /\x1f/g' <<<"$line")"
  total=$((total + 1))
  cp "$root/$file" "$saved"
  current=$file
  OLD=$old NEW=$new perl -0pi -e '$n = s/\Q$ENV{OLD}\E/$ENV{NEW}/g; END { exit($n == 1 ? 0 : 1) }' "$root/$file" || {
    echo "mutations.txt: the text does not occur exactly once in $file: $old" >&2
    exit 2
  }
  verdict=survived
  # shellcheck disable=SC2086
  if ! cmake --build "$build" --target $tests >/dev/null 2>&1; then
    verdict=broken
  else
    for test in $tests; do
      if ! QT_QPA_PLATFORM=offscreen timeout "$seconds_per_run" "$build/bin/$test" --gtest_brief=1 >/dev/null 2>&1; then
        verdict=caught
        break
      fi
    done
  fi
  restore
  case $verdict in
    caught) caught=$((caught + 1)) ;;
    broken) broken=$((broken + 1)) ;;
    survived) survived=$((survived + 1)); survivors+=("$file: $old  ->  $new") ;;
  esac
  printf '%-8s %s: %s\n' "$verdict" "$file" "$old"
done <"$list"

# The executables go back to the sources as they are.
cmake --build "$build" -j "$(nproc)" >/dev/null
echo
echo "mutate.sh: caught $caught of $((total - broken)) mutants ($broken did not build) in $(( $(date +%s) - start )) s"
if [ ${#survivors[@]} -gt 0 ]; then
  echo "survived:"
  printf '  %s\n' "${survivors[@]}"
fi
