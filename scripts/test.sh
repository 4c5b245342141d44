#!/usr/bin/env bash
# Runs the whole test suite twice: on the normal build, then on a build with
# AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

for kind in release asan; do
  dir=build
  [ "$kind" = asan ] && dir=build-asan
  echo "=== $kind build ($dir) ==="
  scripts/build.sh "$kind"
  (cd "$dir" && ctest -j "${KXSO_TEST_JOBS:-2}" --output-on-failure --timeout 300)
done
