#!/usr/bin/env bash
# Builds the libFuzzer targets with clang under AddressSanitizer and UBSan
# and runs each for SECONDS (60 unless given), one after the other, starting
# from its committed corpus in tests/fuzz/corpus/TARGET. Prints each target's
# execution count; exits non-zero when any target found a crash, a sanitizer
# report, a leak or a time-out, whose input is kept in build-fuzz/findings/.
#
#   ./scripts/fuzz.sh 60          # every target for a minute
#   ./scripts/fuzz.sh 1800 fuzz_hexrecords   # one target for half an hour
#   FUZZ_RUNS=10000000 ./scripts/fuzz.sh 1800  # each until ten million runs or half an hour
#
# Installs clang and its fuzzer runtime with apt-get when they are missing.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(fuzz_hexfile fuzz_hexrecords fuzz_config fuzz_statefile fuzz_portoption fuzz_stk500)
case $seconds in '' | *[!0-9]*) echo "usage: $0 [SECONDS] [TARGET...]" >&2; exit 2 ;; esac
runs_limit=${FUZZ_RUNS:--1}     # -1: no limit on executions, only on time
case $runs_limit in -1 | [0-9]*) ;; *) echo "FUZZ_RUNS must be a number" >&2; exit 2 ;; esac

. scripts/packages.sh

# clang with its libFuzzer runtime: a program made with -fsanitize=fuzzer links.
fuzzer_links() {
    command -v clang++ >/dev/null || return 1
    local probe
    probe=$(mktemp -d)
    printf '%s\n' '#include <cstdint>' '#include <cstddef>' \
        'extern "C" int LLVMFuzzerTestOneInput(const uint8_t*, size_t) { return 0; }' >"$probe/probe.cpp"
    clang++ -fsanitize=fuzzer,address,undefined "$probe/probe.cpp" -o "$probe/probe" 2>/dev/null
    local ok=$?
    rm -rf "$probe"
    return $ok
}
if ! fuzzer_links; then
    QVX_PACKAGES=(clang libclang-rt-dev cmake make)
    install_missing_packages
    fuzzer_links || { echo "clang cannot link libFuzzer programs (package libclang-rt-dev?)" >&2; exit 2; }
fi

build=build-fuzz
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S . -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DQVX_FUZZ=ON -DQVX_BUILD_UI=OFF -DQVX_BUILD_BENCH=OFF "${launcher[@]}" >/dev/null
cmake --build "$build" -j 2 --target "${targets[@]}"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:symbolize=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

failed=0
summary=()
for target in "${targets[@]}"; do
    seeds=tests/fuzz/corpus/$target
    work=$build/corpus/$target      # grows while fuzzing; the committed seeds stay as they are
    findings=$build/findings/$target
    log=$build/$target.log
    mkdir -p "$work" "$findings"
    echo "== $target: ${seconds}s"
    set +e
    "$build/tests/$target" -max_total_time="$seconds" -runs="$runs_limit" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$findings/" "$work" "$seeds" >"$log" 2>&1
    status=$?
    set -e
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    [ -n "$runs" ] || runs=$(grep -o '#[0-9]*' "$log" | tail -1 | tr -d '#')
    if [ $status -eq 0 ]; then
        result="no finding"
    else
        result="FINDING (exit $status), see $log and $findings/"
        failed=1
        grep -E "ERROR:|runtime error|SUMMARY|Test unit written" "$log" | head -5 || true
    fi
    summary+=("$(printf '%-16s %12s executions  %s' "$target" "${runs:-?}" "$result")")
done

echo
echo "Fuzzing, ${seconds}s per target:"
printf '%s\n' "${summary[@]}"
exit $failed
