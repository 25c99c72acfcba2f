#!/bin/sh
# Compiler launcher of the controller presets:
#
#   cxx03-only.sh PROJECT_DIR COMPILER ARGUMENTS...
#
# runs the compile it is given, but refuses one of the project's sources that is
# compiled as anything but C++98 or C++03, as the controller's compiler knows
# nothing newer. No -std= at all is refused too: the compiler's default is newer.
root=$1
shift
standard=""
source=""
for argument in "$@"; do
    case $argument in
    -std=*) standard=${argument#-std=} ;;
    "$root"/*.cpp | "$root"/*.cc | "$root"/*.cxx) source=$argument ;;
    esac
done
if [ -n "$source" ]; then
    case $standard in
    c++98 | c++03 | gnu++98 | gnu++03) ;;
    *)
        echo "cxx03-only: $source is compiled as ${standard:-the compiler's default}; the controller's compiler has nothing newer than C++03" >&2
        exit 1
        ;;
    esac
fi
exec "$@"
