#!/usr/bin/env bash
# "cmake --install" of a build into a fresh prefix gives exactly the expected
# tree: the programs, the manual pages, the completions and the examples, and
# nothing else (no tests, no benchmarks); the installed programs run.
# Usage: install_test.sh CMAKE BUILD_DIR SOURCE_DIR [--poolstat] [--man]
set -u
cmake=$1 build=$2 source=$3
shift 3
poolstat=0 man=0
for flag in "$@"; do
    case $flag in
    --poolstat) poolstat=1 ;;
    --man) man=1 ;;
    *) echo "unknown flag $flag" >&2; exit 2 ;;
    esac
done

prefix=$(mktemp -d) || exit 1
trap 'rm -rf "$prefix"' EXIT
failures=0
fail() {
    printf 'FAIL: %s\n' "$1"
    failures=$((failures + 1))
}

"$cmake" --install "$build" --prefix "$prefix" >"$prefix.log" 2>&1 ||
    { cat "$prefix.log"; rm -f "$prefix.log"; exit 1; }
rm -f "$prefix.log"

# What must be there, one row per file: path and kind (program, gzip, or the
# source file it must equal).
rows=(
    "sbin/poolctl program"
    "bin/hostsim program"
    "share/bash-completion/completions/poolctl completion/poolctl.bash"
    "share/doc/poolctl/changelog.gz gzip"
)
for example in "$source"/examples/*.yaml; do
    rows+=("share/doc/poolctl/examples/${example##*/} examples/${example##*/}")
done
if ((poolstat)); then
    rows+=("sbin/poolstat program"
           "share/bash-completion/completions/poolstat completion/poolstat.bash")
fi
if ((man)); then
    rows+=("share/man/man8/poolctl.8.gz gzip" "share/man/man5/rp.d.5.gz gzip"
           "share/man/man1/hostsim.1.gz gzip")
    ((poolstat)) && rows+=("share/man/man8/poolstat.8.gz gzip")
fi

expected=$(for row in "${rows[@]}"; do echo "${row%% *}"; done | LC_ALL=C sort)
actual=$(cd "$prefix" && find . -type f -o -type l | sed 's|^\./||' | LC_ALL=C sort)
[[ $actual == "$expected" ]] ||
    fail "installed tree differs:"$'\n'"$(diff <(echo "$expected") <(echo "$actual"))"

for row in "${rows[@]}"; do
    path=$prefix/${row%% *} kind=${row#* }
    [[ -f $path ]] || continue # reported above
    case $kind in
    program) [[ -x $path ]] || fail "${row%% *} is not executable" ;;
    gzip)
        [[ ! -x $path ]] || fail "${row%% *} is executable"
        gzip -t "$path" 2>/dev/null || fail "${row%% *} is not gzip data"
        ;;
    *)
        [[ ! -x $path ]] || fail "${row%% *} is executable"
        cmp -s "$path" "$source/$kind" || fail "${row%% *} differs from $kind"
        ;;
    esac
done

# The installed programs run; poolctl checks the simulated kernel first.
export HOSTSIM_DB=$prefix/host.db
help_rows=("sbin/poolctl -h|poolctl disable [flags] <rps...>" "bin/hostsim help|usage: hostsim COMMAND ...")
((poolstat)) && help_rows+=("sbin/poolstat -h|poolstat [flags] [files...]")
for row in "${help_rows[@]}"; do
    command=${row%%|*} first=${row#*|}
    output=$("$prefix"/$command 2>&1)
    status=$?
    [[ $status == 0 && ${output%%$'\n'*} == "$first" ]] ||
        fail "$command: status $status, first line: ${output%%$'\n'*}"
done

((failures == 0)) || { echo "$failures failure(s)"; exit 1; }
echo "installed tree of ${#rows[@]} files checked"
