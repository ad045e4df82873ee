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
port=$((38000 + $$ % 500 * 2))
. "$(dirname "$0")/measure.sh"

run() {
    label=$1
    build=$2
    shift 2
    free_port
    rm -f "$work/out"
    XDG_CONFIG_HOME=$work XDG_DATA_HOME=$work "$build/bench/server/zt_bench_server" --server --port $port > "$work/out" &
    pid=$!
    measure "$label" "$@"
}

round=0
while [ $round -lt "$rounds" ]; do
    for receipts in "" "--receipts"; do
        run before "$before" $receipts
        run after "$after" $receipts
    done
    round=$((round + 1))
done
