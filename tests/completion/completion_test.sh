#!/usr/bin/env bash
# The bash completion of poolctl and poolstat: each case sets the command line
# as readline hands it to a completion function, calls the function and
# compares COMPREPLY (sorted; bash sorts what it shows) and what it printed.
#
# Usage: completion_test.sh COMPLETION_DIR POOLCTL HOSTSIM
#
# Pool names come from /etc/rp.d. Those cases run in a private mount
# namespace whose /etc is an overlay and whose /etc/rp.d is a folder of the
# test, so the machine's own /etc is never touched; where the machine does not
# allow that, the other cases still run and the test exits 77 (skipped).
set -u

self=$(readlink -f "$0")
completion_dir=$1 poolctl=$2 hostsim=$3
failures=0

# One case: "LINE => WORD,WORD,..." (the cursor at the end of LINE). LINE may
# end in a space: the word being completed is then empty.
check() {
    local row=$1 function=$2
    local line=${row%% => *} expected=${row#* => }
    local -a COMP_WORDS
    read -ra COMP_WORDS <<<"$line"
    [[ $line == *" " ]] && COMP_WORDS+=("")
    local COMP_CWORD=$((${#COMP_WORDS[@]} - 1)) COMP_LINE=$line COMP_POINT=${#line}
    local prev=""
    ((COMP_CWORD > 0)) && prev=${COMP_WORDS[COMP_CWORD - 1]}
    COMPREPLY=()
    # Run here, not in a subshell, so that COMPREPLY stays; what the function
    # prints (it should print nothing) goes to a file.
    "$function" "${COMP_WORDS[0]}" "${COMP_WORDS[COMP_CWORD]}" "$prev" >"$work/printed" 2>&1
    local printed got
    printed=$(<"$work/printed")
    got=$(printf '%s\n' "${COMPREPLY[@]}" | LC_ALL=C sort | paste -sd, -)
    if [[ $got != "$expected" || -n $printed ]]; then
        printf 'FAIL: %s\n  expected: %s\n  got:      %s\n' "$line" "$expected" "$got"
        [[ -n $printed ]] && printf '  printed:  %s\n' "$printed"
        failures=$((failures + 1))
    fi
}

run_cases() {
    local function=$1 row
    shift
    for row in "$@"; do check "$row" "$function"; done
}

# Cases that need no definitions; run in a folder of files.
words_and_files() {
    cd "$work/files" || exit 1
    run_cases _poolctl \
        'poolctl  => disable,enable,list,load,unload' \
        'poolctl l => list,load' \
        'poolctl dis => disable' \
        'poolctl LIST => ' \
        'poolctl - => -e,-g,-h,-i,-m,-w' \
        'poolctl list - => --,-h,-v' \
        'poolctl load - => --,-h,-q' \
        'poolctl unload - => --,-h' \
        'poolctl enable - => --,-h' \
        'poolctl disable - => --,-h,-n,-w' \
        'poolctl disable -w  => ' \
        'poolctl load a.yaml - => --,-h,-q' \
        'poolctl list a => a.yaml,ab.yaml' \
        'poolctl list -v ab => ab.yaml' \
        'poolctl unload d => defs' \
        'poolctl load -- - => -odd.yaml' \
        'poolctl list -- a.yaml - => -odd.yaml' \
        'poolctl frob  => ' \
        'poolctl -g host -m  => ' \
        'poolctl -g host -w  => ' \
        'poolctl -g host - => -e,-g,-h,-i,-m,-w' \
        'poolctl -e -g host -i - => -e,-g,-h,-i,-m,-w'
    run_cases _poolstat \
        'poolstat - => --,--csv,--help,--json,-h,-j,-v' \
        'poolstat --j => --json' \
        'poolstat -v a => a.yaml,ab.yaml' \
        'poolstat a.yaml - => --,--csv,--help,--json,-h,-j,-v' \
        'poolstat -- - => -odd.yaml'
}

# Cases that read the definitions of /etc/rp.d (inside the namespace).
pool_names() {
    cd "$work" || exit 1
    run_cases _poolctl \
        'poolctl enable  => host/opt/vms,host/opt/vms/gold,host/opt/vms/x $(touch injected),host/system/mgmt' \
        'poolctl enable host/opt/vms/ => host/opt/vms/gold,host/opt/vms/x $(touch injected)' \
        'poolctl disable -n host/opt/vms/g => host/opt/vms/gold' \
        'poolctl disable -w 5 host/s => host/system/mgmt' \
        'poolctl enable host/opt/vms/gold h => host/opt/vms,host/opt/vms/gold,host/opt/vms/x $(touch injected),host/system/mgmt' \
        'poolctl enable vms => ' \
        'poolctl -g host/sys => host/system/mgmt' \
        "$poolctl disable host/opt/vms/go => host/opt/vms/gold" \
        'poolctl list vms => vms.yaml'
    if [[ -e injected ]]; then
        echo 'FAIL: a pool name was run as a command'
        failures=$((failures + 1))
    fi
    # A definition that fails to load gives no names and no message.
    printf -- '- name: broken\n  memMax: many\n' >/etc/rp.d/broken.yaml
    "$hostsim" mark /etc/rp.d/broken.yaml || exit 1
    run_cases _poolctl 'poolctl enable  => ' 'poolctl -g  => '
}

# A private /etc with the test's definitions on /etc/rp.d, as the end-to-end
# harness makes one.
in_private_etc() {
    unshare -m /bin/sh -c '
        set -eu
        definitions=$1 scratch=$2; shift 2
        mkdir -p "$scratch/upper" "$scratch/work"
        mount -t overlay overlay -o "lowerdir=/etc,upperdir=$scratch/upper,workdir=$scratch/work" /etc 2>/dev/null || exit 77
        rm -rf /etc/rp.d && mkdir /etc/rp.d || exit 77
        mount --bind "$definitions" /etc/rp.d 2>/dev/null || exit 77
        exec "$@"' sh "$@"
}

if [[ ${1:-} == --pool-names ]]; then
    # Inside the namespace: the state was set up by the outer run.
    work=$2 completion_dir=$3 poolctl=$4 hostsim=$5
    export PATH=$work/bin:$PATH HOSTSIM_DB=$work/host.db
    source "$completion_dir/poolctl.bash"
    pool_names
    exit $((failures > 0))
fi

work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
export HOSTSIM_DB=$work/host.db
"$hostsim" init || exit 1
mkdir -p "$work/bin" "$work/files/defs" "$work/rp.d" "$work/scratch"
# Found through PATH, as an installed poolctl is.
ln -s "$poolctl" "$work/bin/poolctl"
export PATH=$work/bin:$PATH
touch "$work/files/a.yaml" "$work/files/ab.yaml" "$work/files/-odd.yaml"
cat >"$work/vms.yaml" <<'EOF'
- name: vms
  mem: 4096
- name: vms/gold
  memMin: 1024
- name: "vms/x $(touch injected)"
  isEnabled: no
EOF
cat >"$work/system.yaml" <<'EOF'
- name: host/system/mgmt
  cpuMin: 50
EOF
"$hostsim" install "$work/vms.yaml" "$work/system.yaml" --to "$work/rp.d" >/dev/null || exit 1

source "$completion_dir/poolctl.bash"
source "$completion_dir/poolstat.bash"
words_and_files

status=0
in_private_etc "$work/rp.d" "$work/scratch" \
    bash "$self" --pool-names "$work" "$completion_dir" "$poolctl" "$hostsim" || status=$?
case $status in
0) ;;
77) echo "pool name cases skipped: no private mount namespace here" ;;
*) failures=$((failures + 1)) ;;
esac

# poolctl ran for the pool names; it must have destroyed every list it made.
leaks=$("$hostsim" leaks)
[[ $leaks == 0 ]] || { echo "FAIL: $leaks kernel parameter list(s) leaked"; failures=$((failures + 1)); }

if ((failures > 0)); then
    echo "$failures completion case(s) failed"
    exit 1
fi
[[ $status == 77 ]] && exit 77
exit 0
