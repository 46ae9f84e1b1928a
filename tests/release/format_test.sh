#!/usr/bin/env bash
# Every C/C++ file that git tracks is formatted as the checked-in .clang-format says.
set -uo pipefail
cd "$1" || exit 1

if ! git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    echo "not a git checkout, so there is no list of tracked files to check"
    exit 77
fi
mapfile -t files < <(git ls-files -- '*.c' '*.cc' '*.cpp' '*.cxx' '*.h' '*.hh' '*.hpp')
if [ ${#files[@]} -eq 0 ]; then
    echo "FAIL: git lists no C/C++ files in $PWD" >&2
    exit 1
fi
clang-format --dry-run -Werror "${files[@]}" || {
    echo "FAIL: run clang-format -i on the files above" >&2
    exit 1
}
echo "${#files[@]} files formatted"
