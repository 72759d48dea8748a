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
# The server's process id is in ${TMPDIR:-/tmp}/bd-xorg-<n>/pid, its log beside it; killing that
# process is equivalent to "stop". Xorg needs root here (or a setuid wrapper).
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
config=${BD_XORG_CONFIG:-$here/xorg/dummy.conf}
tmproot=${TMPDIR:-/tmp}

state_dir() { echo "$tmproot/bd-xorg-$1"; }

accepts() {  # accepts <display>
  xdpyinfo -display "$1" >/dev/null 2>&1
}

start() {
  command -v Xorg >/dev/null || { echo "xorg-dummy: Xorg is not installed" >&2; exit 1; }
  local n dir pid i
  for n in $(seq 50 99); do
    [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
    dir=$(state_dir "$n")
    rm -rf "$dir"
    mkdir -p "$dir/conf.d"
    Xorg ":$n" -config "$config" -configdir "$dir/conf.d" -logfile "$dir/Xorg.log" \
      -noreset -nolisten tcp -novtswitch -sharevts -keeptty \
      </dev/null >"$dir/out" 2>&1 &
    pid=$!
    echo "$pid" >"$dir/pid"
    for i in $(seq 1 100); do
      if ! kill -0 "$pid" 2>/dev/null; then
        break  # ended: most likely the display was taken meanwhile; try the next one
      fi
      if accepts ":$n"; then
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
    rm -rf "$dir"
  done
  echo "xorg-dummy: no free display number between :50 and :99" >&2
  exit 1
}

stop() {
  local display=${1:?usage: xorg-dummy.sh stop :<n>}
  local n=${display#:}
  n=${n%%.*}
  local dir pid i
  dir=$(state_dir "$n")
  [ -f "$dir/pid" ] || { echo "xorg-dummy: no server of ours on :$n" >&2; exit 1; }
  pid=$(cat "$dir/pid")
  # Only ever end our own server, never a process that reused the number.
  if [ "$(cat "/proc/$pid/comm" 2>/dev/null)" = "Xorg" ] && kill "$pid" 2>/dev/null; then
    for i in $(seq 1 50); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    kill -9 "$pid" 2>/dev/null || true
  fi
  rm -rf "$dir"
}

case "${1:-start}" in
  start) start ;;
  stop) shift; stop "$@" ;;
  *) echo "usage: $0 [start] | stop :<n>" >&2; exit 2 ;;
esac
