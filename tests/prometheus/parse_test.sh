#!/bin/sh
# poolstat --prometheus as the format's own parser reads it: the examples loaded on a fresh
# simulated host, then that host drifted, with a group whose name needs every escape.
# Usage: parse_test.sh POOLSTAT POOLCTL HOSTSIM EXAMPLES_DIR
set -eu
poolstat=$1 poolctl=$2 hostsim=$3
dir=$(mktemp -d /tmp/poolstat-prom-XXXXXX)
trap 'rm -rf "$dir"' EXIT
export HOSTSIM_DB="$dir/host.db"
cp "$4"/*.yaml "$dir"
"$hostsim" mark "$dir"/*.yaml
"$poolctl" load "$dir"/*.yaml >/dev/null

# Each pool's one state, and the counts adding up to the pools.
check() {
  "$poolstat" --prometheus "$dir"/*.yaml >"$dir/out.prom" || { echo "FAIL: status $?"; exit 1; }
  got=$(/usr/bin/python3 - "$dir/out.prom" <<'PY'
import sys
from prometheus_client.parser import text_string_to_metric_families
families = {f.name: f for f in text_string_to_metric_families(open(sys.argv[1], encoding="utf-8").read())}
assert all(f.type == "gauge" for f in families.values()), families
states = {s.labels["pool"]: s.labels["state"] for s in families["poolstat_pool_state"].samples if s.value == 1}
assert sum(s.value for s in families["poolstat_pools"].samples) == len(states)
print(ascii(sorted(states.items())))
PY
)
  [ "$got" = "$1" ] || { printf 'FAIL:\n got %s\nwant %s\n' "$got" "$1"; exit 1; }
}
ok="('host/opt/vms', 'ok'), ('host/opt/vms/bronze', 'ok'), ('host/opt/vms/burst', 'inactive')"
system="('host/system/imagecache', 'ok'), ('host/system/logging', 'ok'), ('host/system/mgmt', 'ok')"
check "[$ok, ('host/opt/vms/gold', 'ok'), ('host/opt/vms/staging', 'inactive'), $system]"
"$hostsim" setmem host/opt/vms/gold 1024,2048,-1,-1
"$hostsim" mkgroup "$(printf 'host/opt/a\\"b\nc\377')"
check "[('host/opt/a\\\\\"b\\nc\\ufffd', 'undeclared'), $ok, ('host/opt/vms/gold', 'drifted'), ('host/opt/vms/staging', 'inactive'), $system]"
echo ok
