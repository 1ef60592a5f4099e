#!/usr/bin/env bash
# Every manual page renders without a warning from the formatter, fits a
# terminal of 80 columns, carries the title of its file, and has the sections
# that readers and whatis look for.
# Usage: man_pages_test.sh PAGE...
set -u
export LC_ALL=C.UTF-8 MANWIDTH=80
command -v man >/dev/null || { echo "man is not installed: skipped"; exit 77; }

failures=0
fail() {
    printf 'FAIL: %s: %s\n' "$1" "$2"
    failures=$((failures + 1))
}

for page in "$@"; do
    file=${page##*/} # poolctl.8
    name=${file%.*} section=${file##*.}

    warnings=$(man --warnings -E UTF-8 -l "$page" 2>&1 >/dev/null)
    [[ -z $warnings ]] || fail "$file" "the formatter warns: $warnings"

    text=$(man -E UTF-8 -l "$page" 2>/dev/null)
    [[ $text == "$name($section)"* ]] || fail "$file" "title is not $name($section): ${text%%$'\n'*}"
    for heading in NAME SYNOPSIS DESCRIPTION "SEE ALSO"; do
        grep -qx "$heading" <<<"$text" || fail "$file" "no $heading section"
    done
    width=$(wc -L <<<"$text")
    ((width <= MANWIDTH)) || fail "$file" "a line is $width columns wide"

    # whatis and apropos read the NAME section as "name - summary".
    if command -v lexgrog >/dev/null; then
        whatis=$(lexgrog "$page" 2>&1)
        [[ $whatis == "$page: \"$name - "?*'"' ]] || fail "$file" "whatis reads: $whatis"
    fi
done

((failures == 0)) || { echo "$failures failure(s)"; exit 1; }
echo "$# manual pages checked"
