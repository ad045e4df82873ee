# Sourced by compare.sh and route.sh: the measurement of one server under the routing load.
# The caller sets $load (the generator), $seconds and $port, starts the server in the
# background with its process id in $pid, then calls
#   measure LABEL [GENERATOR ARGUMENTS...]
# which waits for the server to listen, runs the generator, stops the server and prints the
# generator's line with the server's processor time per routed message. It leaves the
# generator's rate in $rate and moves $port on (a port just closed may linger in TIME_WAIT).
work=$(mktemp -d)
ticks_per_second=$(getconf CLK_TCK)
pid=""
cleanup() {
    [ -n "$pid" ] && kill "$pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT INT TERM

# Moves $port on to one that no socket uses, listening, connected or lingering in TIME_WAIT
# (a server that does not reuse addresses could not listen on it).
free_port() {
    while ss -tanH "sport = :$port" | grep -q .; do port=$((port + 1)); done
}

measure() {
    label=$1
    shift
    while ! ss -ltnH "sport = :$port" | grep -q .; do
        kill -0 "$pid" 2>/dev/null || { echo "$label: the server did not start" >&2; exit 1; }
        sleep 0.05
    done
    line=$($load route --port $port --seconds "$seconds" "$@")
    ticks=$(awk '{print $14 + $15}' "/proc/$pid/stat")
    kill "$pid"
    wait "$pid" 2>/dev/null || true
    pid=""
    rate=${line##*messages_per_second=}
    echo "$label $line" | awk -v t="$ticks" -v hz="$ticks_per_second" -v r="$rate" -v s="$seconds" \
        '{ printf "%s server_cpu_us_per_message=%.2f\n", $0, (r > 0 ? t * 1e6 / hz / (r * s) : 0) }'
    port=$((port + 1))
}
