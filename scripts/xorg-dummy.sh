#!/usr/bin/env bash
# A private X server on the dummy video driver, for tests and demonstrations that switch display
# modes (Xvfb cannot). It touches no real hardware: the committed config (scripts/xorg/dummy.conf)
# names the dummy driver and no input devices, the xorg.conf.d folder is an empty one of our own,
# and the server neither listens on TCP nor switches virtual terminals.
#
#   scripts/xorg-dummy.sh [start]   starts a server on the first free display from :50 on, waits
#                                   until it accepts connections, prints the DISPLAY value (":51")
#                                   on stdout and leaves the server running
#   scripts/xorg-dummy.sh stop :51  ends that server and removes its temporary folder
#
# ${TMPDIR:-/tmp}/bd-xorg-<n> links to the server's folder, which holds its process id ("pid")
# and its log; killing that process is equivalent to "stop" (except that the folder stays).
# Xorg needs root here (or a setuid wrapper).
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
config=${BD_XORG_CONFIG:-$here/xorg/dummy.conf}
tmproot=${TMPDIR:-/tmp}

# The record of the running server on :n: a link to the server's private folder.
state_link() { echo "$tmproot/bd-xorg-$1"; }

accepts() {  # accepts <display>
  xdpyinfo -display "$1" >/dev/null 2>&1
}

lock_owner() {  # lock_owner <n>: the process id in the display's lock file
  { tr -d ' \n' <"/tmp/.X$1-lock"; } 2>/dev/null || true
}

start() {
  command -v Xorg >/dev/null || { echo "xorg-dummy: Xorg is not installed" >&2; exit 1; }
  local n dir pid i
  dir=$(mktemp -d "$tmproot/bd-xorg.XXXXXX")
  mkdir "$dir/conf.d"
  for n in $(seq 50 99); do
    [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
    Xorg ":$n" -config "$config" -configdir "$dir/conf.d" -logfile "$dir/Xorg.log" \
      -noreset -nolisten tcp -novtswitch -sharevts -keeptty \
      </dev/null >"$dir/out" 2>&1 &
    pid=$!
    for i in $(seq 1 100); do
      if ! kill -0 "$pid" 2>/dev/null; then
        break  # ended: most likely the display was taken meanwhile; try the next one
      fi
      # Ready when it accepts connections and the display's lock names our server (not one
      # that somebody else started on the same number at the same moment).
      if [ "$(lock_owner "$n")" = "$pid" ] && accepts ":$n"; then
        echo "$pid" >"$dir/pid"
        ln -sfn "$dir" "$(state_link "$n")"
        echo ":$n"
        return 0
      fi
      sleep 0.1
    done
    if kill -0 "$pid" 2>/dev/null; then
      kill "$pid" 2>/dev/null || true
      wait "$pid" 2>/dev/null || true
      echo "xorg-dummy: the server on :$n did not accept connections within 10 s; log:" >&2
      tail -n 20 "$dir/Xorg.log" >&2 || true
      rm -rf "$dir"
      exit 1
    fi
    wait "$pid" 2>/dev/null || true
    if ! grep -q "Server is already active" "$dir/out" "$dir/Xorg.log" 2>/dev/null; then
      echo "xorg-dummy: the server on :$n failed to start; log:" >&2
      tail -n 20 "$dir/Xorg.log" "$dir/out" >&2 || true
      rm -rf "$dir"
      exit 1
    fi
  done
  rm -rf "$dir"
  echo "xorg-dummy: no free display number between :50 and :99" >&2
  exit 1
}

stop() {
  local display=${1:?usage: xorg-dummy.sh stop :<n>}
  local n=${display#:}
  n=${n%%.*}
  local link dir pid i
  link=$(state_link "$n")
  dir=$(readlink "$link" 2>/dev/null || true)
  [ -n "$dir" ] && [ -f "$dir/pid" ] || { echo "xorg-dummy: no server of ours on :$n" >&2; exit 1; }
  pid=$(cat "$dir/pid")
  # Only ever end our own server, never a process that reused the number.
  if [ "$(cat "/proc/$pid/comm" 2>/dev/null)" = "Xorg" ] && kill "$pid" 2>/dev/null; then
    for i in $(seq 1 50); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    kill -9 "$pid" 2>/dev/null || true
  fi
  rm -rf "$dir" "$link"
}

case "${1:-start}" in
  start) start ;;
  stop) shift; stop "$@" ;;
  *) echo "usage: $0 [start] | stop :<n>" >&2; exit 2 ;;
esac
