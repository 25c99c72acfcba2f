#!/bin/sh
# lib.exe's making of an import library, for 32-bit x86: see lib-by-llvm-dlltool.sh.
exec sh "$(dirname "$0")/lib-by-llvm-dlltool.sh" i386 "$@"
