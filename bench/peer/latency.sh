#!/bin/sh
# One-way latency of a one-piece peer-to-peer message between two computers, each a network
# namespace on one bridge, each running the peer driver. Prints the median and the 90th
# percentile (microseconds) over N messages sent 20 ms apart. Needs root.
#   bench/peer/latency.sh BUILD_DIR [N] [DRIVER_OPTION...]
# e.g. --timer-only to see the cost of polling on the 10 ms timer alone.
set -eu
build=${1:?build folder}
count=${2:-100}
shift $(($# > 1 ? 2 : 1))
driver=$build/tests/net/peer_driver
p=ztlat$$
cleanup() {
  [ -n "${recv_pid:-}" ] && kill "$recv_pid" 2>/dev/null || true
  [ -n "${send_pid:-}" ] && kill "$send_pid" 2>/dev/null || true
  for ns in ${p}a ${p}b ${p}br; do ip netns del $ns 2>/dev/null || true; done
  rm -f /tmp/$p.out
}
trap cleanup EXIT
ip netns add ${p}br
ip -n ${p}br link add br0 type bridge
ip -n ${p}br link set br0 up
i=0
for side in a b; do
  i=$((i + 1))
  ip netns add $p$side
  ip -n $p$side link set lo up
  ip -n ${p}br link add port$side type veth peer name eth0 netns $p$side
  ip -n ${p}br link set port$side master br0
  ip -n ${p}br link set port$side up
  ip -n $p$side addr add 10.231.9.$i/24 brd + dev eth0
  ip -n $p$side link set eth0 up
done
# The drivers keep running after their (empty) input ends; they are stopped at the end.
ip netns exec ${p}b "$driver" --computer PC-B --user Bob --latency-receive "$count" "$@" \
  </dev/null >/tmp/$p.out &
recv_pid=$!
sleep 0.3
ip netns exec ${p}a "$driver" --computer PC-A --user Ann --latency-send "$count" "$@" \
  --to Bob </dev/null >/dev/null &
send_pid=$!
for _ in $(seq 1 300); do
  if grep -q '^latency' /tmp/$p.out; then break; fi
  sleep 0.1
done
grep '^latency' /tmp/$p.out | awk -F'\t' '{ printf "one-way latency over %d messages: median %d us, 90th percentile %d us\n", $4, $2, $3 }'
