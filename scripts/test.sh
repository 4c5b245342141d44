#!/usr/bin/env bash
# Runs the whole test suite twice: on the normal build, then on a build with
# AddressSanitizer and UndefinedBehaviorSanitizer; then the concurrent-jobs
# suite under ThreadSanitizer; then runs every fuzz target
# for a few seconds (scripts/fuzz.sh SECONDS runs them for longer).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

# Each stage says how long it took, so the whole run can be kept within budget.
stage_started=$SECONDS
stage_name=""
stage() {
  [ -n "$stage_name" ] && echo "=== $stage_name: $((SECONDS - stage_started)) s ==="
  stage_name="$1"
  stage_started=$SECONDS
}
trap 'stage ""' EXIT

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

for kind in release asan; do
  dir=build
  skip=()
  if [ "$kind" = asan ]; then
    dir=build-asan
    # The fault matrix (1,300 job runs) runs in the release tree only: under
    # ASan it would take most of the time, and every end-to-end suite runs
    # there already.
    skip=(-E 'FaultMatrix')
  fi
  stage "$kind build and tests"
  echo "=== $kind build ($dir) ==="
  scripts/build.sh "$kind"
  (cd "$dir" && ctest -j "${KXSO_TEST_JOBS:-2}" --output-on-failure --timeout 300 "${skip[@]}")
done

# Jobs on several threads of one process, under ThreadSanitizer.
stage "ThreadSanitizer"
echo "=== concurrent jobs under ThreadSanitizer (build-tsan) ==="
scripts/build.sh tsan concurrency_tests azemu-udevadm
(cd build-tsan && TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$(pwd)/../tests/concurrency/tsan.supp" \
  ctest -R '^ConcurrentJobsTest' --output-on-failure --timeout 300)

# Every fuzz target replays its regression inputs and then fuzzes briefly.
stage "fuzz targets"
echo "=== fuzz targets (build-fuzz) ==="
scripts/fuzz.sh "${KXSO_FUZZ_SECONDS:-5}"
