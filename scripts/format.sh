#!/usr/bin/env bash
# Checks that every C and C++ source in git is laid out as .clang-format
# says (the test command runs this), or with --fix lays them out so.
# clang-format 14 is Debian 12's; another version may lay out some lines
# differently, so the check names its version.
set -euo pipefail
cd "$(dirname "$0")/.."
CLANG_FORMAT=${CLANG_FORMAT:-clang-format-14}
mapfile -t files < <(git ls-files '*.c' '*.h' '*.cpp' '*.hpp')
if [[ ${1:-} == --fix ]]; then
  exec "$CLANG_FORMAT" -i "${files[@]}"
fi
if ! "$CLANG_FORMAT" --dry-run --Werror "${files[@]}"; then
  echo "format: the files above differ from .clang-format; scripts/format.sh --fix lays them out" >&2
  exit 1
fi
echo "format: ${#files[@]} files as .clang-format lays them out"
