#!/bin/sh
# Runs a command on a desktop of its own: a virtual X server on a free display
# with a real window manager (openbox), both stopped afterwards. The windows
# then meet what they meet on a user's desktop: frames, placement, focus, and
# captions drawn by the window manager. Exits 77 (skipped) without Xvfb or openbox.
for program in Xvfb openbox; do
  if ! command -v "$program" >/dev/null 2>&1; then
    echo "$program is not installed (scripts/setup.sh installs it)"
    exit 77
  fi
done

dir=$(mktemp -d "${TMPDIR:-/tmp}/quillon-desktop-XXXXXX")
xvfb=
wm=
cleanup() {
  [ -n "$wm" ] && kill "$wm" 2>/dev/null
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null
  wait
  rm -rf "$dir"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

# Waits up to ten seconds for the file to exist (and, with -s, to hold something).
await() {
  i=0
  while [ "$i" -lt 100 ]; do
    [ "$1" "$2" ] && return 0
    sleep 0.1
    i=$((i + 1))
  done
  return 1
}

# The server picks a free display and writes its number once it accepts clients.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$dir/display" >"$dir/xvfb.log" 2>&1 &
xvfb=$!
if ! await -s "$dir/display"; then
  echo "Xvfb did not start:"; cat "$dir/xvfb.log"
  exit 1
fi
DISPLAY=:$(cat "$dir/display")
QT_QPA_PLATFORM=xcb
export DISPLAY QT_QPA_PLATFORM

openbox --sm-disable --startup "touch $dir/ready" >"$dir/openbox.log" 2>&1 &
wm=$!
if ! await -e "$dir/ready"; then
  echo "openbox did not start:"; cat "$dir/openbox.log"
  exit 1
fi

"$@"
