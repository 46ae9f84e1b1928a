# Sourced by the benchmark scripts: start_xvfb GEOMETRY starts a private Xvfb
# on a free display and exports DISPLAY; stop_xvfb stops it. Callers run
# stop_xvfb from their EXIT trap so that the server goes however they exit.

start_xvfb() {
    local geometry=$1 fifo
    xvfb_dir=$(mktemp -d)
    fifo=$xvfb_dir/displayfd
    mkfifo "$fifo"
    # -noreset: a server that resets when its last client leaves refuses the
    # next run's connection while it does
    Xvfb -displayfd 3 -screen 0 "$geometry" -nolisten tcp -noreset 3>"$fifo" 2>"$xvfb_dir/log" &
    xvfb_pid=$!
    local display=
    # -displayfd writes the number once the server accepts clients
    if ! read -r -t 30 display <"$fifo" || [ -z "$display" ]; then
        echo "Xvfb did not start; its log:" >&2
        cat "$xvfb_dir/log" >&2
        return 1
    fi
    export DISPLAY=:$display
}

stop_xvfb() {
    if [ -n "${xvfb_pid:-}" ]; then
        kill "$xvfb_pid" 2>/dev/null || true
        wait "$xvfb_pid" 2>/dev/null || true
        xvfb_pid=
    fi
    [ -n "${xvfb_dir:-}" ] && rm -rf "$xvfb_dir"
    xvfb_dir=
}
