#!/usr/bin/env bash
# Fails, naming them, when C++ files differ from the checked-in .clang-format.
# With --fix, formats them instead.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
command -v clang-format >/dev/null || { echo "check-format: clang-format is not installed" >&2; exit 2; }
mapfile -t files < <(git ls-files -- '*.cpp' '*.h')
if [ "${1:-}" = --fix ]; then
  clang-format -i "${files[@]}"
  exit 0
fi
bad=()
for file in "${files[@]}"; do
  clang-format --dry-run --Werror "$file" >/dev/null 2>&1 || bad+=("$file")
done
if ((${#bad[@]})); then
  echo "These files differ from .clang-format (bash scripts/check-format.sh --fix):" >&2
  printf '  %s\n' "${bad[@]}" >&2
  exit 1
fi
echo "check-format: ${#files[@]} files as .clang-format wants them"
