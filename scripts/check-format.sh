#!/usr/bin/env bash
# Fails when a tracked C++ file differs from what .clang-format makes of it.
# `scripts/check-format.sh --fix` rewrites them instead.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files '*.cpp' '*.h')
if [ "${1:-}" = "--fix" ]; then
  clang-format -i "${files[@]}"
  exit 0
fi
if ! clang-format --dry-run --Werror "${files[@]}" 2>/tmp/qorvel-format.$$; then
  grep -E "^[^ ].*: (error|warning):" /tmp/qorvel-format.$$ | cut -d: -f1 | sort -u |
    sed 's/^/needs clang-format: /'
  rm -f /tmp/qorvel-format.$$
  echo "run scripts/check-format.sh --fix" >&2
  exit 1
fi
rm -f /tmp/qorvel-format.$$
