#!/usr/bin/env bash
# Fails, listing the files, when a tracked C++ source differs from what
# clang-format makes of it with the project's .clang-format.
# scripts/check-format.sh --fix formats them in place instead.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files '*.cpp' '*.h')
if [[ "${1:-}" == "--fix" ]]; then
  clang-format -i "${files[@]}"
  exit 0
fi
drifted=()
for f in "${files[@]}"; do
  [[ -f "$f" ]] || continue
  if ! clang-format --dry-run --Werror "$f" >/dev/null 2>&1; then
    drifted+=("$f")
  fi
done
if ((${#drifted[@]})); then
  echo "Not formatted with .clang-format (run scripts/check-format.sh --fix):"
  printf '  %s\n' "${drifted[@]}"
  exit 1
fi
echo "All ${#files[@]} C++ files are formatted."
