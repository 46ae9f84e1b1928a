#!/usr/bin/env bash
# Installs the Debian packages that building and running (setup.sh run) or
# building and testing (setup.sh test) need, where any is missing.
set -euo pipefail

run_packages=(cmake make g++ freeglut3-dev libgl-dev libgl1-mesa-dri)
test_packages=("${run_packages[@]}" libgtest-dev xvfb xauth libx11-dev libxtst-dev)
# hardening: the fuzzer, the static checks and memcheck
test_packages+=(clang libfuzzer-14-dev clang-tidy cppcheck valgrind)

case "${1:-}" in
run) wanted=("${run_packages[@]}") ;;
test) wanted=("${test_packages[@]}") ;;
*)
    echo "usage: $0 run|test" >&2
    exit 2
    ;;
esac

missing=()
for p in "${wanted[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
    echo "missing packages; install them with:" >&2
    echo "  sudo apt-get install -y ${missing[*]}" >&2
    exit 1
fi
echo "installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
