#!/bin/sh
# Runs a command as on a machine whose kernel runs no 32-bit x86 program, to
# prove that the test command passes there too. The command runs in a user and
# mount namespace of its own, whose handler of miscellaneous binaries
# (binfmt_misc, which a namespace may have for itself since Linux 6.7) takes
# every 32-bit x86 ELF program and hands it to an interpreter that does not
# exist: each fails to start, as on a kernel without IA-32 emulation. Every
# user and group is mapped to itself, so files keep their owners, and root
# stays root. Needs root.
#
#   without-32bit-programs.sh COMMAND [ARGUMENT...]
set -eu
if [ $# -eq 0 ]; then
    echo "usage: without-32bit-programs.sh COMMAND [ARGUMENT...]" >&2
    exit 2
fi

# Inside the namespace, once its users are mapped: the handler, then the command.
inside='
while [ -z "$(cat /proc/self/uid_map)" ]; do sleep 0.01; done
mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
echo ":no-i386:M::\\x7fELF\\x01\\x01\\x01\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x03\\x00:\\xff\\xff\\xff\\xff\\xff\\xfe\\xfe\\x00\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\x00\\xfe\\xff\\xff:/nonexistent/i386-interpreter:" \
    > /proc/sys/fs/binfmt_misc/register
exec "$@"'

unshare --user --mount --propagation private sh -c "$inside" sh "$@" <&0 &
namespace=$!
# Its users can be mapped once it is in the namespace.
while [ "$(readlink /proc/$namespace/ns/user)" = "$(readlink /proc/self/ns/user)" ]; do
    sleep 0.01
done
# Every number but the last, (uid_t) -1, which names no one.
if ! { echo "0 0 4294967294" > /proc/$namespace/uid_map && echo "0 0 4294967294" > /proc/$namespace/gid_map; }; then
    kill $namespace
    echo "without-32bit-programs: cannot map the users of the namespace" >&2
    exit 1
fi
status=0
wait $namespace || status=$?
exit $status
