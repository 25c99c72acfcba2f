#!/bin/sh
# Each manual page renders without a warning, and zmod4710-sim(1) names every
# command and option that `zmod4710-sim --help` lists.
#
#   check-manual-pages.sh DOCS_DIR ZMOD4710_SIM
set -eu
docs=$1 sim=$2
failed=0
for page in "$docs"/*.[13]; do
    warnings=$(groff -man -ww -z "$page" 2>&1)
    if [ -n "$warnings" ]; then
        echo "$page: $warnings" >&2
        failed=1
    fi
done

text=$(groff -man -Tascii -P-bcou "$docs/zmod4710-sim.1" 2>/dev/null)
commands=$("$sim" --help | sed -n '/^Subcommands:/,/^$/p' | awk 'NR > 1 && NF { print $1 }')
for command in $commands; do
    printf '%s\n' "$text" | grep -q -- "^ *$command\b" || {
        echo "zmod4710-sim(1) does not describe the command $command" >&2
        failed=1
    }
    for option in $("$sim" "$command" --help | grep -o -- '--[a-z-]*' | sort -u); do
        printf '%s\n' "$text" | grep -q -- "$option" || {
            echo "zmod4710-sim(1) does not name $command's option $option" >&2
            failed=1
        }
    done
done
[ -n "$commands" ] || { echo "zmod4710-sim --help lists no command" >&2; failed=1; }
exit $failed
