#!/bin/sh
# lib.exe's making of an import library, for x86-64: see lib-by-llvm-dlltool.sh.
exec sh "$(dirname "$0")/lib-by-llvm-dlltool.sh" i386:x86-64 "$@"
