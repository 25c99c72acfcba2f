#!/bin/sh
# Whether this machine's kernel runs 32-bit x86 programs: some run them, others
# (built without IA-32 emulation, or booted with ia32_emulation=false) refuse
# every one with "Exec format error". Tries the smallest such program there
# is, 93 bytes that need no library and exit with status 42 at once. Exits 0
# when it ran, 1 when it did not.
#
#   runs-32bit-programs.sh
set -u
folder=$(mktemp -d) || exit 1
trap 'rm -rf "$folder"' EXIT
# An ELF header for i386, one loadable segment, and: mov eax, 1; mov bl, 42; int 0x80
printf '\177\105\114\106\001\001\001\000\000\000\000\000\000\000\000\000\002\000\003\000\001\000\000\000\124\200\004\010\064\000\000\000\000\000\000\000\000\000\000\000\064\000\040\000\001\000\000\000\000\000\000\000\001\000\000\000\000\000\000\000\000\200\004\010\000\200\004\010\135\000\000\000\135\000\000\000\005\000\000\000\000\020\000\000\270\001\000\000\000\263\052\315\200' > "$folder/probe"
chmod 700 "$folder/probe"
"$folder/probe" 2>/dev/null
[ $? -eq 42 ]
