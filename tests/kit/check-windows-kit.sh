#!/bin/sh
# The ZIP for Windows desktops that `cpack -G ZIP` makes in this build, proved
# from the ZIP alone, unpacked into a folder whose name holds a blank, in two
# steps. "files" runs no Windows program: what the ZIP holds; a DLL that
# exports the eight functions, and programs that import no DLL of the
# compiler's run time, all made for the ZIP's machine; a C program compiled as
# MSVC 9 compiles it and linked with lld-link against lib/zmod4710.lib, by hand
# and through find_package in a CMake project set up as MSVC's; and examples/
# built with MinGW through the same CMake package. "run", after it: those
# programs run under wine, the ZIP's own zmod4710-sim.exe shows what they did,
# and ctest runs the example's tests under wine; where RUN_UNDER_WINE skips
# (77), so does this.
#
#   check-windows-kit.sh files|run BUILD_DIR SOURCE_DIR WORK_DIR x64|x86 RUN_UNDER_WINE MINGW_CC
set -eu
step=$1 build=$2 source=$3 work=$4 architecture=$5 run=$6 mingw_cc=$7
case $architecture in
x64) target=x86_64-pc-windows-msvc processor=AMD64 objdump=x86_64-w64-mingw32-objdump
     format=pei-x86-64 ;;
x86) target=i686-pc-windows-msvc processor=X86 objdump=i686-w64-mingw32-objdump format=pei-i386 ;;
*) echo "no such architecture: $architecture" >&2; exit 2 ;;
esac
clang_cl=$(command -v clang-cl || command -v clang-cl-14)
fail() {
    echo "$*" >&2
    exit 1
}

# A binary made for the ZIP's machine.
check_machine() {
    "$objdump" -f "$1" | grep -q "file format $format\$" ||
        fail "$1 is not made for $architecture: $("$objdump" -f "$1" | grep 'file format')"
}

# Runs a program of the ZIP under wine, on the backplane of this check.
run_windows() {
    status=0
    ZMOD4710_SIM_STATE="Z:$work/state/backplane.json" "$run" "$@" > "$work/run.txt" || status=$?
    if [ $status -eq 77 ]; then
        cat "$work/run.txt"
        exit 77
    fi
    [ $status -eq 0 ] || fail "$1 failed: $(cat "$work/run.txt")"
}

if [ "$step" = run ]; then
    name=$(basename "$(ls "$work"/package/zmod4710-sim-*-windows-"$architecture".zip)" .zip)
    kit="$work/unpacked here/$name"
    # Each beside the ZIP's DLL: copied by hand for the programs built by hand
    # and with the test's own project, by examples/' build for its own.
    for program in by-hand/program.exe with-cmake/program.exe example/drive_channel.exe; do
        case $program in
        example/*) ;;
        *) cp "$kit/bin/zmod4710.dll" "$(dirname "$work/$program")" ;;
        esac
        run_windows "$work/$program"
    done
    printed=$(tr -d '\r' < "$work/run.txt")
    [ "$printed" = "slot 0 channel 0: 12 mA, gain 32632, offset 13" ] || fail "the example printed: $printed"
    run_windows "$kit/bin/zmod4710-sim.exe" show --json
    shown=$(tr -d ' \r\n' < "$work/run.txt")
    for channel in '"channel":0,"range":4,"output":12.0' '"channel":2,"range":4,"output":16.0' \
        '"channel":3,"range":4,"output":16.0'; do
        case $shown in
        *"$channel"*) ;;
        *) fail "the module does not hold $channel: $shown" ;;
        esac
    done
    # watch with its output a file: a line for each change another program makes.
    ZMOD4710_SIM_STATE="Z:$work/state/backplane.json" "$run" "$kit/bin/zmod4710-sim.exe" watch \
        > "$work/watch.txt" 2>&1 &
    watcher=$!
    logged() {
        tries=0
        until grep -qF -- "$1" "$work/watch.txt"; do
            tries=$((tries + 1))
            [ $tries -le 300 ] || { kill $watcher; fail "watch on Windows: $(cat "$work/watch.txt")"; }
            sleep 0.1
        done
    }
    logged "refusals pending: none"
    run_windows "$kit/bin/zmod4710-sim.exe" insert 6 --module ZM-4704
    logged "slot 6: ZM-4704, firmware 3"
    kill $watcher
    wait $watcher || true
    # The example's tests, with ctest, each program under wine: the C test on
    # the control interface, drive_channel and ao_power_on as processes.
    ctest --test-dir "$work/example" --output-on-failure > "$work/example-tests.log" 2>&1 ||
        fail "the example's tests failed: $(cat "$work/example-tests.log")"
    grep -q "100% tests passed, 0 tests failed out of 3" "$work/example-tests.log" ||
        fail "the example's tests: $(cat "$work/example-tests.log")"
    echo "$name.zip: MSVC-built programs, the example and its tests run from it"
    exit 0
fi

rm -rf "$work"
mkdir -p "$work/unpacked here"
(cd "$build" && cpack -G ZIP -B "$work/package" > "$work/cpack.log")
zip=$(ls "$work"/package/zmod4710-sim-*-windows-"$architecture".zip)
name=$(basename "$zip" .zip)
(cd "$work/unpacked here" && cmake -E tar xf "$zip")
kit="$work/unpacked here/$name"

# One folder of the ZIP's name, holding these files and no others.
(cd "$work/unpacked here" && find . -type f | sort) > "$work/files"
sort > "$work/expected" <<FILES
./$name/README.txt
./$name/bin/ao_basic_info.exe
./$name/bin/ao_loop_check.exe
./$name/bin/ao_power_on.exe
./$name/bin/zmod4710-sim.exe
./$name/bin/zmod4710.dll
./$name/doc/ao_basic_info.1.html
./$name/doc/ao_loop_check.1.html
./$name/doc/ao_power_on.1.html
./$name/doc/zmod4710-sim.1.html
./$name/doc/zmod4710.3.html
./$name/doc/zmod4710_sim.3.html
./$name/examples/CMakeLists.txt
./$name/examples/ao_power_on_test.c
./$name/examples/drive_channel.c
./$name/examples/drive_channel.h
./$name/examples/drive_channel.py
./$name/examples/drive_channel_cases.h
./$name/examples/drive_channel_program_test.cmake
./$name/examples/drive_channel_test.c
./$name/examples/drive_channel_test.cpp
./$name/examples/main.c
./$name/examples/test_drive_channel.py
./$name/include/zmod4710.h
./$name/include/zmod4710_sim.h
./$name/python/zmod4710_sim.py
./$name/lib/cmake/zmod4710/zmod4710-targets-relwithdebinfo.cmake
./$name/lib/cmake/zmod4710/zmod4710-targets.cmake
./$name/share/zmod4710-sim/backplane.schema.json
./$name/share/zmod4710-sim/timeline.schema.json
./$name/lib/cmake/zmod4710/zmod4710Config.cmake
./$name/lib/cmake/zmod4710/zmod4710ConfigVersion.cmake
./$name/lib/zmod4710.dll.a
./$name/lib/zmod4710.lib
FILES
cmp -s "$work/files" "$work/expected" || {
    diff "$work/expected" "$work/files" >&2
    fail "the ZIP holds other files than it should"
}

# The DLL exports exactly the functions that the headers declare, undecorated:
# the eight of zmod4710.h and the control interface of zmod4710_sim.h; and no
# binary imports a DLL of the compiler's run time.
"$objdump" -p "$kit/bin/zmod4710.dll" | sed -n '/Ordinal\/Name Pointer/,/^$/p' |
    awk '/\[ *[0-9]+\]/ { print $NF }' | sort > "$work/exports"
sed -n 's/.*ZMOD4710_CALL \(zmod4710_[A-Za-z_]*\)(.*/\1/p' "$kit/include/zmod4710.h" \
    "$kit/include/zmod4710_sim.h" | sort > "$work/declared"
[ "$(wc -l < "$work/declared")" -eq 32 ] || fail "the headers declare: $(cat "$work/declared")"
cmp -s "$work/exports" "$work/declared" || fail "zmod4710.dll exports: $(cat "$work/exports")"
for binary in "$kit"/bin/*; do
    imports=$("$objdump" -p "$binary" | awk '/DLL Name:/ { print $3 }')
    case $(echo "$imports" | tr 'A-Z' 'a-z') in
    *libstdc* | *libgcc* | *libwinpthread*) fail "$binary imports the compiler's run time: $imports" ;;
    esac
    check_machine "$binary"
done

# program.c as MSVC 9 compiles it, C89 and no C run time, linked by hand.
mkdir -p "$work/by-hand"
clang --target="$target" -fms-compatibility-version=15.00 -std=c89 -pedantic -Wall -Werror \
    -ffreestanding -nostdinc -DCHANNEL=2 -I "$kit/include" \
    -c "$source/tests/kit/windows/program.c" -o "$work/by-hand/program.obj"
lld-link /nologo /entry:program /subsystem:console /nodefaultlib \
    /out:"$work/by-hand/program.exe" "$work/by-hand/program.obj" "$kit/lib/zmod4710.lib"
check_machine "$work/by-hand/program.exe"

# The same through find_package, in a CMake project set up as MSVC's.
cmake -S "$source/tests/kit/windows" -B "$work/with-cmake" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_SYSTEM_NAME=Windows -DCMAKE_SYSTEM_PROCESSOR="$processor" \
    -DCMAKE_C_COMPILER="$clang_cl" -DCMAKE_C_COMPILER_TARGET="$target" \
    -DCMAKE_LINKER=lld-link -DCMAKE_MT=llvm-mt -DCMAKE_RC_COMPILER=llvm-rc \
    -DCMAKE_TRY_COMPILE_TARGET_TYPE=STATIC_LIBRARY -DCMAKE_C_STANDARD_LIBRARIES= \
    -DCMAKE_PREFIX_PATH="$kit" > "$work/with-cmake.log"
cmake --build "$work/with-cmake" >> "$work/with-cmake.log"
grep -q 'zmod4710\.lib' "$work/with-cmake/build.ninja" || fail "the CMake project does not link zmod4710.lib"

# examples/ with MinGW, through the ZIP's CMake package.
cmake -S "$kit/examples" -B "$work/example" -G Ninja -DCMAKE_SYSTEM_NAME=Windows \
    -DCMAKE_C_COMPILER="$mingw_cc" -DCMAKE_PREFIX_PATH="$kit" -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON \
    -DCMAKE_CROSSCOMPILING_EMULATOR="$run" > "$work/example.log"
cmake --build "$work/example" >> "$work/example.log"
for program in with-cmake/program.exe example/drive_channel.exe example/drive_channel_test.exe \
    example/ao_power_on_test.exe; do
    check_machine "$work/$program"
done
[ -f "$work/example/zmod4710.dll" ] || fail "examples/ did not put the DLL beside its programs"

echo "$name.zip: $(wc -l < "$work/files") files, each made for $architecture; MSVC-built programs and the example built from it"
