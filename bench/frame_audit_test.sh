#!/usr/bin/env bash
# Checks that a frame of checkercube allocates nothing and makes no wasteful
# call: over a window of frames under the frame audit, nothing is allocated
# or queried from the program's own code, the libraries allocate only inside
# calls that a frame is meant to make, and outside the buffer swap they
# allocate exactly as much per frame as for the clear-and-swap baseline.
#
# usage: frame_audit_test.sh CHECKERCUBE BASELINE BENCH_RUN FRAME_AUDIT_LIB
set -euo pipefail
program=$1 baseline=$2 runner=$3 audit=$4
here=$(dirname "$0")
source "$here/xvfb.sh"

tmp=$(mktemp -d)
trap 'stop_xvfb; rm -rf "$tmp"' EXIT
start_xvfb 640x480x24

# the calls that renderFrame and advanceSpin make, and the event loop
frame_calls=" glClear glEnable glTexEnvf glBindTexture glLoadIdentity glRotatef glBegin glTexCoord2f
 glVertex3fv glEnd glutSwapBuffers glDisable glutPostRedisplay glutMainLoop "

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# audit EXE NAME: runs EXE to the end of the audit window, leaving its fields
# in $tmp/NAME.fields and allocations per called function in $tmp/NAME.sites
audit() {
    local exe=$1 name=$2 line
    line=$("$runner" --preload "$audit" --record "$tmp/$name.record" --answers "10 10 100" \
        --timeout 120 --until-complete -- "$exe") || true
    echo "$name: $line"
    tr ' ' '\n' <<<"$line" | grep '=' >"$tmp/$name.fields" || true
    # a site is the return address in the executable; the call just before
    # it names the library function that allocated
    objdump -d --no-show-raw-insn "$exe" >"$tmp/$name.dis"
    : >"$tmp/$name.sites"
    local kv offset count callee
    for kv in $(grep '^site_' "$tmp/$name.fields"); do
        offset=${kv#site_}
        offset=${offset%%=*}
        count=${kv#*=}
        callee=$(awk -v a="$offset:" '$1 == a { print prev; exit } { prev = $0 }' "$tmp/$name.dis" |
            grep -o '<[^>]*>' | tr -d '<>' | sed 's/@plt$//')
        echo "${callee:-?$offset} $count" >>"$tmp/$name.sites"
    done
    sort -o "$tmp/$name.sites" "$tmp/$name.sites"
}

field() {
    sed -n "s/^$2=//p" "$tmp/$1.fields"
}

# per_call NAME CALLEE: allocations inside CALLEE over the whole window
per_call() {
    awk -v c="$2" '$1 == c { n += $2 } END { print n + 0 }' "$tmp/$1.sites"
}

audit "$program" program
audit "$baseline" baseline

for name in program baseline; do
    [ "$(field $name complete)" = 1 ] || fail "$name: expected a complete audit window, observed $(cat "$tmp/$name.fields" | tr '\n' ' ')"
done
if [ "$failures" -eq 0 ]; then
    echo "allocations per call site over $(field program frames) frames (program | baseline):"
    join -a1 -a2 -e0 -o 0,1.2,2.2 "$tmp/program.sites" "$tmp/baseline.sites" | sed 's/^/  /'

    for key in allocs_own calls_own; do
        observed=$(field program $key)
        [ "$observed" = 0 ] ||
            fail "program: expected $key 0, observed $observed (first: $(field program first_own))"
    done
    while read -r callee count; do
        [[ $frame_calls == *" $callee "* ]] ||
            fail "program: expected allocations only inside a frame's own calls, observed $count inside $callee"
    done <"$tmp/program.sites"
    # drawing triangles makes llvmpipe allocate inside the swap, where the
    # baseline's frame has only a clear to flush; everywhere else the two match
    for callee in $(cut -d' ' -f1 "$tmp/program.sites" "$tmp/baseline.sites" | sort -u); do
        [ "$callee" = glutSwapBuffers ] && continue
        p=$(per_call program "$callee")
        b=$(per_call baseline "$callee")
        [ "$p" = "$b" ] ||
            fail "expected as many allocations inside $callee as the baseline's ($b), observed $p"
    done
    p=$(field program allocs_outside)
    b=$(field baseline allocs_outside)
    [ "$p" = "$b" ] ||
        fail "expected as many allocations off the program's stack as the baseline's ($b), observed $p"
fi

[ "$failures" -eq 0 ] && echo "PASS" && exit 0
exit 1
