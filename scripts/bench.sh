#!/usr/bin/env bash
# Benchmark: frame rate, first-frame latency and peak memory of checkercube
# against a clear-and-swap baseline on the same GL stack, in alternated runs
# on a private Xvfb. Writes benchmarks.md, fps.png and the raw lines of every
# run, benchmarks-runs.txt, to docs/.
#
# usage: scripts/bench.sh [--quick] [--out DIR]
#   --quick  one size, one run of one second each, to show that it works
#   --out    where the report goes (default docs)
set -euo pipefail
cd "$(dirname "$0")/.."

quick=0
out=docs
while [ $# -gt 0 ]; do
    case $1 in
    --quick) quick=1 ;;
    --out)
        out=${2:?--out needs a directory}
        shift
        ;;
    *)
        sed -n 's/^# \{0,1\}//; /^usage/,/^$/p' "$0" >&2
        exit 2
        ;;
    esac
    shift
done

if [ "$quick" = 1 ]; then
    sizes=(100)
    runs=1
    seconds=1
else
    sizes=(100 300 500 1000)
    runs=7
    seconds=2
fi

scripts/setup.sh bench

build=${BUILD_DIR:-build}
cmake -S . -B "$build" >/dev/null
cmake --build "$build" -j "$(nproc)" --target checkercube checkercube_baseline bench_run frame_clock frame_audit >/dev/null
program=$build/checkercube
baseline=$build/bench/checkercube_baseline
runner=$build/bench/bench_run
clock=$(realpath "$build/bench/libframe_clock.so")
audit_lib=$(realpath "$build/bench/libframe_audit.so")

source bench/xvfb.sh
work=$(mktemp -d)
trap 'stop_xvfb; rm -rf "$work"' EXIT
# room for the largest window at (10, 10)
start_xvfb 1280x1024x24
mkdir -p "$out"

load_before=$(cut -d' ' -f1-3 /proc/loadavg)
started=$(date +%s)
for size in "${sizes[@]}"; do
    for run in $(seq "$runs"); do
        # A B A B: both see the same stretch of a machine that others may share
        for prog in checkercube baseline; do
            exe=$program
            [ "$prog" = baseline ] && exe=$baseline
            if ! line=$("$runner" --preload "$clock" --record "$work/record" \
                --answers "10 10 $size" --seconds "$seconds" -- "$exe"); then
                echo "bench: $prog at $size px failed: $line" >&2
                exit 1
            fi
            echo "prog=$prog size=$size run=$run $line" >>"$work/runs.txt"
            printf '%-12s %5d px  run %d  %s\n' "$prog" "$size" "$run" \
                "$(grep -o 'fps=[^ ]*' <<<"$line") $(grep -o 'first_swap_ms=[^ ]*' <<<"$line") $(grep -o 'rss_kb=[^ ]*' <<<"$line")"
        done
    done
done
# the frame audit brings its own Xvfb
audit_status=passed
audit=$(bash bench/frame_audit_test.sh "$program" "$baseline" "$runner" "$audit_lib") || audit_status=failed
load_after=$(cut -d' ' -f1-3 /proc/loadavg)
elapsed=$(($(date +%s) - started))

cpus=$(nproc)
cpu_model=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)
version() {
    dpkg-query -W -f='${Version}' "$1" 2>/dev/null || echo unknown
}
glut_package=$(dpkg-query -S "$(realpath "$(ldd "$program" | awk '/libglut/ { print $3 }')")" 2>/dev/null | cut -d: -f1 || true)
gl_info=$("$baseline" --gl-info | paste -sd'|' | sed 's/|/, /g')
busy=$(awk -v l="${load_before%% *}" -v n="$cpus" 'BEGIN { print (l >= n / 2) ? 1 : 0 }')

{
    echo "# Benchmarks"
    echo ""
    echo "checkercube against a baseline with the same window, display mode, console"
    echo "start-up and event loop whose frame only clears and swaps: the ceiling of this GL"
    echo "stack at a given window size. Produced by \`scripts/bench.sh\`$([ "$quick" = 1 ] && echo " --quick")"
    echo "in ${elapsed} s; $runs run(s) of ${seconds} s per program and window size, the two programs"
    echo "alternating, on a private Xvfb of 1280 × 1024 × 24."
    echo ""
    echo "## Machine"
    echo ""
    echo "- CPUs: $cpus ($cpu_model)"
    echo "- GL: $gl_info"
    echo "- Mesa: libgl1-mesa-dri $(version libgl1-mesa-dri)"
    echo "- freeglut: ${glut_package:-libglut} $(version "${glut_package:-freeglut3}")"
    echo "- X server: xvfb $(version xvfb)"
    echo "- load average (1, 5, 15 min): $load_before before the runs, $load_after after"
    echo ""
    if [ "$busy" = 1 ]; then
        echo "The machine was shared: other jobs were running, as the load average shows."
    else
        echo "The machine looked quiet by its load average, but it may still have been shared."
    fi
    echo "Absolute numbers move with that load, so the report quotes ratios between the"
    echo "program and the baseline, measured in alternated runs of the same session."
    echo ""
    awk -v datfile="$work/fps.dat" -v fitfile="$work/fit.gp" -f bench/report.awk "$work/runs.txt"
    echo ""
    echo "## Per-frame work"
    echo ""
    frames=$(sed -n 's/^allocations per call site over \([0-9]*\) frames.*/\1/p' <<<"$audit")
    echo "The \`frame_audit\` test ($audit_status in this session) preloads \`bench/frame_audit.cpp\`"
    echo "into both programs and counts, over ${frames:-?} frames after 100 of warm-up, every heap"
    echo "allocation with the call in the program's own code inside which it happened, and"
    echo "every GL state query, \`glFinish\`/\`glFlush\`, texture upload or console write made"
    echo "from the program's code. Allocations per frame:"
    echo ""
    echo "| call in the frame | checkercube | baseline |"
    echo "|---|---:|---:|"
    awk -v n="${frames:-1}" 'NF == 3 && /^  / { printf "| `%s` | %.3f | %.3f |\n", $1, $2 / n, $3 / n }' <<<"$audit"
    echo ""
    grep '^FAIL' <<<"$audit" | sed 's/^/- /' || true
    own=$(sed -n 's/^program:.* allocs_own=\([^ ]*\).* calls_own=\([^ ]*\).*/\1 and \2/p' <<<"$audit")
    if [ "$audit_status" = passed ]; then
        echo "checkercube itself allocates nothing and makes none of those calls per frame"
        echo "(\`allocs_own\` and \`calls_own\`: $own)."
    else
        echo "The audit found work of checkercube's own per frame (\`allocs_own\` and"
        echo "\`calls_own\`: ${own:-not measured}); see the failures above."
    fi
    echo "The allocations above happen inside Mesa and Xlib: in \`glClear\`, Mesa asks the X"
    echo "server for the window's geometry, as often for checkercube as for the baseline; in"
    echo "\`glutSwapBuffers\`, llvmpipe flushes the frame, and a frame with six textured"
    echo "polygons costs it more allocations than one that is only cleared."
    echo "\`renderFrame\`, \`advanceSpin\` and \`drawCube\` make only the calls that drawing"
    echo "the frame needs (clear, texture state and bind, the three rotations, six"
    echo "immediate-mode polygons, swap, redisplay request) and no query, stall, upload"
    echo "or output of their own."
    echo ""
    echo "## Plot"
    echo ""
    echo "![frames per second against window size](fps.png)"
    echo ""
    echo "Points are medians; lines are the frame-time fits above. Every run's raw line is"
    echo "in [benchmarks-runs.txt](benchmarks-runs.txt)."
} >"$out/benchmarks.md"
cp "$work/runs.txt" "$out/benchmarks-runs.txt"

[ -s "$work/fit.gp" ] || echo "fa_cc = 0; fb_cc = 0; fa_base = 0; fb_base = 0" >"$work/fit.gp"
gnuplot <<GNUPLOT
load "$work/fit.gp"
set terminal pngcairo size 800,520 font "sans,10"
set output "$out/fps.png"
set title "checkercube and the clear-and-swap baseline (Mesa llvmpipe on Xvfb)"
set xlabel "window size (px, square)"
set ylabel "frames per second (median)"
set logscale xy
set xrange [80:1200]
set xtics (100, 300, 500, 1000)
set grid
set key top right
cc(x) = fb_cc > 0 ? 1000 / (fa_cc + fb_cc * x * x / 1e6) : 1/0
base(x) = fb_base > 0 ? 1000 / (fa_base + fb_base * x * x / 1e6) : 1/0
plot "$work/fps.dat" using 1:3 with points pt 5 ps 1.3 lc rgb "#808080" title "baseline", \
     base(x) with lines lc rgb "#808080" notitle, \
     "$work/fps.dat" using 1:2 with points pt 7 ps 1.3 lc rgb "#008b8b" title "checkercube", \
     cc(x) with lines lc rgb "#008b8b" notitle
GNUPLOT

echo ""
sed -n '/^## Results/,/^## How/p' "$out/benchmarks.md" | sed '$d'
echo "report: $out/benchmarks.md, plot: $out/fps.png"
