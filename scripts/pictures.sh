#!/usr/bin/env bash
# Regenerates the README's pictures from the real program on a private Xvfb:
# docs/checkercube.png (a screenshot) and docs/checkercube.gif (a short loop).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh preview
build=${BUILD_DIR:-build}
cmake -S . -B "$build" >/dev/null
cmake --build "$build" -j "$(nproc)" >/dev/null

. scripts/lib-xvfb.sh
trap xvfb_stop EXIT
xvfb_start 640x480
mkdir -p docs
start_program "$build/checkercube" < <(printf '50 60 300\n') >/dev/null
window=$(wait_for_window "$program_pid" 30) || {
    echo "checkercube's window did not appear within 30 s" >&2
    exit 1
}
wait_for_drawing "$window" 20
# past the first frames, whose pose is still flat on to the viewer
sleep 1
grab_png "$window" docs/checkercube.png
record_gif "$window" docs/checkercube.gif 2 40
rc=0
end_program "$window" "$program_pid" || rc=$?
if [ "$rc" -ne 0 ]; then
    echo "checkercube did not end with status 0 on Quit (status $rc)" >&2
    exit 1
fi
for f in docs/checkercube.png docs/checkercube.gif; do
    echo "$f: $(identify "$f" | wc -l) frame(s), $(identify -format '%wx%h' "${f}[0]"), $(stat -c %s "$f") bytes"
done
