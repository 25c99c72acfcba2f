#!/bin/sh
# `cpack -G DEB` in this build makes one package that holds the programs, the
# library, the headers, the CMake and pkg-config files, the manual pages and
# what Debian asks of a package, depends on what they load, whose programs,
# unpacked, find the library in the package's own library folder, and which
# Debian's checker, lintian, accepts where the machine has it. Its Python
# module lies where Debian's python3 looks, and the example's pytest test passes
# on it, unpacked.
#
#   check-debian-package.sh BUILD_DIR WORK_DIR LIBDIR SOURCE_DIR
set -eu
build=$1 work=$2 libdir=$3 source=$4
rm -rf "$work"
mkdir -p "$work"
(cd "$build" && cpack -G DEB -B "$work" > "$work/cpack.log")
package=$(ls "$work"/zmod4710-sim_*.deb)

# The build type names one of the CMake package's files.
dpkg-deb -c "$package" | awk '{ print $6 }' | grep -v '/$' |
    sed 's/zmod4710-targets-[a-z]*\.cmake$/zmod4710-targets-CONFIG.cmake/' | sort > "$work/files"
cat > "$work/expected" <<FILES
./usr/bin/ao_basic_info
./usr/bin/ao_loop_check
./usr/bin/ao_power_on
./usr/bin/zmod4710-sim
./usr/include/zmod4710.h
./usr/include/zmod4710_sim.h
./usr/lib/python3/dist-packages/zmod4710_sim.py
./usr/$libdir/cmake/zmod4710/zmod4710-targets-CONFIG.cmake
./usr/$libdir/cmake/zmod4710/zmod4710-targets.cmake
./usr/$libdir/cmake/zmod4710/zmod4710Config.cmake
./usr/$libdir/cmake/zmod4710/zmod4710ConfigVersion.cmake
./usr/$libdir/libzmod4710.so
./usr/$libdir/pkgconfig/zmod4710.pc
./usr/share/doc/zmod4710-sim/changelog.gz
./usr/share/doc/zmod4710-sim/copyright
./usr/share/lintian/overrides/zmod4710-sim
./usr/share/zmod4710-sim/backplane.schema.json
./usr/share/zmod4710-sim/timeline.schema.json
./usr/share/man/man1/ao_basic_info.1.gz
./usr/share/man/man1/ao_loop_check.1.gz
./usr/share/man/man1/ao_power_on.1.gz
./usr/share/man/man1/zmod4710-sim.1.gz
./usr/share/man/man3/zmod4710.3.gz
./usr/share/man/man3/zmod4710_sim.3.gz
FILES
sort -o "$work/expected" "$work/expected"
if ! cmp -s "$work/files" "$work/expected"; then
    echo "the package holds other files than it should:" >&2
    diff "$work/expected" "$work/files" >&2
    exit 1
fi

depends=$(dpkg-deb -f "$package" Depends)
case $depends in
*python3:any*libc6*libstdc++6* | *libc6*libstdc++6*python3:any*) ;;
*)
    echo "Depends is not computed from what the programs load: $depends" >&2
    exit 1
    ;;
esac

# Unpacked anywhere, the programs load the package's own library.
dpkg-deb -x "$package" "$work/root"
state=$work/state/backplane.json
env -u LD_LIBRARY_PATH ZMOD4710_SIM_STATE="$state" "$work/root/usr/bin/zmod4710-sim" insert 2 --module ZM-4704 > /dev/null
shown=$(printf '9\n' | env -u LD_LIBRARY_PATH ZMOD4710_SIM_STATE="$state" "$work/root/usr/bin/ao_power_on" | head -n 1)
if [ "$shown" != "ZM-4710 on slot 0 " ]; then
    echo "the unpacked ao_power_on showed: $shown" >&2
    exit 1
fi
loaded=$(env -u LD_LIBRARY_PATH LD_TRACE_LOADED_OBJECTS=1 "$work/root/usr/bin/ao_basic_info" | grep libzmod4710)
case $loaded in
*"$work/root/usr/bin/../$libdir/libzmod4710.so"*) ;;
*)
    echo "ao_basic_info loads the module library from elsewhere: $loaded" >&2
    exit 1
    ;;
esac
# The Python module, where Debian's python3 finds it without PYTHONPATH once the
# package is installed; unpacked here, it is named, and finds the package's own
# library from where it lies.
python=/usr/bin/python3 # Debian's, which python3-pytest installs for
"$python" -c 'import sys; sys.exit("/usr/lib/python3/dist-packages" not in sys.path)' ||
    { echo "Debian's python3 does not look in /usr/lib/python3/dist-packages" >&2; exit 1; }
env -u LD_LIBRARY_PATH -u ZMOD4710_LIBRARY PYTHONDONTWRITEBYTECODE=1 \
    PYTHONPATH="$work/root/usr/lib/python3/dist-packages:$source/examples" \
    "$python" -m pytest -q -p no:cacheprovider "$source/examples/test_drive_channel.py" \
    > "$work/pytest.log" 2>&1 || { cat "$work/pytest.log" >&2; exit 1; }
env -u LD_LIBRARY_PATH PYTHONPATH="$work/root/usr/lib/python3/dist-packages" \
    "$python" -c 'import zmod4710_sim; print(zmod4710_sim.library._name)' > "$work/python-library.txt"
[ "$(cat "$work/python-library.txt")" = "$work/root/usr/$libdir/libzmod4710.so" ] ||
    { echo "the Python module loads $(cat "$work/python-library.txt")" >&2; exit 1; }

# ldconfig is run by a trigger, and no maintainer script is left to run at removal.
control=$work/control
dpkg-deb -e "$package" "$control"
if [ "$(cat "$control/triggers")" != "activate-noawait ldconfig" ] ||
    ls "$control" | grep -q -e preinst -e postinst -e prerm -e postrm; then
    echo "the package runs ldconfig otherwise than by its trigger: $(ls "$control")" >&2
    exit 1
fi

if command -v lintian > /dev/null; then
    # Every tag the package earns but the overridden ones, each told with its reason.
    lintian --pedantic "$package" > "$work/lintian.txt" 2> /dev/null || true
    if grep -E '^(E|W):' "$work/lintian.txt" >&2; then
        echo "lintian --pedantic found errors or warnings" >&2
        exit 1
    fi
    checked="lintian --pedantic: no error or warning"
else
    checked="lintian not installed: not checked"
fi
echo "$(basename "$package"): $(wc -l < "$work/files") files, Depends: $depends; $checked;" \
    "$(tail -n 1 "$work/pytest.log")"
