#!/usr/bin/env bash
# Runs a command on a Wayland desktop of its own: a headless sway compositor without
# XWayland and without input devices, in a runtime folder of its own, so programs started by
# the command open their windows there and `swaymsg` sees them. No X11 display is left set.
# Usage: wayland-desktop.sh COMMAND [ARG...]   (the command's exit status; 77 without sway)
set -u
if ! command -v sway >/dev/null || ! command -v swaymsg >/dev/null; then
  echo "wayland-desktop: sway is not installed" >&2
  exit 77
fi
work="$(mktemp -d)"
chmod 700 "$work"
pid=""
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

export XDG_RUNTIME_DIR="$work"
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM SWAYSOCK
printf 'xwayland disable\noutput HEADLESS-1 resolution 1280x1024\n' >"$work/config"
# sway will not run as root; in a user namespace of its own root is nobody there.
as_user=()
[ "$(id -u)" -eq 0 ] && as_user=(unshare --user)
WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman \
  "${as_user[@]}" sway -c "$work/config" >"$work/sway.log" 2>&1 &
pid=$!
for _ in $(seq 200); do
  socket=$(ls "$work"/wayland-* 2>/dev/null | grep -v '\.lock$' | head -n1)
  ipc=$(ls "$work"/sway-ipc.*.sock 2>/dev/null | head -n1)
  [ -n "$socket" ] && [ -n "$ipc" ] && break
  sleep 0.05
done
if [ -z "${socket:-}" ] || [ -z "${ipc:-}" ]; then
  echo "wayland-desktop: sway did not start" >&2
  cat "$work/sway.log" >&2
  exit 1
fi
export WAYLAND_DISPLAY="$(basename "$socket")" SWAYSOCK="$ipc" XDG_SESSION_TYPE=wayland

"$@"
status=$?
[ "$status" -eq 0 ] || tail -n 20 "$work/sway.log" >&2
exit "$status"
