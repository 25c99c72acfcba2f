#!/bin/sh
# Runs one fuzz target for longer than the test suite does, keeping what it finds
# in the build's corpus, and any input that breaks a rule in build/fuzz/tests/fuzz/artifacts.
#
#   scripts/fuzz.sh power_on|basic_info|loop_check|state_reader [SECONDS] [more libFuzzer options]
set -eu
cd "$(dirname "$0")/.."
target=${1:?"which target: power_on, basic_info, loop_check or state_reader"}
seconds=${2:-600}
[ $# -ge 2 ] && shift 2 || shift $#

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target "fuzz_$target"
dictionary=""
[ "$target" = state_reader ] && dictionary="-dict=tests/fuzz/state_file.dict"
mkdir -p "build/fuzz/tests/fuzz/corpus/$target" build/fuzz/tests/fuzz/artifacts
exec "build/fuzz/bin/fuzz_$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="build/fuzz/tests/fuzz/artifacts/$target-" \
    $dictionary "$@" "build/fuzz/tests/fuzz/corpus/$target" "tests/fuzz/corpus/$target"
