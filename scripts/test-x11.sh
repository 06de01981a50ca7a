#!/usr/bin/env bash
# Runs the x11 suites (test/x11/*.test.js) against a real desktop started
# with scripts/desktop-up.sh, and stops exactly that desktop on every exit
# path. Where the desktop cannot start here (no Xvfb, no window manager,
# ...), prints one line and skips the suites; any other start failure fails.
set -uo pipefail
cd "$(dirname "$0")/.."
DIR="$(mktemp -d /tmp/korvo-desktop.XXXXXX)"
cleanup() { env -u LD_PRELOAD bash scripts/desktop-down.sh "$DIR"; rm -rf "$DIR"; }
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

# The desktop's own programs never run under a sanitizer preload.
err="$(env -u LD_PRELOAD bash scripts/desktop-up.sh "$DIR" 2>&1 >/dev/null)"
status=$?
if [ "$status" -eq 2 ]; then
  echo "x11 suites skipped: the desktop could not start (${err##*$'\n'})"
  exit 0
elif [ "$status" -ne 0 ]; then
  echo "x11 desktop failed to start: ${err##*$'\n'}" >&2
  exit 1
fi
# A sanitizer runtime meant for the test processes only (the thread
# sanitizer's cannot run the shell itself): preloaded from here on.
if [ -n "${KORVO_TEST_PRELOAD:-}" ]; then export LD_PRELOAD="$KORVO_TEST_PRELOAD"; fi
# One desktop, shared: the suites run one after another.
KORVO_DESKTOP="$DIR" KORVO_OZA_PLATFORM=x11 node --test --test-concurrency=1 ${KORVO_X11_SUITES:-test/x11/*.test.js}
