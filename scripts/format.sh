#!/usr/bin/env bash
# Checks that every C++ source of the project is formatted as its
# .clang-format says; with --fix it formats them in place instead.
source "$(dirname "$0")/common.sh"
cd "$ROOT"
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    mapfile -t files < <(git ls-files '*.cpp' '*.h')
else
    mapfile -t files < <(find src tests tools bench -name '*.cpp' -o -name '*.h')
fi
if [ "${1:-}" = --fix ]; then
    exec clang-format -i "${files[@]}"
fi
if ! clang-format --dry-run -Werror "${files[@]}"; then
    echo "Formatting differs from .clang-format: scripts/format.sh --fix formats the files." >&2
    exit 1
fi
echo "Formatting: ${#files[@]} files as .clang-format says."
