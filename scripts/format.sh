#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Lays out every .cpp and .h as .clang-format says; with --check, changes nothing and fails
# (listing the files) when one is not laid out so. scripts/test.sh runs the check.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
mapfile -t files < <(git ls-files '*.cpp' '*.h')
if [ "${1:-}" = "--check" ]; then
    if ! report=$(clang-format --style=file --dry-run -Werror "${files[@]}" 2>&1); then
        grep -o '^[^:]*\.\(cpp\|h\):' <<<"$report" | sort -u | sed 's/:$/: not laid out as .clang-format says (scripts\/format.sh)/' >&2
        exit 1
    fi
    exit 0
fi
clang-format --style=file -i "${files[@]}"
