#!/usr/bin/env bash
# The run command without a display: it says so, passes the answers from its
# input to the real dialogue, and records a GIF of the real window.
set -uo pipefail
src=$1
build=$2

fail()
{
    echo "FAIL: $*" >&2
    exit 1
}

work=$(mktemp -d "${TMPDIR:-/tmp}/checkercube-preview.XXXXXX")
trap 'rm -rf "$work"' EXIT
touch "$work/start"
sleep 1 # mtimes may be coarse; a GIF from this run is then strictly newer

size=240
printf '30 40 %s\n' "$size" |
    env -u DISPLAY BUILD_DIR="$build" timeout 150 "$src/scripts/run.sh" >"$work/out" 2>"$work/err"
rc=$?
log="stdout: $(cat "$work/out") stderr: $(cat "$work/err")"
[ "$rc" -eq 0 ] || fail "run.sh: expected status 0 observed $rc; $log"

head -n 1 "$work/out" | grep -qi 'display' || fail "first line: expected a note on the missing display; $log"
prompts='Please enter the x-position(1-500 max): Please enter the y-position(1-200 max): Please enter window size(100-500): '
grep -qF "$prompts" "$work/out" || fail "expected the three prompts byte for byte; $log"

gif=$(sed -n 's/^Preview GIF: //p' "$work/out")
[ -n "$gif" ] || fail "expected a 'Preview GIF: PATH' line; $log"
if ! [ -f "$gif" ] || ! [ "$gif" -nt "$work/start" ]; then
    fail "expected a new GIF at $gif; $log"
fi

# every frame shows the whole window at the answered size
mapfile -t pages < <(identify -format '%W %H\n' "$gif")
((${#pages[@]} >= 4)) || fail "expected at least 4 frames, observed ${#pages[@]}"
for p in "${pages[@]}"; do
    [ "$p" = "$size $size" ] || fail "frame canvas: expected $size $size observed $p"
done

# the cube holds the unit ball, so the centre always shows a texel: cyan or
# (1,0,0); no corner of the cube comes within reach of the window's corners
c=$((size / 2))
e=$((size - 1))
rgb()
{
    echo "%[fx:round(255*p{$1,$2}.r)],%[fx:round(255*p{$1,$2}.g)],%[fx:round(255*p{$1,$2}.b)]"
}
mapfile -t probes < <(convert "$gif" -coalesce -format "$(rgb $c $c) $(rgb 0 0) $(rgb $e $e) %#\n" info:)
i=0
for line in "${probes[@]}"; do
    read -r centre corner1 corner2 _ <<<"$line"
    case $centre in
    0,255,255 | 1,0,0) ;;
    *) fail "frame $i at ($c,$c): expected 0,255,255 or 1,0,0 observed $centre" ;;
    esac
    [ "$corner1" = 0,0,0 ] || fail "frame $i at (0,0): expected 0,0,0 observed $corner1"
    [ "$corner2" = 0,0,0 ] || fail "frame $i at ($e,$e): expected 0,0,0 observed $corner2"
    i=$((i + 1))
done
distinct=$(printf '%s\n' "${probes[@]}" | awk '{ print $4 }' | sort -u | wc -l)
((distinct >= 2)) || fail "expected the cube to move between frames, observed $distinct distinct frame(s)"
echo "preview ok: ${#pages[@]} frames of ${size}x${size}, $distinct distinct, $gif"
