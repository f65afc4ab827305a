#!/bin/sh
# The man pages in docs/ against the programs' own --help: the same options, no more and no
# fewer, and MeterDebug's page names the version that --version prints.
#   check_manpages.sh MeterDebug-binary metersim-binary docs-folder
set -u
status=0

# Option names in --help: the first column of the lines that start with an option.
help_options() {
    "$1" --help | awk '/^  -/ { sub(/^  /, ""); split($0, part, /  +/); print part[1] }' |
        grep -oE '(^|[ ,])--?[a-zA-Z][a-zA-Z0-9-]*' | tr -d ' ,' | sort -u
}

# Option names in the man page: the tag lines of its .TP items.
page_options() {
    awk 'tag { print; tag = 0 } /^\.TP/ { tag = 1 }' "$1" | sed 's/\\-/-/g' |
        grep -oE '(^|[ "])--?[a-zA-Z][a-zA-Z0-9-]*' | tr -d ' "' | sort -u
}

check() {
    program=$1
    page=$2
    help=$(help_options "$program")
    documented=$(page_options "$page")
    if [ -z "$help" ] || [ "$help" != "$documented" ]; then
        echo "$page and $(basename "$program") --help list different options:"
        printf '%s\n' "$help" >"$scratch/help"
        printf '%s\n' "$documented" >"$scratch/page"
        diff "$scratch/help" "$scratch/page" |
            sed -n 's/^< \(..*\)/  only in --help: \1/p; s/^> \(..*\)/  only in the page: \1/p'
        status=1
    fi
}

scratch=$(mktemp -d) || exit 1
trap 'rm -rf "$scratch"' EXIT
check "$1" "$3/MeterDebug.1"
check "$2" "$3/metersim.1"

version=$("$1" --version | awk '{ print $2 }')
if ! grep -q "^\.TH .*\"MeterDebug $version\"" "$3/MeterDebug.1"; then
    echo "$3/MeterDebug.1 does not name version $version in its .TH line"
    status=1
fi
exit $status
