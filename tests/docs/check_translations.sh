#!/bin/sh
# Every text the operator sees has a finished English translation: lupdate brings a copy of
# the translation up to date with the sources, and any text it had to add, or that is left
# unfinished or empty, is listed and fails the check.
#   check_translations.sh lupdate-binary translation.ts source-root source-folder...
set -u
lupdate=$1
ts=$2
root=$3
shift 3
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cp "$ts" "$scratch/check.ts"
(cd "$root" && "$lupdate" -silent -I "$root" -locations none -no-obsolete "$@" \
    -ts "$scratch/check.ts") || exit 1
# One line per message with its source and whether its translation is finished.
missing=$(awk '
    /<source>/ { sub(/.*<source>/, ""); sub(/<\/source>.*/, ""); source = $0 }
    /<translation/ {
        if ($0 ~ /type="unfinished"/ || $0 ~ /<translation><\/translation>/ || $0 ~ /<translation\/>/)
            print "  " source
    }' "$scratch/check.ts")
if [ -n "$missing" ]; then
    echo "$ts has no finished English for:"
    printf '%s\n' "$missing"
    echo "run: cmake --build --preset default --target update_translations, then translate them"
    exit 1
fi
echo "every text has its English translation"
