#!/usr/bin/env bash
# Times `poolctl list` on 10,000 pools in 100 definition files and on 20,000
# in 200, against list_bench_baseline, which only loads the same files with
# YAML::LoadFile, in the same run. Each figure is the fastest of RUNS runs of
# the whole process, the two programs taking turns.
#
#   bench/list_bench.sh [BUILD_DIR] [RUNS]    (default: build, 7)
#
# BUILD_DIR needs poolctl, hostsim and bench/list_bench_baseline
# (cmake -DPOOLCTL_BENCH=ON).
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$(cd "${1:-$root/build}" && pwd)"
runs="${2:-7}"
poolctl="$build/poolctl" hostsim="$build/hostsim" baseline="$build/bench/list_bench_baseline"
for tool in "$poolctl" "$hostsim" "$baseline"; do
  [ -x "$tool" ] || { echo "list_bench: $tool is missing; build with -DPOOLCTL_BENCH=ON" >&2; exit 1; }
done

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export HOSTSIM_DB="$work/host.db"
"$hostsim" init

# generate FILES: FILES definition files of 100 pools each, every tenth
# pool with a computed value, all marked installed.
generate() {
  local dir="$work/$1"
  mkdir "$dir"
  awk -v files="$1" -v dir="$dir" 'BEGIN {
    for (f = 0; f < files; f++) {
      path = sprintf("%s/pools%03d.yaml", dir, f)
      for (p = 0; p < 100; p++) {
        printf "- name: bench/f%03d/p%02d\n", f, p > path
        printf "  memMin: %d\n  memShares: -3\n", 64 * (p + 1) > path
        if (p % 10 == 0) print "  memMax: !calc physKB / 1024 / 64" > path
        else printf "  memMax: %d\n", 128 * (p + 1) > path
        printf "  cpuMin: 10\n  cpuMax: 400\n  cpuShares: %d\n  isEnabled: yes\n", 500 + p > path
      }
      close(path)
    }
  }'
  "$hostsim" mark "$dir"/*.yaml
}

# elapsed COMMAND...: runs it with its output discarded; sets "elapsed" to the
# time it took in microseconds.
elapsed() {
  local t0 t1
  t0=$(date +%s%N)
  "$@" >/dev/null
  t1=$(date +%s%N)
  elapsed=$(((t1 - t0) / 1000))
}

# measure FILES: sets "list" and "load" to the fastest of RUNS timings.
measure() {
  local dir="$work/$1" i
  list="" load=""
  for ((i = 0; i < runs; i++)); do
    elapsed "$poolctl" list "$dir"/*.yaml
    if [ -z "$list" ] || [ "$elapsed" -lt "$list" ]; then list=$elapsed; fi
    elapsed "$baseline" "$dir"/*.yaml
    if [ -z "$load" ] || [ "$elapsed" -lt "$load" ]; then load=$elapsed; fi
  done
}

generate 100
generate 200
measure 100
list10=$list load10=$load
measure 200
list20=$list load20=$load

awk -v l10="$list10" -v b10="$load10" -v l20="$list20" -v b20="$load20" 'BEGIN {
  printf "%-8s %-6s %12s %14s %10s\n", "pools", "files", "list ms", "bare load ms", "list/load"
  printf "%-8d %-6d %12.1f %14.1f %10.2f\n", 10000, 100, l10 / 1000, b10 / 1000, l10 / b10
  printf "%-8d %-6d %12.1f %14.1f %10.2f\n", 20000, 200, l20 / 1000, b20 / 1000, l20 / b20
  printf "list, 20000 against 10000 pools: %.2f times the time (bare load: %.2f)\n", l20 / l10, b20 / b10
  printf "targets: list/load at most 1.25; 20000 against 10000 at most 2.2\n"
}'
