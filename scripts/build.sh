#!/usr/bin/env bash
# Configures and builds one build tree.
#   scripts/build.sh            -> build/       (RelWithDebInfo)
#   scripts/build.sh asan       -> build-asan/  (AddressSanitizer + UBSan)
#   scripts/build.sh tsan TARGET...  -> build-tsan/ (ThreadSanitizer), only the targets named
#   scripts/build.sh mutants TARGET... -> build-mutants/ (release settings, kept apart for
#                                         tests/mutants/run.sh so a mutant never lands in build/)
set -euo pipefail
cd "$(dirname "$0")/.."

kind="${1:-release}"
shift || true
targets=()
for target in "$@"; do
  targets+=(--target "$target")
done
case "$kind" in
  release) dir=build; flags=() ;;
  mutants) dir=build-mutants; flags=() ;;
  asan) dir=build-asan; flags=(-DKXSO_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug) ;;
  tsan) dir=build-tsan; flags=(-DKXSO_SANITIZE_THREAD=ON -DKXSO_BUILD_BENCHMARKS=OFF) ;;
  *) echo "usage: $0 [release|asan|tsan|mutants] [TARGET...]" >&2; exit 64 ;;
esac

generator=()
if command -v ninja >/dev/null 2>&1; then
  generator=(-G Ninja)
fi
# A compiler cache, where installed, makes rebuilds of other trees cheap.
launcher=()
if command -v ccache >/dev/null 2>&1; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
if [ ! -f "$dir/CMakeCache.txt" ]; then
  cmake -S . -B "$dir" "${generator[@]}" "${launcher[@]}" "${flags[@]}" >/dev/null
fi
cmake --build "$dir" -j "${KXSO_BUILD_JOBS:-2}" "${targets[@]}"
