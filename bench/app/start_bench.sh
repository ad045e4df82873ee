#!/usr/bin/env bash
# Start-up of the chat program, measured from outside, side by side in one run.
#
#   start_bench.sh map ZIBTAM [RUNS]
#       start to the chat window on screen, natively on a headless sway (Wayland, no X11)
#       and on Xvfb (X11, no window manager), RUNS starts each (5)
#   start_bench.sh port ZIBTAM [ZIBTAM...] [-- RUNS]
#       start to the peer-to-peer port listening with "AutoType" set, for each program (the
#       build before a change and the one after, say), offscreen, on Xvfb and natively on a
#       headless sway, RUNS starts each (3); each start in a network namespace of its own
#       (root), 10 s at most
#
# Each start has a settings folder of its own; the programs compared take turns; times are
# the median, in milliseconds.
# Needs sway, Xvfb (xvfb-run), xdotool and jq.
set -u
here="$(cd "$(dirname "$0")" && pwd)"
self="$here/$(basename "$0")"
support="$here/../../tests/support"
mode="${1:-}"
shift || true

limit_ms=10000
now_ms() { date +%s%3N; }

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR ? v[int((NR + 1) / 2)] : "-") }'; }

# A settings folder with a user and an AutoType text, peer-to-peer.
settings() {
  local exe="$1" home="$2"
  mkdir -p "$home/run" && chmod 700 "$home/run"
  local name value
  while read -r name value; do
    XDG_CONFIG_HOME="$home/config" "$exe" --config set "$name" "$value" >/dev/null
  done <<EOF
Username Owen
NetworkingType 1
PromptOnAllUsers 0
AutoType Owen
EOF
}

# Ends a start; one that waits in a message box does not end on SIGTERM.
stop() {
  kill "$1" 2>/dev/null
  for _ in $(seq 40); do
    kill -0 "$1" 2>/dev/null || break
    sleep 0.05
  done
  kill -9 "$1" 2>/dev/null
  wait "$1" 2>/dev/null
}

# start_one EXE HOME LOOK: the milliseconds from starting EXE to LOOK PID succeeding, or
# $limit_ms. Runs in a network namespace of its own, so the fixed peer port is free.
start_one() {
  local exe="$1" home="$2" look="$3"
  # The compositor's socket by its full path: each start has a runtime folder of its own.
  local socket="${WAYLAND_DISPLAY:+$XDG_RUNTIME_DIR/$WAYLAND_DISPLAY}"
  local start pid took="$limit_ms"
  start=$(now_ms)
  XDG_CONFIG_HOME="$home/config" XDG_DATA_HOME="$home/data" XDG_RUNTIME_DIR="$home/run" \
    WAYLAND_DISPLAY="$socket" "$exe" >/dev/null 2>&1 &
  pid=$!
  while (($(now_ms) - start < limit_ms)); do
    if $look "$pid"; then
      took=$(($(now_ms) - start))
      break
    fi
    sleep 0.005
  done
  stop "$pid"
  echo "$took"
}

# runs RUNS LOOK EXE...: the median of RUNS starts of each EXE, one line each. The starts of
# the programs take turns, so that a change in the machine's load falls on all of them.
runs() {
  local count="$1" look="$2"
  shift 2
  local exes=("$@") times=()
  for ((i = 0; i < count; ++i)); do
    for ((e = 0; e < ${#exes[@]}; ++e)); do
      local home
      home="$(mktemp -d)"
      settings "${exes[e]}" "$home"
      times[e]+="$(unshare -n bash -c 'ip link set lo up; "$@"' _ \
        "$self" start-one "${exes[e]}" "$home" "$look") "
      rm -rf "$home"
    done
  done
  for ((e = 0; e < ${#exes[@]}; ++e)); do
    tr " " "\n" <<<"${times[e]}" | grep . | median
  done
}

# The chat window ("Zib Tam Freeware") of process PID is on screen.
on_sway() {
  swaymsg -r -t get_tree 2>/dev/null |
    jq -e --argjson pid "$1" \
      '[.. | objects | select(.pid? == $pid and .name? == "Zib Tam Freeware")] | length > 0' \
      >/dev/null
}
on_x11() {
  [ -n "$(xdotool search --onlyvisible --pid "$1" --name '^Zib Tam Freeware$' 2>/dev/null)" ]
}
# The peer-to-peer port (34304, 0x8600) is bound in this network namespace.
listening() { grep -q ":8600 00000000:0000" /proc/net/udp; }

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "-" }'; }

[ "$mode" = start-one ] || [ "$mode" = "" ] || [ "$(id -u)" -eq 0 ] ||
  { echo "start_bench: needs root for network namespaces" >&2; exit 1; }
case "$mode" in
  start-one) start_one "$@" ;;
  runs) runs "$@" ;;
  map)
    exe="$(realpath "$1")" count="${2:-5}"
    sway=$("$support/wayland-desktop.sh" "$self" runs "$count" on_sway "$exe")
    x11=$(xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" "$self" runs "$count" on_x11 "$exe")
    echo "start to chat window shown, median of $count (ms):"
    echo "  sway (Wayland, native)  $sway"
    echo "  Xvfb (X11)              $x11"
    echo "  Wayland / X11           $(ratio "$sway" "$x11")"
    ;;
  port)
    exes=() count=3
    while (($#)); do
      [ "$1" = "--" ] && { count="$2"; break; }
      exes+=("$(realpath "$1")")
      shift
    done
    echo "start to peer port listening with AutoType set, median of $count (ms; $limit_ms: not within $limit_ms):"
    printf '  %-10s %-10s %-10s %s\n' offscreen Xvfb sway program
    mapfile -t off < <(QT_QPA_PLATFORM=offscreen "$self" runs "$count" listening "${exes[@]}")
    mapfile -t x11 < <(xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" \
      "$self" runs "$count" listening "${exes[@]}")
    mapfile -t sway < <("$support/wayland-desktop.sh" "$self" runs "$count" listening "${exes[@]}")
    for ((e = 0; e < ${#exes[@]}; ++e)); do
      printf '  %-10s %-10s %-10s %s\n' "${off[e]}" "${x11[e]}" "${sway[e]}" "${exes[e]}"
    done
    ;;
  *)
    sed -n '2,15p' "$0" | sed 's/^# \{0,1\}//'
    exit 2
    ;;
esac
