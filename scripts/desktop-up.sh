#!/usr/bin/env bash
# Starts a private X11 desktop for the x11 backend's tests and demos:
#   Xvfb (it picks a free display), a session bus, the accessibility bus with
#   toolkits asked to expose their trees, a window manager, then the
#   applications, waiting until each has a managed window.
#
#   bash scripts/desktop-up.sh [DIR]     # DIR defaults to a new temporary directory
#   . DIR/env                            # DISPLAY, DBUS_SESSION_BUS_ADDRESS, ...
#   bash scripts/desktop-down.sh DIR     # stops exactly what this started
#
# DIR/pids lists "pid starttime name" for every process started here, and for
# the helpers the buses start on their own (they carry KORVO_DESKTOP_DIR=DIR
# in their environment). Knobs: X11UP_SIZE (1920x1080), X11UP_APPS
# ("mousepad gtk3-widget-factory"), X11UP_WM (openbox), X11UP_TIMEOUT (s, 30).
# Exit status 2: a program is missing (the desktop cannot start here).
set -euo pipefail
HERE="$(cd "$(dirname "$0")" && pwd)"
DIR="${1:-$(mktemp -d /tmp/korvo-desktop.XXXXXX)}"
mkdir -p "$DIR"
DIR="$(cd "$DIR" && pwd)"
SIZE="${X11UP_SIZE:-1920x1080}"
APPS="${X11UP_APPS:-mousepad gtk3-widget-factory}"
WM="${X11UP_WM:-openbox}"
TIMEOUT="${X11UP_TIMEOUT:-30}"
: > "$DIR/pids"
rm -f "$DIR/env" "$DIR/display"

fail() {
  echo "desktop-up: $1" >&2
  bash "$HERE/desktop-down.sh" "$DIR" >/dev/null 2>&1 || true
  exit "${2:-1}"
}

for prog in Xvfb dbus-daemon dbus-send xprop "$WM" $APPS; do
  command -v "$prog" >/dev/null 2>&1 || fail "$prog not found (bash scripts/setup.sh installs it)" 2
done
LAUNCHER=/usr/libexec/at-spi-bus-launcher
[ -x "$LAUNCHER" ] || fail "$LAUNCHER not found (package at-spi2-core)" 2

# Field 22 of /proc/PID/stat (counted after the parenthesised name).
starttime() { sed 's/^.*) //' "/proc/$1/stat" 2>/dev/null | awk '{print $20}'; }
record() { echo "$1 $(starttime "$1") $2" >> "$DIR/pids"; }

# Polls a condition until it holds, at most TIMEOUT seconds.
wait_for() {
  local what="$1"; shift
  local end=$((SECONDS + TIMEOUT))
  until "$@" >/dev/null 2>&1; do
    [ "$SECONDS" -lt "$end" ] || fail "timed out waiting for $what"
    sleep 0.05
  done
}

export KORVO_DESKTOP_DIR="$DIR"
mkdir -p "$DIR/run" "$DIR/config" "$DIR/cache" "$DIR/data"
chmod 700 "$DIR/run"

Xvfb -displayfd 3 -screen 0 "${SIZE}x24" -nolisten tcp +extension COMPOSITE \
  3>"$DIR/display" >"$DIR/xvfb.log" 2>&1 &
record $! Xvfb
wait_for "Xvfb to report its display" grep -q '[0-9]' "$DIR/display"
export DISPLAY=":$(tr -dc '0-9' < "$DIR/display")"

dbus-daemon --session --nofork --address="unix:path=$DIR/bus" >"$DIR/dbus.log" 2>&1 &
record $! dbus-daemon
wait_for "the session bus" test -S "$DIR/bus"
export DBUS_SESSION_BUS_ADDRESS="unix:path=$DIR/bus"
# Applications keep their settings, caches and sockets inside DIR.
export XDG_RUNTIME_DIR="$DIR/run" XDG_CONFIG_HOME="$DIR/config" XDG_CACHE_HOME="$DIR/cache"
export XDG_DATA_HOME="$DIR/data" GSETTINGS_BACKEND=memory NO_AT_BRIDGE=0

"$LAUNCHER" --launch-immediately >"$DIR/a11y.log" 2>&1 &
record $! at-spi-bus-launcher
has_name() {
  dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
    org.freedesktop.DBus.NameHasOwner "string:$1" | grep -q 'boolean true'
}
wait_for "the accessibility bus" has_name org.a11y.Bus
dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus \
  org.freedesktop.DBus.Properties.Set string:org.a11y.Status string:IsEnabled variant:boolean:true \
  >/dev/null

"$WM" >"$DIR/wm.log" 2>&1 &
record $! "$WM"
wait_for "the window manager" sh -c 'xprop -root _NET_SUPPORTING_WM_CHECK | grep -q "window id"'
# The bus address on the root window as well, where toolkits look first: Qt
# reads it there synchronously, and without it races its own asynchronous
# look-up against its registration, often losing (it then never registers).
# Set once the window manager holds a connection: an X server without
# clients resets and drops root properties.
A11Y_ADDRESS="$(dbus-send --session --print-reply=literal --dest=org.a11y.Bus /org/a11y/bus \
  org.a11y.Bus.GetAddress | tr -d ' ')"
xprop -root -f AT_SPI_BUS 8s -set AT_SPI_BUS "$A11Y_ADDRESS"

# Pids that own a managed window.
managed_pids() {
  xprop -root _NET_CLIENT_LIST | tr -s ', ' '\n' | grep '^0x' | while read -r w; do
    xprop -id "$w" _NET_WM_PID 2>/dev/null | awk '/= /{print $3}'
  done
}
for app in $APPS; do
  "$app" >"$DIR/$app.log" 2>&1 &
  record $! "$app"
done
for line in $(awk 'NR>4 {print $1}' "$DIR/pids"); do
  wait_for "a window of pid $line" sh -c "$(declare -f managed_pids); managed_pids | grep -qx $line"
done

# Helpers the buses started on their own.
for p in /proc/[0-9]*; do
  pid="${p#/proc/}"
  [ "$pid" = "$$" ] && continue
  grep -qz "^KORVO_DESKTOP_DIR=$DIR\$" "$p/environ" 2>/dev/null || continue
  grep -q "^$pid " "$DIR/pids" && continue
  [ "$(awk '/^PPid:/{print $2}' "$p/status" 2>/dev/null)" = "$$" ] && continue  # our own subshells
  record "$pid" "$(cat "$p/comm" 2>/dev/null)"
done

cat > "$DIR/env" <<EOF
export DISPLAY='$DISPLAY'
export DBUS_SESSION_BUS_ADDRESS='$DBUS_SESSION_BUS_ADDRESS'
export KORVO_DESKTOP='$DIR'
EOF
echo "$DIR"
