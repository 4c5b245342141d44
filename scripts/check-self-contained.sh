#!/usr/bin/env bash
# Fails when a build file, script, test or fuzz harness reaches out of the
# source tree: the repository must build and pass its tests from a clone with
# nothing beside it. Reading the build tree, installed system packages and
# temporary folders is fine; a sibling folder or a developer's path is not.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$(pwd -P)"

problems=()
report() { problems+=("$1:$2: $3"); }

# Every tracked (or new, not ignored) file that builds, runs or tests something.
mapfile -t files < <(git ls-files -co --exclude-standard |
  grep -E '(^|/)(CMakeLists\.txt|[^/]+\.cmake|[^/]+\.cmake\.in)$|\.(sh|cpp|h|hpp|json)$|^\.ci/' |
  grep -v -e '^tests/data/' -e '^scripts/check-self-contained\.sh$' || true)

if [ ${#files[@]} -eq 0 ]; then
  echo "check-self-contained: git listed no files; run it inside a checkout" >&2
  exit 1
fi

for file in "${files[@]}"; do
  [ -f "$file" ] || continue
  # Patterns that name a place outside the tree, whatever the language.
  while IFS=: read -r line text; do
    report "$file" "$line" "names a folder beside the repository: ${text//[[:space:]]/ }"
  done < <(grep -nE '\.\./shared|/work/|\$\{(CMAKE|PROJECT)_SOURCE_DIR\}/\.\.' "$file" || true)
  case "$file" in
    *.sh | .ci/* | *CMakeLists.txt | *.cmake)
      # A developer's own folders: tests may set HOME to such a name, builds may not read one.
      while IFS=: read -r line text; do
        report "$file" "$line" "names a developer's folder: ${text//[[:space:]]/ }"
      done < <(grep -nE '(^|[^A-Za-z_])(/home/|/root/|~/)' "$file" || true)
      ;;
  esac
  case "$file" in
    *.sh | .ci/*)
      # `cd ..` from the repository root leaves the tree; `cd "$(dirname "$0")/.."` does not.
      while IFS=: read -r line text; do
        report "$file" "$line" "changes to the folder above: ${text//[[:space:]]/ }"
      done < <(grep -nE '(^|[^/"])cd +\.\.($|[[:space:];&)/])' "$file" || true)
      ;;
    *.cpp | *.h | *.hpp)
      # A path built on a source-tree constant that climbs out of it.
      while IFS=: read -r line text; do
        report "$file" "$line" "climbs out of the source tree: ${text//[[:space:]]/ }"
      done < <(grep -nE '_DIR\)?"? *\+ *"/\.\./?' "$file" || true)
      ;;
  esac
  # In CMake files, every path under the current source folder must stay in the tree.
  case "$file" in
    *CMakeLists.txt | *.cmake)
      dir="$(dirname "$file")"
      while IFS=: read -r line relative; do
        target="$(realpath -m "$root/$dir/$relative")"
        case "$target/" in
          "$root"/*) ;;
          *) report "$file" "$line" "leaves the tree: \${CMAKE_CURRENT_SOURCE_DIR}/$relative" ;;
        esac
      done < <(grep -noE '\$\{CMAKE_CURRENT_(SOURCE|LIST)_DIR\}/[^ ")]*' "$file" |
        sed -E 's/\$\{CMAKE_CURRENT_(SOURCE|LIST)_DIR\}\///' || true)
      ;;
  esac
done

if [ ${#problems[@]} -gt 0 ]; then
  echo "The repository must stand on its own; these lines reach outside it:" >&2
  printf '  %s\n' "${problems[@]}" >&2
  echo "Copy what they need into the tree (test data goes under tests/data/)." >&2
  exit 1
fi
echo "self-contained: ${#files[@]} build files, scripts and tests read nothing outside the tree"
