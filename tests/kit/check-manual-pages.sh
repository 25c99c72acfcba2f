#!/bin/sh
# Each manual page renders without a warning, zmod4710-sim(1) names every
# command and option that `zmod4710-sim --help` lists, and every relative link
# of README.md and the pages in docs/ leads to a file, and to a heading of it
# where it names one.
#
#   check-manual-pages.sh DOCS_DIR ZMOD4710_SIM
set -eu
docs=$1 sim=$2
failed=0

# The anchors of a Markdown file's headings, as GitHub makes them: lower case,
# punctuation but hyphens dropped, blanks made hyphens.
anchors() {
    sed -n 's/^#\{1,6\} \(.*\)/\1/p' "$1" | tr 'A-Z' 'a-z' | sed 's/[^a-z0-9 _-]//g; s/ /-/g'
}

for page in "$docs/../README.md" "$docs"/*.md; do
    folder=$(dirname "$page")
    for link in $(grep -o '](\([^) ]*\))' "$page" | sed 's/^](\(.*\))$/\1/'); do
        case $link in
        http://* | https://* | mailto:*) continue ;;
        esac
        file=${link%%#*}
        target=$folder/$file
        [ -n "$file" ] || target=$page
        if [ ! -e "$target" ]; then
            echo "$page: the link $link leads to no file" >&2
            failed=1
        elif [ "$file" != "$link" ] && ! anchors "$target" | grep -qx -- "${link#*#}"; then
            echo "$page: the link $link leads to no heading" >&2
            failed=1
        fi
    done
done
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
