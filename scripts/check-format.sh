#!/usr/bin/env bash
# Fails, naming the files, when a C++ source differs from what clang-format makes of it with
# the checked-in .clang-format. `bash scripts/check-format.sh --fix` formats them instead.
set -euo pipefail
cd "$(dirname "$0")/.."

mapfile -d '' files < <(git ls-files -z -- '*.cpp' '*.hpp')
if [ "${1:-}" = "--fix" ]; then
  clang-format -i "${files[@]}"
  exit 0
fi

unformatted=()
for f in "${files[@]}"; do
  clang-format "$f" | cmp -s - "$f" || unformatted+=("$f")
done
if [ ${#unformatted[@]} -gt 0 ]; then
  echo "Not formatted with clang-format (bash scripts/check-format.sh --fix):" >&2
  printf '  %s\n' "${unformatted[@]}" >&2
  exit 1
fi
echo "clang-format: ${#files[@]} files formatted"
