#!/usr/bin/env bash
# Checks the look of every tracked C++ file against .clang-format (the
# generated case tables excepted) and that the headers' interface comments
# are marked for the API reference. With --tidy it also runs clang-tidy with
# .clang-tidy over the framework's sources, using the compile commands of
# BUILD (default build/; configuring is enough, nothing needs building).
set -euo pipefail
cd "$(dirname "$0")/.."

# The tracked files matching the patterns; outside a git checkout, the
# tree's own files (no build output).
list() {
  if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    git ls-files "$@"
  else
    local names=()
    for p in "$@"; do names+=(-o -name "$p"); done
    find . \( -path './build*' -o -path './out' -o -path './.git' \) -prune -o -type f \( "${names[@]:1}" \) -print |
      sed 's|^\./||' | sort
  fi
}
mapfile -t files < <(list '*.cpp' '*.h' | grep -v '^runtime/CaseTables.cpp$')
clang-format --dry-run -Werror "${files[@]}"
echo "clang-format: ${#files[@]} files as .clang-format says"

# The comments above declarations in the framework's headers are `///`, so
# that the API reference (make docs) carries them; scripts/doc-comments.py
# marks them.
mapfile -t headers < <(list '*.h' | grep -Ev '^(tests|bench|fuzz|tools|examples)/')
python3 scripts/doc-comments.py --check "${headers[@]}"
echo "doc comments: ${#headers[@]} headers marked for the reference"

if [[ "${1:-}" == "--tidy" ]]; then
  build="${BUILD:-build}"
  mapfile -t sources < <(list '*.cpp' | grep -Ev '^(tests|bench|fuzz|tools)/|^runtime/CaseTables.cpp$')
  # run-clang-tidy reports findings as warnings and still succeeds: any
  # finding fails the check here. The build's compiler is GCC, whose
  # -Wconversion leaves out sign conversions; clang's includes them, so they
  # are turned off to check what the build checks.
  log="$(mktemp)"
  trap 'rm -f "$log"' EXIT
  run-clang-tidy -quiet -p "$build" -j "$(nproc)" -extra-arg=-Wno-sign-conversion "${sources[@]}" >"$log" 2>&1 || true
  if grep -qE '(warning|error): ' "$log"; then
    grep -E '(warning|error): ' "$log" | sort -u
    echo "clang-tidy: $(grep -cE '(warning|error): ' "$log") findings (.clang-tidy)" >&2
    exit 1
  fi
  echo "clang-tidy: ${#sources[@]} files clean"
fi
