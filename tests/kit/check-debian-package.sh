#!/bin/sh
# `cpack -G DEB` in this build makes one package that holds the programs, the
# library, the headers, the CMake and pkg-config files and the manual pages,
# depends on what they load, and whose programs, unpacked, find the library in
# the package's own library folder.
#
#   check-debian-package.sh BUILD_DIR WORK_DIR
set -eu
build=$1 work=$2
rm -rf "$work"
mkdir -p "$work"
(cd "$build" && cpack -G DEB -B "$work" > "$work/cpack.log")
package=$(ls "$work"/zmod4710-sim_*.deb)

# The build type names one of the CMake package's files.
dpkg-deb -c "$package" | awk '{ print $6 }' | grep -v '/$' |
    sed 's/zmod4710-targets-[a-z]*\.cmake$/zmod4710-targets-CONFIG.cmake/' | sort > "$work/files"
cat > "$work/expected" <<FILES
./usr/bin/ao_basic_info
./usr/bin/ao_power_on
./usr/bin/zmod4710-sim
./usr/include/zmod4710.h
./usr/include/zmod4710_sim.h
./usr/lib/cmake/zmod4710/zmod4710-targets-CONFIG.cmake
./usr/lib/cmake/zmod4710/zmod4710-targets.cmake
./usr/lib/cmake/zmod4710/zmod4710Config.cmake
./usr/lib/cmake/zmod4710/zmod4710ConfigVersion.cmake
./usr/lib/libzmod4710.so
./usr/lib/pkgconfig/zmod4710.pc
./usr/share/man/man1/ao_basic_info.1
./usr/share/man/man1/ao_power_on.1
./usr/share/man/man1/zmod4710-sim.1
./usr/share/man/man3/zmod4710.3
FILES
sort -o "$work/expected" "$work/expected"
if ! cmp -s "$work/files" "$work/expected"; then
    echo "the package holds other files than it should:" >&2
    diff "$work/expected" "$work/files" >&2
    exit 1
fi

depends=$(dpkg-deb -f "$package" Depends)
case $depends in
*libc6*libstdc++6*) ;;
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
*"$work/root/usr/bin/../lib/libzmod4710.so"*) ;;
*)
    echo "ao_basic_info loads the module library from elsewhere: $loaded" >&2
    exit 1
    ;;
esac
echo "$(basename "$package"): $(wc -l < "$work/files") files, Depends: $depends"
