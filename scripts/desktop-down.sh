#!/usr/bin/env bash
# Stops the desktop scripts/desktop-up.sh started in DIR: the processes in
# DIR/pids plus any helper that carries KORVO_DESKTOP_DIR=DIR, each only while
# its /proc start time still matches (a recycled pid is left alone).
# Applications first, the X server last; SIGTERM, then SIGKILL after 3 s.
set -uo pipefail
DIR="${1:?usage: desktop-down.sh DIR}"
[ -d "$DIR" ] || exit 0
DIR="$(cd "$DIR" && pwd)"

starttime() { sed 's/^.*) //' "/proc/$1/stat" 2>/dev/null | awk '{print $20}'; }

targets=()
if [ -f "$DIR/pids" ]; then
  # Reverse order of start.
  while read -r pid start _; do
    [ -n "$pid" ] && [ "$(starttime "$pid")" = "$start" ] && targets=("$pid" "${targets[@]}")
  done < "$DIR/pids"
fi
for p in /proc/[0-9]*; do
  pid="${p#/proc/}"
  [ "$pid" = "$$" ] && continue
  grep -qz "^KORVO_DESKTOP_DIR=$DIR\$" "$p/environ" 2>/dev/null || continue
  [[ " ${targets[*]} " == *" $pid "* ]] || targets=("$pid" "${targets[@]}")
done
[ ${#targets[@]} -eq 0 ] && exit 0

declare -A started
for pid in "${targets[@]}"; do started[$pid]="$(starttime "$pid")"; done
alive() { [ -n "${started[$1]}" ] && [ "$(starttime "$1")" = "${started[$1]}" ]; }

for pid in "${targets[@]}"; do alive "$pid" && kill -TERM "$pid" 2>/dev/null; done
end=$((SECONDS + 3))
while [ "$SECONDS" -lt "$end" ]; do
  left=0
  for pid in "${targets[@]}"; do alive "$pid" && left=1; done
  [ "$left" -eq 0 ] && break
  sleep 0.05
done
for pid in "${targets[@]}"; do alive "$pid" && kill -KILL "$pid" 2>/dev/null; done
exit 0
