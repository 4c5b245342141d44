#!/usr/bin/env bash
# Builds the libFuzzer targets in build-fuzz/ (clang, ASan, UBSan), replays
# every input that once crashed a target (fuzz/regressions/<target>/), then
# fuzzes each target for a while.
#   scripts/fuzz.sh            5 seconds per target (what the test command runs)
#   scripts/fuzz.sh 600        ten minutes per target
#   scripts/fuzz.sh 600 fuzz_compute_json   one target only
# A crash leaves its input in build-fuzz/crashes/; once fixed, copy it into
# fuzz/regressions/<target>/ so that every later run replays it.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-5}"
only="${2:-}"
dir=build-fuzz
examples=tests/data/azure-examples

if [ ! -f "$dir/CMakeCache.txt" ]; then
  generator=()
  command -v ninja >/dev/null 2>&1 && generator=(-G Ninja)
  CC=clang CXX=clang++ cmake -S . -B "$dir" "${generator[@]}" -DKXSO_FUZZ=ON \
    -DKXSO_BUILD_TESTS=OFF -DKXSO_BUILD_EMULATOR=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
# Only the fuzzers: the plug-in and the programs are built and tested elsewhere.
cmake --build "$dir" -j "${KXSO_BUILD_JOBS:-2}" --target fuzzers

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
mkdir -p "$dir/crashes"

# JSON parsers start from the example documents the tests use.
json_seeds() {
  case "$1" in
    fuzz_compute_json | fuzz_json | fuzz_anf_json)
      [ -d "$examples" ] && echo "$examples" ;;
  esac
}

for binary in "$dir"/fuzz/fuzz_*; do
  target="$(basename "$binary")"
  [ -n "$only" ] && [ "$only" != "$target" ] && continue
  regressions="fuzz/regressions/$target"
  replay=()
  for input in "$regressions"/*; do
    [ -f "$input" ] && [ "$(basename "$input")" != ".keep" ] && replay+=("$input")
  done
  if [ ${#replay[@]} -gt 0 ]; then
    echo "=== $target: replaying ${#replay[@]} regression input(s) ==="
    "$binary" "${replay[@]}" 2>&1 | tail -n 3
  fi
  rm -f "$dir/crashes/$target-"*
  corpus="$dir/corpus/$target"
  mkdir -p "$corpus"
  seeds=()
  [ -d "fuzz/seeds/$target" ] && seeds+=("fuzz/seeds/$target")
  extra="$(json_seeds "$target")"
  [ -n "$extra" ] && seeds+=("$extra")
  echo "=== $target: fuzzing for ${seconds}s ==="
  "$binary" -max_total_time="$seconds" -rss_limit_mb=2048 -max_len=65536 -print_final_stats=1 \
    -artifact_prefix="$dir/crashes/$target-" "$corpus" "${seeds[@]}" 2>&1 |
    grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb)|ERROR|SUMMARY|Test unit written' || true
  # grep hides libFuzzer's exit status: a crash shows as an artifact.
  if ls "$dir/crashes/$target-"* >/dev/null 2>&1; then
    echo "$target: crashing input(s) in $dir/crashes/" >&2
    exit 1
  fi
done
echo "fuzzing: every target ran clean"
