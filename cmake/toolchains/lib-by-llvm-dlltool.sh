#!/bin/sh
# Makes an import library that MSVC's linker takes from a .def file, as lib.exe
# does when CMake's GNUtoMS calls it (/def:FILE /name:DLL /out:LIB), with
# llvm-dlltool for MACHINE (i386:x86-64 or i386).
#
#   lib-by-llvm-dlltool.sh MACHINE /def:FILE /name:DLL /out:LIB
set -eu
machine=$1
shift
for argument; do
    case $argument in
    /def:*) def=${argument#/def:} ;;
    /name:*) name=${argument#/name:} ;;
    /out:*) out=${argument#/out:} ;;
    esac
done
exec llvm-dlltool -m "$machine" -d "$def" -D "$name" -l "$out"
