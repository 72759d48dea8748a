#!/usr/bin/env bash
# Installs the configuration tool of a build together with the demo installation and starts it.
#
#   scripts/run-demo.sh [build-folder] [--check]
#
# The staging installation is <build>/demo-install (bin/config, bin/libbdsound.so, bin/program.ini,
# deutsch/, english/). With $DISPLAY set (and reachable) the tool opens on that display and the
# run is yours; the results go to the usual registry store ($XDG_CONFIG_HOME/Brindel/registry.reg,
# by default ~/.config/Brindel/registry.reg).
#
# Without a display the tool runs inside a private X server on the dummy video driver
# (scripts/xorg-dummy.sh): the script answers every question with yes (sounds go to SDL's disk
# driver), confirms the first full-screen mode of the trial switch, saves screenshots of the
# trial and of the finished window to <build>/demo-screenshot-*.png, presses OK and stops the
# server. The registry store of that run is <build>/demo-install/config-home/Brindel/registry.reg.
# With --check it also verifies that the server really switched to 800x600 during the trial, that
# it is back in its own mode afterwards and that the store holds the saved settings (exit code 1
# otherwise); the end-to-end test uses this.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(cd "$here/.." && pwd)
build=build/release
check=0
for arg in "$@"; do
  case "$arg" in
    --check) check=1 ;;
    *) build=$arg ;;
  esac
done
build=$(cd "$build" && pwd)
stage=$build/demo-install

for f in config libbdsound.so; do
  [ -f "$build/bin/$f" ] || { echo "run-demo: $build/bin/$f is missing; build first" >&2; exit 1; }
done
rm -rf "$stage"
mkdir -p "$stage"
cp -r "$repo/demo/." "$stage/"
cp "$build/bin/config" "$build/bin/libbdsound.so" "$stage/bin/"
echo "run-demo: installation staged in $stage"

# A display that cannot be reached (a stale $DISPLAY of a remote shell) counts as none.
if [ -n "${DISPLAY:-}" ] && [ "$check" = 0 ] && xdpyinfo >/dev/null 2>&1; then
  echo "run-demo: starting $stage/bin/config on $DISPLAY"
  status=0
  "$stage/bin/config" || status=$?
  echo "run-demo: results are in ${XDG_CONFIG_HOME:-$HOME/.config}/Brindel/registry.reg"
  exit "$status"
fi

# --- headless: a private X server, answered by xdotool ---
for tool in Xorg xdotool xdpyinfo ffmpeg; do
  # 77: the end-to-end test reports itself skipped on a machine without these.
  command -v "$tool" >/dev/null || { echo "run-demo: $tool is needed for a run without a display" >&2; exit $((check ? 77 : 1)); }
done
display=$("$here/xorg-dummy.sh" start)
export DISPLAY=$display
pid=
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null || true
  "$here/xorg-dummy.sh" stop "$display" >/dev/null 2>&1 || true
}
trap cleanup EXIT
export XDG_CONFIG_HOME=$stage/config-home
# The private server comes without a session bus. Without an address the bus library would start
# one through the X server, forking the tool while its threads run; in a sanitizer build that
# child can stop on a lock taken before the fork, and the tool then hangs at exit waiting for it.
export DBUS_SESSION_BUS_ADDRESS=unix:path=$stage/no-session-bus
export SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=$stage/sound-output.raw SDL_DISKAUDIODELAY=20
unset QT_QPA_PLATFORM
store=$XDG_CONFIG_HOME/Brindel/registry.reg
failures=0
fail() { echo "run-demo: CHECK FAILED: $*" >&2; failures=$((failures + 1)); }

screen() { xdpyinfo | awk '/dimensions:/ { d = $2 } END { print d }'; }
windows() { xdotool search --onlyvisible --name '^Config$' 2>/dev/null || true; }
count() { windows | wc -l; }
# wait_for <seconds> <command...>: polls the command every 0.1 s.
wait_for() {
  local limit=$1; shift
  local i
  for i in $(seq 1 $((limit * 10))); do
    if "$@"; then return 0; fi
    kill -0 "$pid" 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}
has_windows() { [ "$(count)" -eq "$1" ]; }
screen_is() { [ "$(screen)" = "$1" ]; }
shot() { ffmpeg -hide_banner -loglevel error -y -f x11grab -draw_mouse 0 -video_size "$(screen)" -i "$display" -frames:v 1 "$1"; }
# The window of the given size among the visible ones.
window_of_size() {
  local w
  for w in $(windows); do
    if xdotool getwindowgeometry "$w" | grep -q "Geometry: $1"; then echo "$w"; return 0; fi
  done
  return 1
}
click_in() {  # click_in <window> <x> <y>
  local pos
  pos=$(xdotool getwindowgeometry "$1" | awk '/Position:/ { print $2 }')
  xdotool mousemove $(( ${pos%,*} + $2 )) $(( ${pos#*,} + $3 )) click 1
}
# The visible window other than the main one: a text dialog or the trial question.
dialog() {
  local w
  for w in $(windows); do
    [ "$w" != "$form" ] && { echo "$w"; return 0; }
  done
  return 1
}
gone() { ! windows | grep -qx "$1"; }
# Presses Enter in the dialog in front until that very dialog has gone: a key pressed before the
# dialog had the input focus would be lost, and one pressed after it closed could answer the next.
confirm() {
  local w i
  w=$(dialog) || return 1
  for i in $(seq 1 10); do
    xdotool windowfocus "$w" 2>/dev/null || true
    xdotool key Return
    wait_for 2 gone "$w" && return 0
  done
  return 1
}

original=$(screen)
echo "run-demo: X server $display ($original), registry store $store"
(cd "$stage" && exec "$stage/bin/config") >"$stage/config.log" 2>&1 &
pid=$!

step() { echo "run-demo: $*"; }
wait_for 20 has_windows 2 || { echo "run-demo: the tool did not open its start text (log: $stage/config.log)" >&2; exit 1; }
form=$(window_of_size 800x600)
step "start text shown; answering the media questions with yes"
confirm || { echo "run-demo: the start text did not close" >&2; exit 1; }
# The question panel appears for each enabled medium; a click on its yes button answers it, and
# a click while it is hidden lands on the background. The display dialog ends the media tests.
for i in $(seq 1 300); do
  has_windows 2 && break
  kill -0 "$pid" 2>/dev/null || break
  click_in "$form" 334 416
  sleep 0.3
done
has_windows 2 || { echo "run-demo: the media tests did not end" >&2; exit 1; }
step "display check: trying the full-screen modes"
confirm || fail "the text before the trial did not close"
wait_for 30 screen_is 800x600 || fail "the screen was not switched to 800x600"
wait_for 15 has_windows 2 || fail "the trial question did not appear"
shot "$build/demo-screenshot-trial.png"
during=$(screen)
question=$(window_of_size 384x92) || true
if [ -n "$question" ]; then
  for i in 1 2 3; do  # its yes button, until the question has gone
    click_in "$question" 148 68
    wait_for 3 gone "$question" && break
  done
fi
wait_for 15 screen_is "$original" || fail "the screen did not return to $original"
wait_for 15 has_windows 2 && { confirm || fail "the text after the trial did not close"; }
wait_for 10 has_windows 1 || true
sleep 0.5
form=$(window_of_size 800x600)
formpos=$(xdotool getwindowgeometry "$form" | awk '/Position:/ { print $2 }')
ffmpeg -hide_banner -loglevel error -y -f x11grab -draw_mouse 0 -video_size 800x600 -i "$display+$formpos" \
  -frames:v 1 "$build/demo-screenshot.png"
step "screenshot of the finished window: $build/demo-screenshot.png"
click_in "$form" 728 515
wait_for 20 bash -c "! kill -0 $pid 2>/dev/null" || true
if kill -0 "$pid" 2>/dev/null; then
  fail "the tool did not end after OK"
  # Where it hangs: the stacks of all its threads, when a debugger is at hand.
  if command -v gdb >/dev/null; then
    gdb -p "$pid" -batch -ex "thread apply all bt 12" 2>/dev/null | grep -E '^(Thread|#)' >&2 || true
  fi
  tail -n 20 "$stage/config.log" >&2 || true
else
  wait "$pid" || fail "the tool ended with an error (log: $stage/config.log)"
fi
pid=
after=$(screen)
rm -f "$stage/sound-output.raw"

echo "run-demo: screen during the trial $during, after the run $after"
echo "run-demo: results in $store:"
# The store keeps the names' bytes as the ini files give them (code page 1252 in the demo).
grep -a -E 'Switch|TargetIndex|MaxIndex|SettingsForAll|Flash|DirectX|lesespass' "$store" |
  iconv -f CP1252 -t UTF-8 | sed 's/^/  /' || true
if [ "$check" = 1 ]; then
  [ "$during" = 800x600 ] || fail "screen during the trial: $during"
  [ "$after" = "$original" ] || fail "screen after the run: $after"
  pair=${original/x/}800600
  grep -aq "\"_AllPrograms${pair}Switch\"=dword:00000001" "$store" || fail "_AllPrograms${pair}Switch is not 1"
  grep -aq "\"_AllPrograms${pair}SettingsForAllPrograms\"=dword:00000001" "$store" || fail "SettingsForAllPrograms is not 1"
  grep -aqE "\"_AllPrograms${pair}TargetIndex\"=dword:0000000[0-9a-f]|\"_AllPrograms${pair}TargetIndex\"=dword:000000[1-9a-f][0-9a-f]" "$store" || fail "no TargetIndex of a confirmed mode"
  grep -aq "\"_AllPrograms${pair}MaxIndex\"=dword:" "$store" || fail "no MaxIndex"
  grep -aq "${pair}Switch\"=dword:00000001" <(grep -av _AllPrograms "$store") || fail "the program's own Switch is not 1"
  grep -aq "/bin/lesespass\"=\"\$ DWM8And16BitMitigation Win7RTM\"" "$store" || fail "no compatibility entry"
  [ "$failures" = 0 ] && echo "run-demo: all checks passed"
fi
exit $((failures > 0))
