#!/bin/sh
# What zmod4710-sim timeline costs beside awk reading the same trace: a trace of
# LINES lines (default 1,000,000) of 64 channels, nine writes in ten, the rest
# calibrations read and refusals, is made, then each format converts it to
# /dev/null, and awk '{print $1}' reads it, five times each; the least of each
# and its ratio to awk's are printed, with the picture's size.
#
#   timeline_bench.sh ZMOD4710_SIM [LINES]
set -eu
sim=$1
lines=${2:-1000000}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

awk -v lines="$lines" 'BEGIN {
    srand(1)
    print "2026-12-10T06:00:00.000000Z 100 ! time zero 2026-12-10T06:00:00.000000Z"
    for (i = 0; i < lines; i++) {
        s = int(i / 1000); time = sprintf("2026-12-%02dT%02d:%02d:%02d.%03d000Z", 10 + int(s / 86400),
            int(s / 3600) % 24, int(s / 60) % 60, s % 60, i % 1000)
        slot = int(rand() * 8); channel = int(rand() * 8); r = rand()
        if (r < 0.9)
            printf "%s 100 zmod4710_WriteAO(%d, %d, 1, %g) = 0\n", time, slot, channel, int(rand() * 1000) / 100
        else if (r < 0.97)
            printf "%s 100 zmod4710_ReadAO_GainOffset(%d, %d, 1) = 0, gain 32768, offset 0\n", time, slot, channel
        else
            printf "%s 100 zmod4710_WriteAO(%d, %d, 1, 3) = -4 (refused on request)\n", time, slot, channel
    }
}' >"$work/trace.txt"

# The least of five runs of a command, in seconds.
least() {
    best=
    for run in 1 2 3 4 5; do
        start=$(date +%s%N)
        "$@" >/dev/null
        took=$((($(date +%s%N) - start) / 1000000))
        [ -n "$best" ] && [ "$best" -le "$took" ] || best=$took
    done
    echo "$best"
}

awk_ms=$(least awk '{print $1}' "$work/trace.txt")
echo "awk '{print \$1}': $awk_ms ms for $lines lines"
for format in csv jsonl vcd summary svg; do
    took=$(least "$sim" timeline --format "$format" "$work/trace.txt")
    echo "timeline --format $format: $took ms, $(awk -v a="$took" -v b="$awk_ms" 'BEGIN { printf "%.1f", a / b }')x awk"
done
"$sim" timeline --format svg "$work/trace.txt" >"$work/picture.svg"
echo "the picture: $(wc -c <"$work/picture.svg") bytes"
