#!/bin/sh
# The routing rows of run.sh for two builds of the server, alternated in one run so that
# both meet the same machine load:
#
#   bench/server/compare.sh BEFORE_BUILD AFTER_BUILD [SECONDS] [ROUNDS]
#
# Both servers get the same load generator (AFTER_BUILD's). Each line: the build, the
# load generator's figure, and the server's processor time per routed message.
set -eu
before=${1:?usage: compare.sh BEFORE_BUILD AFTER_BUILD [SECONDS] [ROUNDS]}
after=${2:?usage: compare.sh BEFORE_BUILD AFTER_BUILD [SECONDS] [ROUNDS]}
seconds=${3:-5}
rounds=${4:-3}
load=$after/bench/server/zt_server_load
work=$(mktemp -d)
port=$((38000 + $$ % 500 * 2))
ticks_per_second=$(getconf CLK_TCK)
pid=""
cleanup() {
    [ -n "$pid" ] && kill "$pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT INT TERM

run() {
    label=$1
    build=$2
    shift 2
    rm -f "$work/out"
    XDG_CONFIG_HOME=$work XDG_DATA_HOME=$work "$build/bench/server/zt_bench_server" --server --port $port > "$work/out" &
    pid=$!
    while ! grep -q listening "$work/out" 2>/dev/null; do sleep 0.05; done
    line=$($load route --port $port --seconds "$seconds" "$@")
    ticks=$(awk '{print $14 + $15}' "/proc/$pid/stat")
    kill "$pid"
    wait "$pid" || true
    pid=""
    rate=${line##*messages_per_second=}
    echo "$label $line" | awk -v t="$ticks" -v hz="$ticks_per_second" -v r="$rate" -v s="$seconds" \
        '{ printf "%s server_cpu_us_per_message=%.2f\n", $0, (r > 0 ? t * 1e6 / hz / (r * s) : 0) }'
    port=$((port + 1))
}

round=0
while [ $round -lt "$rounds" ]; do
    for receipts in "" "--receipts"; do
        run before "$before" $receipts
        run after "$after" $receipts
    done
    round=$((round + 1))
done
