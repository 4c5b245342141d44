#!/usr/bin/env bash
# Builds and runs the benchmarks, writes docs/benchmarks.md and prints every
# budget as met or missed. Exits non-zero when a budget is missed.
#   scripts/bench.sh                      -> builds in build/
#   KXSO_BENCH_BUILD_DIR=build-x scripts/bench.sh
#   KXSO_BENCH_REPEAT=1000                   calls for the memory-growth check
set -euo pipefail
cd "$(dirname "$0")/.."

dir="${KXSO_BENCH_BUILD_DIR:-build}"
targets=(kxso_micro_benchmarks kxso_job_benchmarks kxso_fanout_benchmarks kxso_netapp_discovery_benchmarks
  kxsnap kxsosnapazure)
if [ "$dir" = build ]; then
  scripts/build.sh release "${targets[@]}" azemu-udevadm
else
  for target in "${targets[@]}" azemu-udevadm; do
    cmake --build "$dir" -j "${KXSO_BUILD_JOBS:-2}" --target "$target"
  done
fi

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
# The plug-in's own log goes to a scratch file, never the machine's.
export KXSO_LOG_FILE="$work/kxso.log"

echo "== job benchmarks (in-process emulator) =="
status=0
"$dir/benchmarks/kxso_job_benchmarks" --out docs/benchmarks.md \
  --repeat "${KXSO_BENCH_REPEAT:-1000}" >"$work/jobs.md" 2>"$work/verdicts" || status=$?

echo "== requests side by side (200 ms per request) =="
"$dir/benchmarks/kxso_fanout_benchmarks" --out docs/benchmarks.md >"$work/fanout.md" || status=$?
grep -E '^- (met|MISSED)' "$work/fanout.md" >>"$work/verdicts" || true

echo "== NetApp Files discovery over 500 resource groups (200 ms per request) =="
"$dir/benchmarks/kxso_netapp_discovery_benchmarks" --out docs/benchmarks.md \
  >"$work/netapp-discovery.md" || status=$?
grep -E '^- (met|MISSED)' "$work/netapp-discovery.md" >>"$work/verdicts" || true

echo "== micro-benchmarks =="
"$dir/benchmarks/kxso_micro_benchmarks" --benchmark_min_time=0.2 | tee "$work/micro.txt"
{
  echo
  echo "## Micro-benchmarks"
  echo
  echo '```'
  cat "$work/micro.txt"
  echo '```'
} >>docs/benchmarks.md

echo "== budgets =="
cat "$work/verdicts"
echo "table: docs/benchmarks.md"
exit "$status"
