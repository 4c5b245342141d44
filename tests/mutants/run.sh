#!/usr/bin/env bash
# The mutation check: every patch in tests/mutants/ plants one deliberate fault.
# For each, in turn: apply it, rebuild the suites its header names in
# build-mutants/ (release settings), run them until the first failing test,
# and revert it whatever happened. A mutant no suite fails is a gap in the tests.
#
#   tests/mutants/run.sh            every mutant
#   tests/mutants/run.sh 07 12-foo  the mutants whose file names start so
#
# Patch header (lines before the diff; git apply ignores them):
#   # risk: what real fault the mutant models
#   # suites: azure_api_tests azure_driver_tests   (run in this order)
#   # filter: Revert*:Delete*                      (optional --gtest_filter)
#
# Exit 0 only when every mutant was caught. Not part of CI: it rebuilds and
# reruns suites once per mutant. KXSO_MUTANT_TIMEOUT bounds each suite run
# (seconds, default 300); KXSO_BUILD_JOBS is passed on to scripts/build.sh.
set -uo pipefail
cd "$(dirname "$0")/../.."

readonly mutant_dir=tests/mutants
readonly build_dir=build-mutants
readonly log_dir="$build_dir/mutant-logs"
readonly suite_timeout="${KXSO_MUTANT_TIMEOUT:-300}"

applied=""

revert_applied() {
  if [ -n "$applied" ]; then
    if ! git apply -R "$applied" 2>/dev/null; then
      # The tree was clean before the patch: restoring its files is exact.
      git apply --numstat "$applied" | cut -f3 | xargs -r git checkout --
    fi
    applied=""
  fi
}
trap revert_applied EXIT
trap 'revert_applied; exit 130' INT TERM

tree_is_clean() {
  [ -z "$(git status --porcelain)" ]
}

header_value() {
  local key="$1" patch="$2"
  sed -n "/^diff --git /q; s/^# *$key: *//p" "$patch" | head -n 1
}

# The mutants named on the command line (by leading part of the file name), or all.
select_patches() {
  if [ "$#" -eq 0 ]; then
    ls "$mutant_dir"/*.patch 2>/dev/null
    return
  fi
  local name match
  for name in "$@"; do
    name="${name%.patch}"
    match=$(ls "$mutant_dir/$name"*.patch 2>/dev/null | head -n 1)
    if [ -z "$match" ]; then
      echo "no mutant named $name" >&2
      exit 64
    fi
    echo "$match"
  done
}

suite_binary() {
  find "$build_dir" -maxdepth 3 -type f -name "$1" -perm -u+x 2>/dev/null | head -n 1
}

all_built() {
  local suite
  for suite in "$@"; do
    [ -n "$(suite_binary "$suite")" ] || return 1
  done
}

# Runs one suite; prints what caught the mutant, nothing when every test passed.
run_suite() {
  local suite="$1" filter="$2" log="$3" binary status failed
  binary=$(suite_binary "$suite")
  local args=(--gtest_brief=1 --gtest_fail_fast)
  if [ -n "$filter" ]; then
    args+=("--gtest_filter=$filter")
  fi
  mkdir -p "$PWD/$build_dir/test-logs"
  (cd "$(dirname "$binary")" &&
    KXSO_LOG_FILE="$OLDPWD/$build_dir/test-logs/kxso.log" \
      timeout -k 10 "$suite_timeout" "./$(basename "$binary")" "${args[@]}") >>"$log" 2>&1
  status=$?
  if [ "$status" -eq 0 ]; then
    return
  fi
  if [ "$status" -eq 124 ] || [ "$status" -eq 137 ]; then
    echo "$suite (timed out after ${suite_timeout}s)"
    return
  fi
  failed=$(sed -n 's/^\[  FAILED  \] \([A-Za-z0-9_/.]*\).*/\1/p' "$log" | head -n 1)
  echo "${failed:-$suite (exit $status)}"
}

caught=0
missed=0
not_applied=0

check_mutant() {
  local patch="$1" name suites filter suite culprit=""
  name=$(basename "$patch" .patch)
  suites=$(header_value suites "$patch")
  filter=$(header_value filter "$patch")
  if [ -z "$suites" ]; then
    echo "$name: DOES NOT APPLY (no '# suites:' header)"
    not_applied=$((not_applied + 1))
    return
  fi
  if ! git apply "$patch" 2>"$log_dir/$name.apply.log"; then
    echo "$name: DOES NOT APPLY"
    not_applied=$((not_applied + 1))
    return
  fi
  applied="$patch"
  # shellcheck disable=SC2086 # the suites are a word list
  if ! scripts/build.sh mutants $suites >"$log_dir/$name.build.log" 2>&1 ||
    ! all_built $suites; then
    revert_applied
    echo "$name: BUILD FAILED"
    not_applied=$((not_applied + 1))
    return
  fi
  : >"$log_dir/$name.test.log"
  for suite in $suites; do
    culprit=$(run_suite "$suite" "$filter" "$log_dir/$name.test.log")
    [ -n "$culprit" ] && break
  done
  revert_applied
  if [ -n "$culprit" ]; then
    echo "$name: caught by $culprit"
    caught=$((caught + 1))
  else
    echo "$name: MISSED"
    missed=$((missed + 1))
  fi
}

main() {
  local patches patch
  patches=$(select_patches "$@") || exit $?
  if [ -z "$patches" ]; then
    echo "no mutants in $mutant_dir" >&2
    exit 64
  fi
  mkdir -p "$log_dir"
  exec 9>"$build_dir/.mutants.lock"
  if ! flock -n 9; then
    echo "another mutation run holds $build_dir" >&2
    exit 75
  fi
  for patch in $patches; do
    if ! tree_is_clean; then
      echo "the working tree has changes; commit or stash them first:" >&2
      git status --short >&2
      exit 65
    fi
    check_mutant "$patch"
  done
  echo "mutants: $caught caught, $missed missed, $not_applied not applied"
  [ "$missed" -eq 0 ] && [ "$not_applied" -eq 0 ]
}

main "$@"
