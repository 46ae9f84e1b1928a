# shellcheck shell=bash
# Shared shell functions for running checkercube under a private Xvfb and
# recording its window; sourced by run.sh and pictures.sh.
# Every wait is bounded, and xvfb_stop is safe to call from an EXIT trap.

xvfb_pid=
xvfb_dir=

# xvfb_start [WIDTHxHEIGHT]: starts Xvfb on a free display and exports DISPLAY.
xvfb_start()
{
    local screen=${1:-1280x1024}
    xvfb_dir=$(mktemp -d "${TMPDIR:-/tmp}/checkercube-xvfb.XXXXXX")
    # -displayfd picks a free display, so concurrent runs never collide
    Xvfb -displayfd 3 -screen 0 "${screen}x24" -nolisten tcp -noreset \
        3>"$xvfb_dir/display" 2>"$xvfb_dir/xvfb.log" </dev/null &
    xvfb_pid=$!
    local i
    for ((i = 0; i < 200; i++)); do
        if grep -q '^[0-9][0-9]*$' "$xvfb_dir/display" 2>/dev/null; then
            DISPLAY=":$(cat "$xvfb_dir/display")"
            export DISPLAY
            return 0
        fi
        if ! kill -0 "$xvfb_pid" 2>/dev/null; then
            break
        fi
        sleep 0.05
    done
    echo "Xvfb did not start within 10 s; its log:" >&2
    cat "$xvfb_dir/xvfb.log" >&2
    xvfb_stop
    return 1
}

# xvfb_stop: stops the Xvfb that xvfb_start started, and only that one.
xvfb_stop()
{
    if [ -n "$xvfb_pid" ]; then
        kill "$xvfb_pid" 2>/dev/null || true
        wait "$xvfb_pid" 2>/dev/null || true
        xvfb_pid=
    fi
    if [ -n "$xvfb_dir" ]; then
        rm -rf "$xvfb_dir"
        xvfb_dir=
    fi
}

# start_program COMMAND [ARGS...]: runs the program in the background on the
# private display, reading this shell's standard input; sets program_pid.
program_pid=
start_program()
{
    # the explicit <&0 keeps the caller's input, which & would replace by /dev/null
    "$@" <&0 &
    program_pid=$!
}

# wait_for_window PID TIMEOUT_S: prints the id of checkercube's window once it
# is mapped; fails if the process PID ends first or the time runs out.
wait_for_window()
{
    local pid=$1 timeout=$2 id i
    for ((i = 0; i < timeout * 10; i++)); do
        id=$(xdotool search --onlyvisible --name '^Checker Cube$' 2>/dev/null | head -n 1)
        if [ -n "$id" ]; then
            echo "$id"
            return 0
        fi
        kill -0 "$pid" 2>/dev/null || return 1
        sleep 0.1
    done
    return 1
}

# wait_for_drawing WINDOW TIMEOUT_S: waits until the window shows more than
# one colour; it is mapped, still blank, before its first frame is drawn.
wait_for_drawing()
{
    local window=$1 timeout=$2 i colours
    for ((i = 0; i < timeout * 10; i++)); do
        colours=$(import -silent -window "$window" miff:- 2>/dev/null | identify -format '%k' - 2>/dev/null)
        [ "${colours:-0}" -gt 1 ] && return 0
        sleep 0.1
    done
    echo "window $window still shows ${colours:-no} colour(s) after $timeout s" >&2
    return 1
}

# grab_png WINDOW OUT.png: one screenshot of the window, without the time
# stamps that would make every regeneration differ.
grab_png()
{
    import -silent -window "$1" -strip "$2"
}

# record_gif WINDOW OUT.gif SECONDS [MAX_FRAMES]: grabs the window for about
# SECONDS and writes an optimised looping GIF that plays at the grabbing rate.
record_gif()
{
    local window=$1 out=$2 seconds=$3 max=${4:-60}
    local frames n=0 start now elapsed_ms delay
    wait_for_drawing "$window" 20 || return 1
    # inside Xvfb's own directory, so that xvfb_stop clears it after an interruption
    frames=$(mktemp -d "${xvfb_dir:-${TMPDIR:-/tmp}}/frames.XXXXXX")
    start=$(date +%s%N)
    while :; do
        import -silent -window "$window" "$frames/$(printf %04d $n).miff" || {
            echo "cannot grab window $window (is it wholly on the screen?)" >&2
            rm -rf "$frames"
            return 1
        }
        n=$((n + 1))
        now=$(date +%s%N)
        elapsed_ms=$(((now - start) / 1000000))
        ((elapsed_ms < seconds * 1000 && n < max)) || break
    done
    # centiseconds per frame, so that the GIF lasts as long as the grabbing did
    delay=$(((elapsed_ms / n + 5) / 10))
    ((delay >= 2)) || delay=2
    convert -delay "$delay" -loop 0 "$frames"/*.miff -layers Optimize "$out"
    local rc=$?
    rm -rf "$frames"
    return $rc
}

# quit_via_menu WINDOW PID TIMEOUT_S: opens the right-button menu inside the
# window, clicks its first entry (Quit) and waits for PID to end; returns the
# program's exit status, or 124 if it did not end in time.
quit_via_menu()
{
    local window=$1 pid=$2 timeout=$3 i
    # well inside the window and away from the screen's edges, so that the
    # menu opens down and to the right of the pointer
    xdotool mousemove --window "$window" 20 20 click 3
    sleep 0.3
    # the first entry lies just below the pointer on the open menu
    xdotool mousemove_relative 10 10 click 1
    for ((i = 0; i < timeout * 10; i++)); do
        if ! kill -0 "$pid" 2>/dev/null; then
            wait "$pid"
            return
        fi
        sleep 0.1
    done
    return 124
}

# end_program WINDOW PID: quits the program through its menu and prints its exit
# status; falls back to SIGTERM if the menu did not end it within 10 s.
end_program()
{
    local rc=0
    quit_via_menu "$1" "$2" 10 || rc=$?
    if [ "$rc" -eq 124 ]; then
        echo "Quit on the menu did not end checkercube; sending SIGTERM" >&2
        kill "$2" 2>/dev/null || true
        wait "$2" 2>/dev/null || true
    fi
    return "$rc"
}

# run_preview BINARY OUT.gif SECONDS [GLUT OPTIONS...]: runs the program on a
# private Xvfb with the caller's input answering its dialogue, records SECONDS
# of its window into OUT.gif and quits it.
run_preview()
{
    local binary=$1 out=$2 seconds=$3 window rc=0
    shift 3
    # large enough for every position and size the prompts ask for
    xvfb_start 1280x1024 || return 1
    start_program "$binary" "$@"
    # the answers are typed by a person, so the wait for the window is long
    if ! window=$(wait_for_window "$program_pid" 600); then
        wait "$program_pid" || rc=$?
        echo "checkercube ended (status $rc) before its window appeared" >&2
        return 1
    fi
    # answers from a pipe leave the cursor just after the last prompt; output to a
    # pipe is buffered, and the prompts arrive only when the program ends
    if [ -t 1 ] && ! [ -t 0 ]; then
        echo
    fi
    echo "Recording $seconds s of the window on the virtual display $DISPLAY..."
    record_gif "$window" "$out" "$seconds" || rc=$?
    local quit=0
    end_program "$window" "$program_pid" || quit=$?
    [ -t 1 ] || echo
    [ "$rc" -eq 0 ] || return "$rc"
    echo "Preview GIF: $out"
    if [ "$quit" -ne 0 ]; then
        echo "checkercube did not end with status 0 on Quit (status $quit)" >&2
        return 1
    fi
}
