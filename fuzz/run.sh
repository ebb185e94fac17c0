#!/usr/bin/env bash
# Runs every fuzz target for SECONDS each (default 60) on a copy of its seed
# corpus and prints one line per target; exits 1 when any target failed.
#
# Usage: fuzz/run.sh [SECONDS]
# Environment:
#   FUZZ_BUILD_DIR  the fuzz build (default build/fuzz; configured and built
#                   with the fuzz preset when it does not exist yet)
#   FUZZ_WORK_DIR   where the corpora grow, logs and failing inputs go
#                   (default: a new folder under /tmp, kept afterwards)
#   FUZZ_TARGETS    the targets to run (default: all of them)
set -uo pipefail

seconds=${1:-60}
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=${FUZZ_BUILD_DIR:-$root/build/fuzz}
work=${FUZZ_WORK_DIR:-$(mktemp -d "${TMPDIR:-/tmp}/configurator-fuzz.XXXXXX")}
mkdir -p "$work"
targets=(${FUZZ_TARGETS:-fuzz_frame fuzz_fields fuzz_binary_sample fuzz_binary_random fuzz_xml_block fuzz_settings})

# Longest input per target: a frame the answer buffer holds and then some, the
# sample's block images, block texts and settings files with room to grow.
declare -A max_len=(
    [fuzz_frame]=1024 [fuzz_fields]=256 [fuzz_binary_sample]=512
    [fuzz_binary_random]=1024 [fuzz_xml_block]=4096 [fuzz_settings]=8192
)
declare -A dictionary=([fuzz_xml_block]=$here/xml.dict [fuzz_settings]=$here/xml.dict)

if [[ ! $seconds =~ ^[0-9]+$ ]] || (( seconds == 0 )); then
    echo "usage: $0 [SECONDS]" >&2
    exit 2
fi

if [[ ! -d $build ]]; then
    (cd "$root" && cmake --preset fuzz) > "$work/build.log" 2>&1 || {
        cat "$work/build.log" >&2
        exit 2
    }
fi
cmake --build "$build" --target "${targets[@]}" >> "$work/build.log" 2>&1 || {
    cat "$work/build.log" >&2
    exit 2
}

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}

failed=0
for target in "${targets[@]}"; do
    program=$build/bin/$target
    corpus=$work/corpus/$target
    artifacts=$work/artifacts/$target
    log=$work/logs/$target.log
    mkdir -p "$corpus" "$artifacts" "$(dirname "$log")" "$work/tmp/$target"
    cp -r "$here/corpus/$target/." "$corpus/"

    options=(-max_total_time="$seconds" -max_len="${max_len[$target]:-4096}" -timeout=10 -rss_limit_mb=2048
             -print_final_stats=1 -artifact_prefix="$artifacts/")
    [[ -n ${dictionary[$target]:-} ]] && options+=(-dict="${dictionary[$target]}")
    # Scratch folders of the target go to the work folder too, where a crash leaves them.
    TMPDIR=$work/tmp/$target "$program" "${options[@]}" "$corpus" > "$log" 2>&1
    status=$?

    executions=$(grep -o 'stat::number_of_executed_units: [0-9]*' "$log" | tail -n 1 | grep -o '[0-9]*$')
    [[ -n $executions ]] || executions=$(grep -o '^#[0-9]*' "$log" | tail -n 1 | tr -d '#')
    [[ -n $executions ]] || executions=0

    if (( status == 0 )); then
        result="no failures"
    else
        failed=1
        if grep -q 'ERROR: libFuzzer: timeout' "$log"; then kind="time-out"
        elif grep -q 'out-of-memory' "$log"; then kind="out of memory"
        elif grep -q 'LeakSanitizer' "$log"; then kind="memory leak"
        elif grep -q 'ERROR: AddressSanitizer' "$log"; then kind="address error"
        elif grep -q 'runtime error:' "$log"; then kind="undefined behaviour"
        elif grep -q 'check failed:' "$log"; then kind="failed check"
        else kind="crash"
        fi
        input=$(grep -o 'Test unit written to [^ ]*' "$log" | tail -n 1 | sed 's/^Test unit written to //')
        result="FAILED: $kind, input ${input:-not written}, log $log"
    fi
    echo "$target: $executions executions, $result"
done

echo "work folder: $work"
exit $failed
