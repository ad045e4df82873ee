#!/bin/sh
# The log-on storm for one or more builds of the server, alternated in one run so that all
# meet the same machine load: a fresh headless server per run, then that many clients
# logging on at once, until each has been told about all the others.
#
#   bench/server/storm.sh [-r ROUNDS] [-n "1000 2000"] [-a] BUILD_DIR [BUILD_DIR...]
#
# Every build gets the same load generator (the last build's). Each line: the build, the
# time until every client had the full list, the users documents the clients received, the
# server's peak resident memory and its processor time. With -a, the last build's
# zt_forward_host runs too ("anchor"): the least a server can do, one list to each client
# once all have logged on, so that its time is what the clients' reading takes.
set -eu
rounds=3
counts="1000 2000"
anchor=false
while getopts r:n:a option; do
    case $option in
    r) rounds=$OPTARG ;;
    n) counts=$OPTARG ;;
    a) anchor=true ;;
    *) exit 2 ;;
    esac
done
shift $((OPTIND - 1))
[ $# -gt 0 ] || { echo "usage: storm.sh [-r ROUNDS] [-n COUNTS] [-a] BUILD_DIR..." >&2; exit 2; }
for build; do last=$build; done
load=$last/bench/server/zt_server_load
# Below the ephemeral range: thousands of clients take ports from there, and a server port
# one of them held a moment ago may not be free yet.
port=$((20000 + $$ % 1000 * 8))
work=$(mktemp -d)
pid=""
cleanup() {
    [ -n "$pid" ] && kill "$pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT INT TERM

round=0
while [ $round -lt "$rounds" ]; do
    for n in $counts; do
        runs="$*"
        $anchor && runs="$runs anchor"
        for build in $runs; do
            rm -f "$work/out"
            if [ "$build" = anchor ]; then
                "$last/bench/server/zt_forward_host" --port $port --clients "$n" > "$work/out" &
            else
                XDG_CONFIG_HOME=$work XDG_DATA_HOME=$work "$build/bench/server/zt_bench_server" \
                    --server --port $port > "$work/out" &
            fi
            pid=$!
            while ! grep -q listening "$work/out" 2>/dev/null; do
                kill -0 "$pid" 2>/dev/null || { echo "$build: the server did not start" >&2; exit 1; }
                sleep 0.05
            done
            echo "$build $($load logons --port $port --clients "$n" --server-pid $pid)"
            kill "$pid"
            wait "$pid" 2>/dev/null || true
            pid=""
            # A port just closed may linger in TIME_WAIT.
            port=$((port + 1))
        done
    done
    round=$((round + 1))
done
