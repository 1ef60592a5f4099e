#!/usr/bin/env bash
# The host's libraries, named by the three cache variables, take hostsim's
# place in poolctl's and poolstat's link; naming only some fails at configure.
#   host_libraries_test.sh CMAKE SOURCE_DIR
set -euo pipefail
cmake=$1 source=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
libraries=(-lhostkni -lhoststore -lhostfss)
"$cmake" -G "Unix Makefiles" -S "$source" -B "$scratch/all" -DPOOLCTL_KNI_LIBRARY=-lhostkni \
  -DPOOLCTL_CONFIG_STORE_LIBRARY=-lhoststore -DPOOLCTL_FEATURE_STATE_LIBRARY=-lhostfss >/dev/null
for program in cli/CMakeFiles/poolctl.dir poolstat-build/CMakeFiles/poolstat.dir; do
  link=" $(cat "$scratch/all/$program/link.txt") "
  for library in "${libraries[@]}"; do
    [[ "$link" == *" $library "* ]] || { echo "$program: $library not linked"; exit 1; }
  done
  [[ "$link" != *libhostsim* ]] || { echo "$program: still links hostsim"; exit 1; }
done
if "$cmake" -G "Unix Makefiles" -S "$source" -B "$scratch/one" -DPOOLCTL_KNI_LIBRARY=-lhostkni \
     >"$scratch/out" 2>&1; then
  echo "one library named: configured"
  exit 1
fi
grep -q "all three or none; unnamed:" "$scratch/out" ||
  { cat "$scratch/out"; exit 1; }
echo "host libraries: linked in hostsim's place"
