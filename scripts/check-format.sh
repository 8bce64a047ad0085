#!/usr/bin/env bash
# Fails when a C or C++ file of the product, its tests, benchmarks or tools
# is not formatted as .clang-format says (Debian 12's clang-format 14).
set -euo pipefail
cd "$(dirname "$0")/.."
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  mapfile -t files < <(git ls-files -co --exclude-standard '*.c' '*.cpp' '*.h')
else
  mapfile -t files < <(find . -path ./build -prune -o -type f \( -name '*.c' -o -name '*.cpp' -o -name '*.h' \) -print)
fi
clang-format --dry-run -Werror "${files[@]}"
echo "${#files[@]} files formatted as .clang-format says"
