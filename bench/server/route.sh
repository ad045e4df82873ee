#!/bin/sh
# The routing rows against their anchors, alternated in one run so that all meet the same
# machine load: the headless chat server, zt_forward_host (the least a server can do to
# route the same frames) and, when the Debian package "ngircd" is installed, that IRC
# server, all under the same load generator; ours and zt_forward_host with receipts off and
# on (IRC has no receipts: its one row is the anchor of both).
#
#   bench/server/route.sh BUILD_DIR [SECONDS] [ROUNDS]
#
# Each line: the server, the generator's figure, the server's processor time per routed
# message; after each round, ours as a fraction of each anchor's rate, and at the end the
# medians of those fractions.
set -eu
build=${1:?usage: route.sh BUILD_DIR [SECONDS] [ROUNDS]}
seconds=${2:-5}
rounds=${3:-3}
load=$build/bench/server/zt_server_load
port=$((39000 + $$ % 400 * 4))
. "$(dirname "$0")/measure.sh"
. "$(dirname "$0")/ngircd.sh"
irc=false
command -v ngircd > /dev/null 2>&1 && irc=true

# run LABEL [--receipts]: prints the line, leaves the rate in $rate.
run() {
    label=$1
    shift
    free_port
    case $label in
    zibtam)
        XDG_CONFIG_HOME=$work XDG_DATA_HOME=$work "$build/bench/server/zt_bench_server" \
            --server --port $port > "$work/out" &
        pid=$!
        ;;
    anchor)
        "$build/bench/server/zt_forward_host" --port $port --clients 100 > "$work/out" &
        pid=$!
        ;;
    ngircd)
        write_ngircd_config "$work/ngircd.conf" $port "$work/ngircd.pid"
        start_ngircd "$work/ngircd.conf" $port "$work/out"
        pid=$ngircd_pid
        set -- --irc
        ;;
    esac
    measure "$label" "$@"
}

ratio() {
    awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'
}

round=0
while [ $round -lt "$rounds" ]; do
    if $irc; then
        run ngircd
        irc_rate=$rate
    fi
    for receipts in off on; do
        flag=$([ $receipts = on ] && echo --receipts || true)
        run zibtam $flag
        ours=$rate
        run anchor $flag
        line="ratio receipts=$receipts anchor=$(ratio "$ours" "$rate")"
        $irc && line="$line ngircd=$(ratio "$ours" "$irc_rate")"
        echo "$line"
        echo "$line" >> "$work/ratios"
    done
    round=$((round + 1))
done
# The medians, per receipts setting and anchor.
for receipts in off on; do
    line="median receipts=$receipts"
    for anchor in anchor ngircd; do
        values=$(grep "receipts=$receipts " "$work/ratios" | tr ' ' '\n' | sed -n "s/^$anchor=//p" | sort -n)
        [ -n "$values" ] || continue
        line="$line $anchor=$(echo "$values" | awk '{ v[NR] = $1 } END { print (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2) }')"
    done
    echo "$line"
done
