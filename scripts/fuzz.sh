#!/usr/bin/env bash
# Builds the libFuzzer targets with clang into build-fuzz/ (or $BUILD_DIR) and runs
# each for the given number of seconds (default 60), one after another at the lowest
# priority, then prints each target's executions and result.
#   scripts/fuzz.sh [--no-build] [seconds] [target...]
# Targets are the names in fuzz/CMakeLists.txt (ringbuffer, channelfile, ...); all
# by default. Each starts from its seed corpus in fuzz/corpus/<name>/ and from what
# earlier runs found in build-fuzz/corpus/<name>/; a failing input is written to
# build-fuzz/artifacts/ and can be replayed with build-fuzz/fuzz/fuzz_<name> <file>.
set -uo pipefail
cd "$(dirname "$0")/.."
build_dir=${BUILD_DIR:-build-fuzz}
build=1
if [ "${1:-}" = "--no-build" ]; then
    build=0
    shift
fi
seconds=${1:-60}
shift $(($# > 0 ? 1 : 0))
if ! [[ $seconds =~ ^[0-9]+$ ]]; then
    echo "usage: scripts/fuzz.sh [--no-build] [seconds] [target...]" >&2
    exit 2
fi
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    mapfile -t targets < <(sed -n 's/^ *eg_add_fuzzer(\([A-Za-z0-9_]*\)).*/\1/p' fuzz/CMakeLists.txt)
fi

if [ "$build" -eq 1 ]; then
    if ! command -v clang++ >/dev/null || ! ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1; then
        echo "The fuzz build needs clang and its sanitizer runtimes: sudo apt-get install clang libclang-rt-14-dev" >&2
        exit 1
    fi
    cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
        -DEG_FUZZ=ON -DBUILD_TESTING=OFF >/dev/null || exit 1
    cmake --build "$build_dir" -j2 $(printf -- '--target fuzz_%s ' "${targets[@]}") || exit 1
fi

mkdir -p "$build_dir/artifacts"
failed=0
summary=()
for name in "${targets[@]}"; do
    program="$build_dir/fuzz/fuzz_$name"
    if [ ! -x "$program" ]; then
        summary+=("fuzz_$name: not built")
        failed=1
        continue
    fi
    corpus="$build_dir/corpus/$name"
    mkdir -p "$corpus"
    seeds=()
    [ -d "fuzz/corpus/$name" ] && seeds=("fuzz/corpus/$name")
    log="$build_dir/artifacts/fuzz_$name.log"
    echo "fuzz_$name: running for $seconds s (log in $log)"
    # New inputs go to the first folder only, so the seed corpus stays as it is kept.
    nice -n 19 "$program" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
        -artifact_prefix="$build_dir/artifacts/${name}-" "$corpus" "${seeds[@]}" >"$log" 2>&1
    rc=$?
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    if [ -z "$runs" ]; then
        runs=$(grep -o '^#[0-9]*' "$log" | tail -1 | tr -d '#')
    fi
    if [ $rc -eq 0 ]; then
        result="in $seconds s: no crash, no report"
    else
        failed=1
        artifact=$(sed -n "s/.*Test unit written to //p" "$log" | tail -1)
        result="before it FAILED (exit $rc)${artifact:+, input in $artifact}"
        grep -v "^stat::" "$log" | grep -m3 -E "runtime error|ERROR: [A-Za-z]+Sanitizer|ERROR: libFuzzer|^[a-z ]+(:| differs)" | sed 's/^/    /'
    fi
    summary+=("fuzz_$name: ${runs:-0} executions $result")
done
printf '%s\n' "${summary[@]}"
exit $failed
