#!/bin/sh
# Side-by-side load run: the headless chat server and ngircd (Debian package "ngircd",
# flood penalties off) under the same closed-loop load from zt_server_load.
#
#   bench/server/run.sh BUILD_DIR [SECONDS]
#
# With ROUTE_ONLY=1 only the routing rows run: ours, ngircd, ours again.
# Prints one line per measurement. Needs ngircd only for the comparison rows.
set -eu
build=${1:?usage: run.sh BUILD_DIR [SECONDS]}
seconds=${2:-5}
load=$build/bench/server/zt_server_load
server=$build/bench/server/zt_bench_server
work=$(mktemp -d)
# Ports of our own for each run: an IRC server killed a moment ago leaves its port in
# TIME_WAIT, and ngircd does not reuse it.
chat_port=$((36000 + $$ % 1000 * 2))
irc_port=$((chat_port + 1))
. "$(dirname "$0")/ngircd.sh"
pids=""
cleanup() {
    for pid in $pids; do kill "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT INT TERM

start_chat() {
    rm -f "$work/chat.out"
    XDG_CONFIG_HOME=$work XDG_DATA_HOME=$work "$server" --server --port $chat_port > "$work/chat.out" &
    chat_pid=$!
    pids="$pids $chat_pid"
    while ! grep -q listening "$work/chat.out" 2>/dev/null; do sleep 0.05; done
}
stop_chat() {
    kill "$chat_pid"
    wait "$chat_pid" || true
}

start_chat
# A fresh server per run, so that no run meets the previous one's departing names.
$load route --port $chat_port --seconds "$seconds"
stop_chat; start_chat
$load route --port $chat_port --seconds "$seconds" --receipts
stop_chat
if [ "${ROUTE_ONLY:-0}" != 1 ]; then
    start_chat
    $load stall --port $chat_port --server-pid "$chat_pid" --seconds "$seconds"
    for n in 100 250 500 1000 2000; do
        stop_chat; start_chat
        $load logons --port $chat_port --clients $n --server-pid "$chat_pid"
    done
    stop_chat
fi

if command -v ngircd > /dev/null 2>&1; then
    write_ngircd_config "$work/ngircd.conf" $irc_port "$work/ngircd.pid"
    start_ngircd "$work/ngircd.conf" $irc_port "$work/ngircd.out"
    irc_pid=$ngircd_pid
    pids="$pids $irc_pid"
    $load route --irc --port $irc_port --seconds "$seconds"
    kill "$irc_pid"
    wait "$irc_pid" 2>/dev/null || true
    # Once more side by side, in the other order.
    start_chat
    $load route --port $chat_port --seconds "$seconds"
    stop_chat
fi
