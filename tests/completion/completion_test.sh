#!/usr/bin/env bash
# The bash completion of poolctl, poolstat and poolsync as readline drives it: a row "LINE => WORD,WORD" sets the
# command line, the cursor at its end, and gives COMPREPLY sorted, then what was printed. Pool names come
# from the PATH's "poolctl list -v": the test's definitions. Usage: completion_test.sh COMPLETION_DIR POOLCTL HOSTSIM
set -u
completion_dir=$1 poolctl=$2 hostsim=$3 failures=0
work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
export HOSTSIM_DB=$work/host.db PATH=$work/bin:$PATH
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

rows() {
    local function=$1 row
    shift
    for row in "$@"; do
        local line=${row%% => *} COMP_WORDS COMPREPLY=()
        read -ra COMP_WORDS <<<"$line"
        [[ $line == *" " ]] && COMP_WORDS+=("")
        local COMP_CWORD=$((${#COMP_WORDS[@]} - 1)) COMP_LINE=$line COMP_POINT=${#line}
        "$function" "${COMP_WORDS[0]}" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}" >"$work/printed" 2>&1
        local got=$(printf '%s\n' "${COMPREPLY[@]}" | LC_ALL=C sort | paste -sd, -)$(<"$work/printed")
        [[ $got == "${row#* => }" ]] || fail "$line => $got"
    done
}

mkdir -p "$work/bin" "$work/files/defs" "$work/rp.d"
printf '#!/bin/sh\n[ "$1" = list ] && exec "%s" "$@" "%s"/*.yaml\nexec "%s" "$@"\n' "$poolctl" "$work/rp.d" "$poolctl" >"$work/bin/poolctl"
chmod +x "$work/bin/poolctl"
touch "$work/files/a.yaml" "$work/files/ab.yaml" "$work/files/-odd.yaml"
printf '%s\n' '- {name: vms, mem: 4096}' '- {name: vms/gold, memMin: 1024}' '- {name: "vms/x $(touch injected)", isEnabled: no}' >"$work/vms.yaml"
echo '- {name: host/system/mgmt, cpuMin: 50}' >"$work/system.yaml"
"$hostsim" install "$work/vms.yaml" "$work/system.yaml" --to "$work/rp.d" >/dev/null || exit 1
for program in poolctl poolstat poolsync; do source "$completion_dir/$program.bash"; done
cd "$work/files" || exit 1
rows _poolctl 'poolctl  => disable,enable,list,load,unload' 'poolctl l => list,load' 'poolctl LIST => ' 'poolctl - => -e,-g,-h,-i,-m,-w' \
    'poolctl list - => --,-h,-v' 'poolctl load - => --,-h,-q' 'poolctl unload - => --,-h' 'poolctl enable - => --,-h' \
    'poolctl disable - => --,-h,-n,-w' 'poolctl disable -w  => ' 'poolctl frob  => ' 'poolctl list a => a.yaml,ab.yaml' \
    'poolctl load a.yaml - => --,-h,-q' 'poolctl unload d => defs' 'poolctl load -- - => -odd.yaml' 'poolctl -g host -m  => ' \
    'poolctl -e -g host -i - => -e,-g,-h,-i,-m,-w'
rows _poolstat 'poolstat - => --,--csv,--help,--json,--prometheus,--version,-h,-j,-v' 'poolstat --j => --json' 'poolstat --p => --prometheus' 'poolstat -v a => a.yaml,ab.yaml' \
    'poolstat a.yaml - => --,--csv,--help,--json,--prometheus,--version,-h,-j,-v' 'poolstat -- - => -odd.yaml'
rows _poolsync 'poolsync - => --,--help,--version,-h,-n,-q' 'poolsync -n a => a.yaml,ab.yaml' 'poolsync -- - => -odd.yaml'
# Pool names, never run as commands; the program as typed lists them.
all='host/opt/vms,host/opt/vms/gold,host/opt/vms/x $(touch injected),host/system/mgmt'
rows _poolctl "poolctl enable  => $all" "poolctl enable host/opt/vms/gold h => $all" \
    'poolctl enable host/opt/vms/ => host/opt/vms/gold,host/opt/vms/x $(touch injected)' 'poolctl enable vms => ' \
    'poolctl disable -n host/opt/vms/g => host/opt/vms/gold' 'poolctl disable -w 5 host/s => host/system/mgmt' \
    'poolctl -g host/sys => host/system/mgmt' "$work/bin/poolctl disable host/opt/vms/go => host/opt/vms/gold"
[[ -e injected ]] && fail 'a pool name was run'
# A definition that fails to load gives no names and no message.
printf -- '- name: broken\n  memMax: many\n' >"$work/rp.d/broken.yaml"
"$hostsim" mark "$work/rp.d/broken.yaml" || exit 1
rows _poolctl 'poolctl enable  => ' 'poolctl -g  => '
# poolctl ran for the pool names; it must have destroyed every list it made.
[[ $("$hostsim" leaks) == 0 ]] || fail "lists leaked"
((failures == 0)) || { echo "$failures completion row(s) failed"; exit 1; }
