#!/usr/bin/env bash
# Runs ctest (arguments passed on) with the environment the sanitizer build
# needs: its suppressions, and Mesa's driver kept loaded to the end.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

# Mesa unloads its driver before the leak check runs, which leaves the driver's
# own leaks without a module name that a suppression could match; preloaded,
# it stays mapped, and lsan.supp names it
driver=$(ls /usr/lib/*/dri/swrast_dri.so /usr/lib64/dri/swrast_dri.so 2>/dev/null | head -n 1 || true)
if [ -n "$driver" ]; then
    export LD_PRELOAD="$driver${LD_PRELOAD:+:$LD_PRELOAD}"
fi
# that puts the driver ahead of the ASan runtime, which is harmless: the
# driver defines no allocator of its own, so ASan's still takes every call
export ASAN_OPTIONS="verify_asan_link_order=0:detect_leaks=1:abort_on_error=0${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
export LSAN_OPTIONS="suppressions=$here/lsan.supp:print_suppressions=0${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
export UBSAN_OPTIONS="print_stacktrace=1${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}"
exec ctest "$@"
