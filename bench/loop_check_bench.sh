#!/bin/sh
# What ao_loop_check costs beside a plain C program with the same dialogue and
# the same calls (loop_check_plain): both run a whole check on the same input,
# with a few answers asked again, on the same module library, and must show the
# same; then valgrind counts each one's instructions (callgrind) and heap
# allocations (memcheck), from the first instruction to the exit.
#
#   loop_check_bench.sh AO_LOOP_CHECK LOOP_CHECK_PLAIN [LIBRARY_DIR]
#
# LIBRARY_DIR is a folder holding the module library to run both on (such as
# the stand-in vendor library's, whose calls cost next to nothing); without it,
# the simulated library with a backplane in memory. Needs valgrind (apt-get
# install valgrind).
set -eu
tool=$1
plain=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
if [ $# -ge 3 ]; then
    LD_LIBRARY_PATH=$3
    export LD_LIBRARY_PATH
fi
ZMOD4710_SIM_STATE=:memory:
export ZMOD4710_SIM_STATE

printf '4\n1 junk\n0.25 %%\n\n4.000\n8.024 mA\n8.024\n12,048\n12.048\n16.072\n20.10\n16.072\n12.048\n8.024\n4.000\n12\n' >"$work/typed"
"$tool" <"$work/typed" >"$work/tool.out"
"$plain" <"$work/typed" >"$work/plain.out"
cmp -s "$work/tool.out" "$work/plain.out" || {
    diff "$work/plain.out" "$work/tool.out" >&2
    echo "loop_check_bench: the two programs show different things" >&2
    exit 1
}

# Instructions, and allocations with the bytes they asked for.
instructions() {
    valgrind --tool=callgrind --callgrind-out-file="$work/callgrind.out" "$1" <"$work/typed" \
        2>&1 >/dev/null | sed -n 's/.*Collected : \([0-9]*\)/\1/p'
}
allocations() {
    valgrind --tool=memcheck "$1" <"$work/typed" 2>&1 >/dev/null |
        sed -n 's/.*total heap usage: \([0-9,]*\) allocs, [0-9,]* frees, \([0-9,]*\) bytes.*/\1 allocations, \2 bytes/p'
}
for program in "$plain" "$tool"; do
    printf '%s: %s instructions, %s\n' "$(basename "$program")" "$(instructions "$program")" \
        "$(allocations "$program")"
done
