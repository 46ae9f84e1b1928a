#!/usr/bin/env bash
# Installs the Debian packages that building and running (setup.sh run) or
# building and testing (setup.sh test) or benchmarking (setup.sh bench) need,
# where any is missing. setup.sh preview adds what the headless preview and the
# pictures need.
set -euo pipefail

run_packages=(cmake make g++ freeglut3-dev libgl-dev libgl1-mesa-dri)
preview_packages=("${run_packages[@]}" xvfb xdotool imagemagick)
test_packages=("${run_packages[@]}" libgtest-dev xvfb xauth libx11-dev libxtst-dev binutils)
test_packages+=(xdotool imagemagick dpkg-dev clang-format git)
bench_packages=("${run_packages[@]}" xvfb binutils gnuplot-nox)
# hardening: the fuzzer, the static checks and memcheck
test_packages+=(clang libfuzzer-14-dev clang-tidy cppcheck valgrind)

case "${1:-}" in
run) wanted=("${run_packages[@]}") ;;
preview) wanted=("${preview_packages[@]}") ;;
test) wanted=("${test_packages[@]}") ;;
bench) wanted=("${bench_packages[@]}") ;;
*)
    echo "usage: $0 run|preview|test|bench" >&2
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
