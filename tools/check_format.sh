#!/usr/bin/env bash
# Compares the C++ files of src, tests, bench, fuzz and tools with the repository's .clang-format.
# Prints each file that differs and their count. Exit status 0, unless --strict is given and a file
# differs (1), or clang-format is missing (2).
# Usage: tools/check_format.sh [--strict]
set -uo pipefail
cd "$(dirname "$0")/.."

strict=0
[ "${1:-}" = "--strict" ] && strict=1

if ! command -v clang-format >/dev/null; then
  echo "format: clang-format is not installed" >&2
  exit 2
fi

differ=0
total=0
while IFS= read -r -d '' file; do
  total=$((total + 1))
  if ! clang-format --dry-run --Werror "$file" >/dev/null 2>&1; then
    echo "format differs: $file"
    differ=$((differ + 1))
  fi
done < <(find src tests bench fuzz tools -type f \( -name '*.cpp' -o -name '*.h' \) -print0 | sort -z)

echo "format: $differ of $total C++ files differ from .clang-format"
if [ "$strict" -eq 1 ] && [ "$differ" -gt 0 ]; then
  exit 1
fi
exit 0
