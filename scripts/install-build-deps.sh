#!/bin/sh
# Installs, on Debian 12, the packages that building and testing need, when any
# is missing. Installing needs root; with everything present it needs nothing.
#
#   install-build-deps.sh        the native build, its tests and static analysis
#   install-build-deps.sh --all  also the fuzz targets (clang's libFuzzer),
#                                the Windows builds (x86-64 and 32-bit x86),
#                                wine to run them (32-bit wine from Debian's
#                                i386 architecture, where the kernel runs
#                                32-bit programs) and what proves their ZIPs
#                                (clang-cl, lld-link, mandoc), and the 32-bit
#                                ARM build and qemu-arm to run it
set -eu
here=$(dirname "$0")

packages="cmake ninja-build g++ libgtest-dev nlohmann-json3-dev libcli11-dev
clang-format clang-tidy cppcheck dpkg-dev pkgconf groff-base clang llvm lintian python3-jsonschema
python3-pytest gtkwave tmux librsvg2-bin python3-pil libncurses-dev"
if [ "${1:-}" = "--all" ]; then
    # Both cross builds build GoogleTest from Debian's sources (googletest).
    packages="$packages libclang-rt-14-dev
g++-mingw-w64-x86-64 wine wine64 g++-arm-linux-gnueabihf qemu-user googletest
g++-mingw-w64-i686-posix lld mandoc"
    # Machines differ: some kernels run no 32-bit x86 program, and there 32-bit
    # wine could not start (nor could some of its packages' own scripts).
    if sh "$here/runs-32bit-programs.sh"; then
        packages="$packages wine32:i386"
        echo "install-build-deps: this machine's kernel runs 32-bit programs:" \
             "the windows-x86 tests run its programs under 32-bit wine"
    else
        echo "install-build-deps: this machine's kernel runs no 32-bit programs:" \
             "the windows-x86 build is checked without running its programs, whose tests are skipped"
    fi
fi

missing=""
for package in $packages; do
    if ! dpkg-query -W -f='${Status}\n' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $package"
    fi
done

if [ -z "$missing" ]; then
    exit 0
fi
if [ "$(id -u)" -ne 0 ]; then
    echo "install-build-deps: missing packages:$missing; run this as root to install them" >&2
    exit 1
fi
echo "install-build-deps: installing$missing"
case $missing in
*:i386*) dpkg --add-architecture i386 ;;
esac
# A mirror in the middle of a sync serves index files of the wrong size for a
# while; try again before going on with whatever lists were fetched.
tries=1
until apt-get update; do
    if [ "$tries" -ge 4 ]; then
        echo "install-build-deps: apt-get update failed $tries times; installing from the lists it has" >&2
        break
    fi
    tries=$((tries + 1))
    sleep 15
done
install() {
    DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "$@"
}
if install $missing; then
    exit 0
fi
# 32-bit wine needs i386 packages of the very versions installed for amd64; a
# mirror whose i386 lists lag behind cannot give them. The rest is installed,
# and the windows-x86 tests that run programs are skipped, saying why.
case $missing in
*:i386*) ;;
*) exit 1 ;;
esac
echo "install-build-deps: 32-bit wine could not be installed from this machine's package lists:" \
     "the windows-x86 tests that run programs are skipped" >&2
install $(printf '%s\n' $missing | grep -v ':i386$')
