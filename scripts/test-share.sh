#!/usr/bin/env bash
# Prints the share of the project's C++ that is tests: lines of .cpp/.h/.hpp
# under tests/ against the plug-in, platform, kxsnap and emulator sources.
# We keep tests at about a third of all C++ (35 % at most).
set -euo pipefail
cd "$(dirname "$0")/.."

count() {
  git ls-files -co --exclude-standard -- "$@" | grep -E '\.(cpp|h|hpp)$' |
    while read -r file; do [ -f "$file" ] && cat "$file"; done | wc -l
}
tests=$(count tests)
code=$(count include platform src KXSnapCloud kxsnap emulator)
awk -v t="$tests" -v c="$code" 'BEGIN {
  printf "tests: %d lines, code: %d lines, tests are %.1f %% of all C++\n", t, c, 100 * t / (t + c) }'
