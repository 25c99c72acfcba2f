#!/bin/sh
# The kit as its users take it: installed from this build, moved elsewhere, then
# examples/ built out of tree against it with find_package and with
# pkg-config, each program run against a simulated module of its own and
# checked by what `zmod4710-sim show --json` shows afterwards; and the
# example's own tests, in plain C and with GoogleTest, on the control interface,
# and ao_power_on run as a process by a test; and the Python module's pytest
# example from the prefix.
#
#   example-against-installed-kit.sh BUILD_DIR SOURCE_DIR WORK_DIR
set -eu
build=$1 source=$2 work=$3
rm -rf "$work"
mkdir -p "$work"
cmake --install "$build" --prefix "$work/installed" > "$work/install.log"
mv "$work/installed" "$work/moved"
kit=$work/moved
libdir=$(dirname "$(find "$kit" -name 'libzmod4710.so' | head -n 1)")

# Runs the example built as $1 on a backplane of its own, whose module is in
# slot 3, and checks what it printed and what the module then holds. The
# program finds the library by itself, through the run path it was linked with.
check_example() {
    state=$work/state-$(basename "$1")/backplane.json
    ZMOD4710_SIM_STATE=$state "$kit/bin/zmod4710-sim" insert 3 > /dev/null
    ZMOD4710_SIM_STATE=$state "$kit/bin/zmod4710-sim" remove 0 > /dev/null
    printed=$(env -u LD_LIBRARY_PATH ZMOD4710_SIM_STATE="$state" "$1")
    expected="slot 3 channel 0: 12 mA, gain 32632, offset 13"
    if [ "$printed" != "$expected" ]; then
        echo "$1 printed: $printed; expected: $expected" >&2
        exit 1
    fi
    shown=$(ZMOD4710_SIM_STATE=$state "$kit/bin/zmod4710-sim" show --json | tr -d ' \n')
    case $shown in
    '{"slots":[{"slot":3,"module":"ZM-4710","firmware":3,"power_on_mode":1,"channels":[{"channel":0,"range":4,"output":12.0,"power_on_range":0,"power_on_value":0.0,'*) ;;
    *)
        echo "$1: the module does not hold 12 mA in range 4 on channel 0: $shown" >&2
        exit 1
        ;;
    esac
    # A refusal is told: no module anywhere.
    ZMOD4710_SIM_STATE=$state "$kit/bin/zmod4710-sim" remove 3 > /dev/null
    if env -u LD_LIBRARY_PATH ZMOD4710_SIM_STATE="$state" "$1" 2> "$work/refused.txt"; then
        echo "$1 succeeded without a module" >&2
        exit 1
    fi
    grep -q "no analog-output module" "$work/refused.txt"
}

cmake -S "$source/examples" -B "$work/with-cmake" -DCMAKE_PREFIX_PATH="$kit" \
    -DCMAKE_C_FLAGS="-Wall -Wextra -Werror" > "$work/configure.log"
cmake --build "$work/with-cmake" > "$work/build.log"
check_example "$work/with-cmake/drive_channel"
[ -x "$work/with-cmake/drive_channel_gtest" ] || {
    echo "the example's GoogleTest cases were not built" >&2
    exit 1
}
ctest --test-dir "$work/with-cmake" --output-on-failure > "$work/tests.log" || {
    cat "$work/tests.log" >&2
    exit 1
}
grep -q "100% tests passed, 0 tests failed out of 4" "$work/tests.log" || {
    cat "$work/tests.log" >&2
    exit 1
}

# The Python module from the prefix's lib/python3/dist-packages, which finds
# the library in the prefix's own library folder.
env -u LD_LIBRARY_PATH -u ZMOD4710_LIBRARY PYTHONDONTWRITEBYTECODE=1 \
    PYTHONPATH="$kit/lib/python3/dist-packages:$source/examples" \
    /usr/bin/python3 -m pytest -q -p no:cacheprovider "$source/examples/test_drive_channel.py" \
    > "$work/pytest.log" 2>&1 || {
    cat "$work/pytest.log" >&2
    exit 1
}

PKG_CONFIG_PATH=$libdir/pkgconfig
export PKG_CONFIG_PATH
# shellcheck disable=SC2046 # the flags are words
cc -Wall -Wextra -Werror -o "$work/with-pkg-config" "$source/examples/main.c" \
    "$source/examples/drive_channel.c" $(pkg-config --cflags --libs zmod4710) \
    -Wl,-rpath,"$(pkg-config --variable=libdir zmod4710)"
check_example "$work/with-pkg-config"
echo "the example builds with find_package and with pkg-config against the moved kit, and runs;" \
    "its tests pass, and the Python one: $(tail -n 1 "$work/pytest.log")"
