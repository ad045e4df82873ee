#!/usr/bin/env bash
# Runs a command on an X11 desktop of its own: an Xvfb display, the openbox window manager
# and a tint2 panel with a notification area, so tray icons, global hot keys and window
# activation behave as on a user's desktop and tests running beside it are not disturbed.
# Usage: x11-desktop.sh COMMAND [ARG...]   (the command's exit status is returned)
set -u
work="$(mktemp -d)"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
pids+=($!)
for _ in $(seq 100); do
  [ -s "$work/display" ] && break
  sleep 0.05
done
if [ ! -s "$work/display" ]; then
  echo "x11-desktop: Xvfb did not start" >&2
  cat "$work/xvfb.log" >&2
  exit 1
fi
export DISPLAY=":$(head -n1 "$work/display")"
unset WAYLAND_DISPLAY QT_QPA_PLATFORM
# No session bus: the tray host is the panel's XEmbed area, found the same way every time.
unset DBUS_SESSION_BUS_ADDRESS

openbox >"$work/openbox.log" 2>&1 &
pids+=($!)
tint2 >"$work/tint2.log" 2>&1 &
pids+=($!)

"$@"
status=$?
[ "$status" -eq 0 ] || tail -n 20 "$work"/openbox.log "$work"/tint2.log >&2
exit "$status"
