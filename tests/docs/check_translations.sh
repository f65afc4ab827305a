#!/bin/sh
# Every text the operator sees has a finished English translation, and every Chinese text in
# the program reaches the operator through tr():
# - lupdate brings a copy of the translation up to date with the translated folders; any text
#   it had to add, or that is left unfinished, empty or still Chinese, is listed;
# - every string literal with a Chinese character in the program's folders must be part of a
#   text that lupdate found on its line, or on the few lines above where a call that spans
#   lines starts (inside tr(), translate(), QT_TR_NOOP or QT_TRANSLATE_NOOP), or one of the
#   exceptions below; any other is a stray that the English interface would show in Chinese.
#   check_translations.sh lupdate-binary translation.ts source-root translated-folder...
#                         [-- other-program-folder...]
set -u
lupdate=$1
ts=$2
root=$3
shift 3
translated=
others=
while [ $# -gt 0 ]; do
    if [ "$1" = -- ]; then
        shift
        others="$*"
        break
    fi
    translated="$translated $1"
    shift
done

# Chinese text that is not an interface text, by file and literal ("*": every literal of the
# file). Each line: path, a tab, the literal.
# - The language submenu names each language in its own tongue, the same in both languages.
# - "宋体" is a font family's name.
# - LabelBy() takes a template caption as the key of its label; the label shows the
#   caption's translation.
# - The log file Table.txt is the meter's record in GBK Chinese whatever the interface shows;
#   its layout is fixed, byte for byte.
exceptions=$(cat <<'EOF'
ui/Language.cpp	语言 / Language
ui/Language.cpp	中文
ui/Dialog.cpp	宋体
ui/MeterDebugDlg.cpp	宋体
ui/CommSetDlg.cpp	宋体
ui/CommSetDlg.cpp	仪表地址
ui/SaveIntervalDlg.cpp	时
ui/SaveIntervalDlg.cpp	分
ui/SaveIntervalDlg.cpp	秒
log/LogRecord.cpp	*
EOF
)

# grep -P decides what is Chinese: CJK punctuation, ideographs, full-width forms.
export LC_ALL=C.UTF-8
cjk='[\x{3000}-\x{9fff}\x{ff00}-\x{ffef}]'
if ! printf '中\n' | grep -qP "$cjk" 2>/dev/null || printf 'A\n' | grep -qP "$cjk"; then
    echo "grep -P cannot tell Chinese text here (no C.UTF-8 locale?), so nothing was checked"
    exit 1
fi

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
status=0
cp "$ts" "$scratch/check.ts"
# shellcheck disable=SC2086 # the folder lists are words
(cd "$root" && "$lupdate" -silent -I "$root" -locations absolute -no-obsolete $translated \
    -ts "$scratch/check.ts") || exit 1

# One line per message: whether its translation is finished, its translation, its source.
awk '
    /<source>/ { sub(/.*<source>/, ""); sub(/<\/source>.*/, ""); source = $0 }
    /<translation/ {
        unfinished = $0 ~ /type="unfinished"/ || $0 ~ /<translation><\/translation>/ ||
                     $0 ~ /<translation\/>/
        sub(/.*<translation[^>]*>/, ""); sub(/<\/translation>.*/, "")
        printf "%s\t%s\t%s\n", unfinished ? "unfinished" : "finished", $0, source
    }' "$scratch/check.ts" >"$scratch/messages"
missing=$(awk -F '\t' '$1 == "unfinished" { print "  " $3 }' "$scratch/messages")
if [ -n "$missing" ]; then
    echo "$ts has no finished English for:"
    printf '%s\n' "$missing"
    echo "run: cmake --build --preset default --target update_translations, then translate them"
    status=1
fi
chinese=$(awk -F '\t' '$1 == "finished" { print $2 "\t" $3 }' "$scratch/messages" |
    grep -P "^[^\t]*$cjk" | awk -F '\t' '{ print "  " $2 " -> " $1 }')
if [ -n "$chinese" ]; then
    echo "$ts has English translations that are still Chinese:"
    printf '%s\n' "$chinese"
    status=1
fi

# Where lupdate found each text: path (from the source root), line, source text (with the
# five XML entities decoded, and a line break as \n as C++ writes it).
awk '
    function decoded(text) {
        gsub(/&quot;/, "\"", text); gsub(/&apos;/, "\047", text)
        gsub(/&lt;/, "<", text); gsub(/&gt;/, ">", text); gsub(/&amp;/, "\\&", text)
        return text
    }
    /<message>/ { n = 0 }
    /<location / {
        file = $0; sub(/.*filename="/, "", file); sub(/".*/, "", file)
        line = $0; sub(/.*line="/, "", line); sub(/".*/, "", line)
        files[++n] = file; lines[n] = line
    }
    /<source>/ { source = $0; sub(/.*<source>/, "", source); open = source !~ /<\/source>/ }
    open && !/<source>/ { source = source "\\n" $0; open = $0 !~ /<\/source>/ }
    /<\/source>/ {
        sub(/<\/source>.*/, "", source)
        for (i = 1; i <= n; ++i) printf "%s\t%s\t%s\n", files[i], lines[i], decoded(source)
    }' "$scratch/check.ts" >"$scratch/found.ts"
cut -f 1 "$scratch/found.ts" | (cd "$scratch" && xargs -r -d '\n' realpath -m --) >"$scratch/paths"
rootpath=$(realpath -m -- "$root")
cut -f 2- "$scratch/found.ts" | paste "$scratch/paths" - |
    awk -v root="$rootpath/" 'index($0, root) == 1 { print substr($0, length(root) + 1) }' \
        >"$scratch/found"

# Every string literal in the C++ sources, one line each: path:line:text. Comments and
# character literals are skipped; a raw string gives one line per source line.
# shellcheck disable=SC2086
sources=$(cd "$root" && find $translated $others -name '*.cpp' -o -name '*.h' | sort)
# shellcheck disable=SC2086
(cd "$root" && awk '
    FNR == 1 { block = 0; inraw = 0 }
    {
        line = $0; n = length(line); i = 1
        while (i <= n) {
            if (inraw) {
                end = index(substr(line, i), ")" raw "\"")
                if (end == 0) { print FILENAME ":" FNR ":" substr(line, i); next }
                print FILENAME ":" FNR ":" substr(line, i, end - 1)
                i += end + length(raw) + 1; inraw = 0; continue
            }
            if (block) {
                if (substr(line, i, 2) == "*/") { block = 0; i += 2 } else i++
                continue
            }
            c = substr(line, i, 1); two = substr(line, i, 2)
            if (two == "//") next
            if (two == "/*") { block = 1; i += 2; continue }
            if (two == "R\"" && (i == 1 || substr(line, i - 1, 1) ~ /[^A-Za-z0-9_]|[uUL8]/)) {
                open = index(substr(line, i + 2), "(")
                raw = substr(line, i + 2, open - 1); inraw = 1
                i += 2 + open
                continue
            }
            if (c == "\047") {
                # A quote between two digits separates them: no character literal.
                if (i > 1 && substr(line, i - 1, 1) ~ /[0-9A-Fa-f]/ &&
                    substr(line, i + 1, 1) ~ /[0-9A-Fa-f]/) { i++; continue }
                j = i + 1
                while (j <= n && substr(line, j, 1) != "\047") j += substr(line, j, 1) == "\\" ? 2 : 1
                i = j + 1
                continue
            }
            if (c == "\"") {
                j = i + 1
                while (j <= n && substr(line, j, 1) != "\"") j += substr(line, j, 1) == "\\" ? 2 : 1
                print FILENAME ":" FNR ":" substr(line, i + 1, j - i - 1)
                i = j + 1
                continue
            }
            i++
        }
    }' $sources) >"$scratch/literals"

printf '%s\n' "$exceptions" >"$scratch/exceptions"
# A literal is in tr() when lupdate found a text containing it (tr() may join several) in its
# file, on its line or a few lines above (where a call that spans lines starts).
strays=$(grep -P "^[^:]*:[0-9]+:.*$cjk" "$scratch/literals" | awk -F ':' -v found="$scratch/found" \
    -v exceptions="$scratch/exceptions" '
    BEGIN {
        while ((getline row < found) > 0) {
            split(row, part, "\t")
            key = part[1] ":" part[2]
            texts[key] = texts[key] "\n" part[3] "\n"
        }
        while ((getline row < exceptions) > 0) excepted[row] = 1
    }
    {
        text = substr($0, length($1) + length($2) + 3)
        if (($1 "\t" text) in excepted || ($1 "\t*") in excepted)
            next
        plain = text
        gsub(/\\"/, "\"", plain); gsub(/\\\\/, "\\", plain)
        for (l = $2; l >= $2 - 5 && l > 0; --l)
            if (index(texts[$1 ":" l], plain) > 0)
                next
        print "  " $1 ":" $2 ": \"" text "\""
    }')
if [ -n "$strays" ]; then
    echo "Chinese texts outside tr() (the English interface would show them in Chinese):"
    printf '%s\n' "$strays"
    echo "give each to tr() in a translated folder ($translated ) and translate it, or, for a"
    echo "text that is not shown to the operator, add it to the exceptions in $0"
    status=1
fi

[ "$status" -eq 0 ] && echo "every text has its English translation, and every Chinese text goes through tr()"
exit "$status"
