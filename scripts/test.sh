#!/usr/bin/env bash
# Sets up, builds and runs the whole test suite headless.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh test

build=${BUILD_DIR:-build}
werror=OFF
[ "${CI:-}" = true ] && werror=ON

cmake -S . -B "$build" -DCHECKERCUBE_WERROR="$werror"
cmake --build "$build" -j "$(nproc)"
ctest --test-dir "$build" --output-on-failure -j "$(nproc)"

# the suites under tests/ once more under ASan and UBSan; the static checks,
# the checks of what ships,
# the valgrind run and the long run gain nothing from a second pass, and tests
# elsewhere (a preloaded allocation audit, say) may not mix with ASan at all
cmake -S . -B "$build-sanitize" -DCHECKERCUBE_WERROR="$werror" -DCHECKERCUBE_SANITIZE=ON
cmake --build "$build-sanitize" -j "$(nproc)"
tests/sanitize/ctest.sh --test-dir "$build-sanitize" --output-on-failure -j "$(nproc)" \
    -L sanitize -LE 'static|memcheck|long|release'

# the dialogue fuzzer, which needs clang's libFuzzer
CXX=clang++ cmake -S . -B "$build-fuzz" -DCHECKERCUBE_WERROR="$werror" -DCHECKERCUBE_SANITIZE=ON \
    -DCHECKERCUBE_FUZZ=ON
cmake --build "$build-fuzz" -j "$(nproc)" --target dialogue_fuzz
ctest --test-dir "$build-fuzz" --output-on-failure -R '^dialogue_fuzz$'

# the benchmark in brief, to show that it runs; CI gates on no number of it
bench_out=$(mktemp -d)
trap 'rm -rf "$bench_out"' EXIT
BUILD_DIR=$build scripts/bench.sh --quick --out "$bench_out"
