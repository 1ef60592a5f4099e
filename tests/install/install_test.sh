#!/usr/bin/env bash
# "cmake --install" of a build into a fresh prefix gives exactly the expected tree: the programs,
# which run, the completions, the examples and the manual pages, nothing else. Each manual page
# renders without a warning, fits 80 columns and has the sections that readers and whatis look for.
# Usage: install_test.sh CMAKE BUILD_DIR SOURCE_DIR [MANUAL_PAGE...]
set -u
cmake=$1 build=$2 source=$3 failures=0
shift 3
prefix=$(mktemp -d) || exit 1
trap 'rm -rf "$prefix"' EXIT
fail() { printf 'FAIL: %s\n' "$*"; failures=$((failures + 1)); }
log=$("$cmake" --install "$build" --prefix "$prefix" 2>&1) || { echo "$log"; exit 1; }

# One row per file: its path and kind (program, gzip, or the source file it equals); one per
# program run: the command and the first line it prints.
completions=share/bash-completion/completions
rows=("sbin/poolctl program" "sbin/poolstat program" "sbin/poolsync program" "bin/hostsim program"
    "share/doc/poolctl/changelog.gz gzip" "$completions/poolctl completion/poolctl.bash"
    "$completions/poolstat completion/poolstat.bash" "$completions/poolsync completion/poolsync.bash")
runs=("sbin/poolctl -h|poolctl disable [flags] <rps...>" "sbin/poolstat -h|poolstat [flags] [files...]"
    "sbin/poolsync -h|poolsync [flags] [files...]"
    "bin/hostsim help|usage: hostsim COMMAND ...")
for f in "$source"/examples/*.yaml; do rows+=("share/doc/poolctl/examples/${f##*/} examples/${f##*/}"); done
for page in "$@"; do rows+=("share/man/man${page##*.}/${page##*/}.gz gzip"); done

expected=$(printf '%s\n' "${rows[@]%% *}" | LC_ALL=C sort)
actual=$(cd "$prefix" && find . -type f -o -type l | sed 's|^\./||' | LC_ALL=C sort)
[[ $actual == "$expected" ]] || fail "tree differs: $(diff <(echo "$expected") <(echo "$actual"))"
for row in "${rows[@]}"; do
    path=$prefix/${row%% *} kind=${row#* }
    [[ -f $path ]] || continue # reported above
    case $kind in
    program) [[ -x $path ]] || fail "$path is not executable" ;;
    gzip) [[ ! -x $path ]] && gzip -t "$path" 2>/dev/null || fail "$path: executable, or no gzip" ;;
    *) [[ ! -x $path ]] && cmp -s "$path" "$source/$kind" || fail "$path: executable, or differs" ;;
    esac
done
export HOSTSIM_DB=$prefix/host.db # poolctl checks the simulated kernel first
for run in "${runs[@]}"; do
    out=$("$prefix"/${run%%|*} 2>&1) && [[ ${out%%$'\n'*} == "${run#*|}" ]] || fail "$run: $out"
done

command -v man >/dev/null || { set --; echo "man is not installed: manual pages not rendered"; }
export LC_ALL=C.UTF-8 MANWIDTH=80
for page in "$@"; do
    file=${page##*/} name=${file%.*} section=${file##*.} # poolctl.8, poolctl, 8
    warnings=$(man --warnings -E UTF-8 -l "$page" 2>&1 >/dev/null)
    [[ -z $warnings ]] || fail "$file: the formatter warns: $warnings"
    text=$(man -E UTF-8 -l "$page" 2>/dev/null)
    [[ $text == "$name($section)"* ]] || fail "$file: title is not $name($section)"
    for heading in NAME SYNOPSIS DESCRIPTION "SEE ALSO"; do grep -qx "$heading" <<<"$text" || fail "$file: no $heading section"; done
    (($(wc -L <<<"$text") <= MANWIDTH)) || fail "$file: a line is wider than $MANWIDTH columns"
    # whatis and apropos read the NAME section as "name - summary".
    whatis=$(! command -v lexgrog >/dev/null || lexgrog "$page" 2>&1)
    [[ -z $whatis || $whatis == "$page: \"$name - "?*'"' ]] || fail "$file: whatis reads $whatis"
done
((failures == 0)) || { echo "$failures failure(s)"; exit 1; }
