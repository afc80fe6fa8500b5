#!/bin/sh
# Builds the libFuzzer targets of fuzz/ with clang (ASan + UBSan) in build/fuzz and runs each
# for a bounded time, starting from its seed corpus in fuzz/corpus/<target>. Any finding
# (a crash, a sanitizer report, a broken round trip) fails the script; the input that
# found it is kept in build/fuzz/findings/<target>/.
#
#   scripts/fuzz.sh            each target for 30 s (CI)
#   FUZZ_SECONDS=600 scripts/fuzz.sh   longer, by hand (make fuzz)
#   scripts/fuzz.sh host_log   one target
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build/fuzz"
seconds=${FUZZ_SECONDS:-30}
targets=${*:-"config_files tab_names host_log icmp_reply smtp_reply metrics_text"}

CXX=${FUZZ_CXX:-$(command -v clang++-14 || command -v clang++)}
cmake -S "$root/fuzz" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER="$CXX" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "${JOBS:-2}"

# The targets write their files for every input, and the configuration files are synced
# to disk: a memory file system keeps that cheap.
if [ -d /dev/shm ] && [ -w /dev/shm ]; then
    scratch=$(mktemp -d /dev/shm/qv-fuzz.XXXXXX)
else
    scratch=$(mktemp -d)
fi
trap 'rm -rf "$scratch"' EXIT
export TMPDIR="$scratch"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:${ASAN_OPTIONS:-}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:${UBSAN_OPTIONS:-}"

failed=""
for target in $targets; do
    corpus="$build/corpus/$target"
    findings="$build/findings/$target"
    mkdir -p "$corpus" "$findings"
    echo "== $target: $seconds s"
    # New inputs go to the working corpus; the seeds in the repository stay as they are.
    if ! "$build/${target}_fuzz" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -max_len=8192 -print_final_stats=1 -artifact_prefix="$findings/" \
        "$corpus" "$root/fuzz/corpus/$target" 2>"$build/$target.log"; then
        tail -n 40 "$build/$target.log"
        failed="$failed $target"
    else
        grep -E '^stat::number_of_executed_units|^Done' "$build/$target.log" || true
    fi
done

if [ -n "$failed" ]; then
    echo "fuzz findings in:$failed (inputs in $build/findings/)" >&2
    exit 1
fi
echo "fuzz: no findings"
