#!/usr/bin/env bash
# Checks that the tree's C and C++ sources are formatted as the root .clang-format says, without
# changing any file. Lists each file that differs and fails when there is one; `clang-format -i FILE`
# formats it.
# Usage: format-check.sh [CLANG_FORMAT]   (default: clang-format, or $CLANG_FORMAT)
set -euo pipefail

cd "$(dirname "$0")/.."
tool=${1:-${CLANG_FORMAT:-clang-format}}
command -v "$tool" >/dev/null || { echo "format-check: $tool not found" >&2; exit 2; }

# The files under version control: build folders and generated sources are never looked at.
mapfile -t files < <(git ls-files -- '*.c' '*.cpp' '*.h')
differing=0
for file in "${files[@]}"; do
    if ! "$tool" --dry-run --Werror "$file" >/dev/null 2>&1; then
        echo "$file"
        differing=$((differing + 1))
    fi
done
if [ "$differing" -ne 0 ]; then
    echo "format-check: $differing of ${#files[@]} files differ from .clang-format" >&2
    exit 1
fi
echo "format-check: ${#files[@]} files formatted"
