#!/bin/sh
# The routing rows against their anchor, alternated in one run so that both meet the same
# machine load: the headless chat server and zt_forward_host (the least a server can do to
# route the same frames) under the same load generator, receipts off and on.
#
#   bench/server/route.sh BUILD_DIR [SECONDS] [ROUNDS]
#
# Each line: the server, the generator's figure, the server's processor time per routed
# message; after each pair, ours as a fraction of the anchor's rate.
set -eu
build=${1:?usage: route.sh BUILD_DIR [SECONDS] [ROUNDS]}
seconds=${2:-5}
rounds=${3:-3}
load=$build/bench/server/zt_server_load
port=$((39000 + $$ % 400 * 2))
. "$(dirname "$0")/measure.sh"

# run LABEL [--receipts]: prints the line, leaves the rate in $rate.
run() {
    label=$1
    shift
    rm -f "$work/out"
    if [ "$label" = zibtam ]; then
        XDG_CONFIG_HOME=$work XDG_DATA_HOME=$work "$build/bench/server/zt_bench_server" \
            --server --port $port > "$work/out" &
    else
        "$build/bench/server/zt_forward_host" --port $port --clients 100 > "$work/out" &
    fi
    pid=$!
    measure "$label" "$@"
}

round=0
while [ $round -lt "$rounds" ]; do
    for receipts in "" "--receipts"; do
        run zibtam $receipts
        ours=$rate
        run anchor $receipts
        echo "ratio receipts=$([ -n "$receipts" ] && echo on || echo off) $(awk -v a="$ours" -v b="$rate" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }')"
    done
    round=$((round + 1))
done
