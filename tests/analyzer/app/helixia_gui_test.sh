#!/bin/bash
# heLiXIA in a real window (run under a virtual X display): the host serves a phantom and
# starts the analyzer, the start-up notices are answered, "Compute standard DTI parameter
# maps" is chosen from the Special menu with the keyboard, the host receives the four maps,
# the ROI editor's view follows the host's cursor and Ctrl+U uploads its channel, a sphere
# is drawn by dragging in the view, F12 shows it as the one sphere of the host's object group,
# Ctrl+S saves the work session, Quit ends the analyzer, a second start opens the session with
# Ctrl+O and saves the same bytes again, and no board is left. Screenshots go to the
# artifacts folder.
# usage: helixia_gui_test.sh ZTRHOST HELIXIA ZTRPHANTOM ARTIFACTS_DIR
set -u
ztrhost=$1 helixia=$2 phantom=$3 artifacts=$4
mkdir -p "$artifacts"
work=$(mktemp -d /tmp/helixia_gui.XXXXXX)
. "$(dirname "$0")/../../support/client_number.sh"
. "$(dirname "$0")/gui_support.sh"
reserve_client_number client || exit 1
reserve_client_number no_host_client || exit 1
reserve_client_number depth16_client || exit 1
tag=$(printf '(%04d)' "$client")
host_pid=

trap end_scenario EXIT

# ---- a start without a host ends with status 0 after trying to connect -----------------
timeout 60 "$helixia" "$no_host_client" > "$work/nohost.log" 2>&1
status=$?
[ "$status" -eq 0 ] || fail "without a host the analyzer ended with status $status"
grep -q '^IPC NOT available (IPC Client initialization failure)$' "$work/nohost.log" ||
  fail "no 'IPC NOT available' line without a host"
grep -q '>> Establishing connection ... ' "$work/nohost.log" || fail "no connection attempt"

# ---- a 16-bit display ends the start-up silently, before any connection -----------------
timeout 60 xvfb-run -a -s "-screen 0 640x480x16" "$helixia" "$depth16_client" > "$work/depth16.log" 2>&1
status=$?
[ "$status" -eq 0 ] || fail "on a 16-bit display the analyzer ended with status $status"
grep -q '^IPC NOT available' "$work/depth16.log" || fail "the 16-bit run did not start"
if grep -q 'Establishing connection' "$work/depth16.log"; then
  fail "the analyzer went on past the visual check on a 16-bit display"
fi

# ---- the host serves a phantom and starts the analyzer ----------------------------------
"$phantom" --out "$work/phantom" --size 32 32 12 --directions 6 > "$work/phantom.log" 2>&1 ||
  fail "phantom: $(cat "$work/phantom.log")"
serve_phantom 180

main=$(wait_window '^heLiXIA$' 60) || fail "the main window did not appear"
geometry=$(xdotool getwindowgeometry "$main")
echo "$geometry"
echo "$geometry" | grep -q 'Geometry: 320x712' || fail "main window is not 320x712: $geometry"

# The DWI data notice and the RTNN notice, each answered with Return; then no third one.
answer_startup_notices "$artifacts/helixia-dwi-notice.png"
if wait_window '^Important Notice$' 2 > /dev/null; then fail "an unexpected third notice"; fi
grep -q 'IPC available (IPC Client initialization succeeded)' "$work/host.log" ||
  fail "the analyzer did not report IPC"
grep -q 'RTNN not available' "$work/host.log" || fail "no RTNN line"

sleep 1
import -window "$main" "$artifacts/helixia-main.png" || fail "screenshot"

# ---- Ctrl+L: the discard confirmation, then the file selection, cancelled ----------------
press "$main" ctrl+l
confirmation=$(wait_window '^Important Notice$' 10) || fail "no discard confirmation on Ctrl+L"
press "$confirmation" Return
chooser=$(wait_window '^File Selection$' 10) || fail "no file selection after the confirmation"
sleep 0.5
import -window root "$artifacts/helixia-file-selection.png"
press "$chooser" Escape
for ((i = 0; i < 50; i++)); do
  xdotool search --onlyvisible --name '^File Selection$' > /dev/null 2>&1 || break
  sleep 0.1
done
if xdotool search --onlyvisible --name '^File Selection$' > /dev/null 2>&1; then
  fail "the file selection did not close on Escape"
fi
if grep -q 'Volume data OK. Replacing.' "$work/host.log"; then fail "a cancelled load replaced data"; fi

# ---- Special > Compute standard DTI parameter maps, by keyboard --------------------------
# F10 opens File; Left wraps to the right-aligned Help, Left again opens Special; Down selects
# its first item, realtime analysis, and a second Down the computation.
press "$main" F10
sleep 0.4
xdotool key Left
sleep 0.4
xdotool key Left
sleep 0.4
xdotool key Down
sleep 0.4
xdotool key Down
sleep 0.6
import -window root "$artifacts/helixia-special-menu.png"
xdotool key Return

wait_summary '"channels": 11' 60 1 || fail "the host did not receive the four maps"
grep -q '"types": \[3, 3, 3, 3, 3, 3, 3, 4, 3, 3, 3\]' "$work/snap/summary.json" ||
  fail "unexpected channel types: $(grep '"volume"' "$work/snap/summary.json")"
grep -q 'Transferring 4 CCs to ZANTREVIUM...' "$work/host.log" || fail "no transfer line"
for ((i = 0; i < 30; i++)); do
  grep -q 'Done\.$' "$work/host.log" && break
  sleep 0.2
done
grep -q 'Done\.$' "$work/host.log" || fail "no Done line"

# ---- ROI editor: the views follow the host's cursor, Ctrl+U uploads the shown channel ----
xdotool mousemove --window "$main" 240 43 click 1
sleep 0.5
echo "cursor 20 12 6" >&3
sleep 1
import -window "$main" "$artifacts/helixia-roi-editor.png" || fail "screenshot of the ROI editor"
press "$main" ctrl+u
wait_summary '"channels": 12' 30 0.5 ||
  fail "Ctrl+U on the ROI editor did not upload the shown channel"

# ---- a sphere drawn by dragging up in the view grows its circle -------------------------
# The drawing area's centre sits at (160, 411) in the window with this theme.
import -window "$main" "$work/before-sphere.png"
xdotool mousemove --window "$main" 160 411 mousedown 1
for dy in 5 10 15 20 25 30; do
  xdotool mousemove --window "$main" 160 $((411 - dy))
  sleep 0.05
done
xdotool mouseup 1
sleep 0.5
import -window "$main" "$artifacts/helixia-sphere.png" || fail "screenshot of the sphere"
changed=$(compare -metric AE "$work/before-sphere.png" "$artifacts/helixia-sphere.png" null: 2>&1)
[ "${changed%% *}" -gt 100 ] 2>/dev/null || fail "the drag did not change the view ($changed pixels)"

# ---- F12 sends the visible ROIs: the drawn sphere is the one object of the display group --
press "$main" F12
wait_summary '"count": 1, "file": "group_[0-9]+\.vtk", "types": \{"11": 1\}' 30 0.3 ||
  fail "F12 did not show one sphere: $(grep -A3 object_groups "$work/snap/summary.json")"
# Each study has its own host object too; before any analysis they hold nothing.
groups=$(grep -c '"file": "group_' "$work/snap/summary.json")
[ "$groups" -eq 4 ] || fail "$groups object groups instead of the display group and 3 studies"
filled=$(grep -c '"count": [1-9][0-9]*, "file": "group_' "$work/snap/summary.json")
[ "$filled" -eq 1 ] || fail "$filled object groups hold objects instead of one"
vtk=$(grep -o '"count": 1, "file": "group_[0-9]*.vtk"' "$work/snap/summary.json" | cut -d'"' -f6)
[ -s "$work/snap/$vtk" ] || fail "no $vtk written for the ROI group"
cp "$work/snap/$vtk" "$artifacts/helixia-roi-group.vtk"

# ---- Ctrl+S saves the work session: the file selection takes a typed path ----------------
# Types a full path into the open file selection and confirms it.
choose_path() {
  local chooser
  chooser=$(wait_window '^File Selection$' 10) || fail "no file selection for $1"
  sleep 0.5
  press "$chooser" ctrl+a
  xdotool type --delay 20 "$1"
  sleep 0.3
  xdotool key Return
}
press "$main" ctrl+s
choose_path "$work/first.session"
for ((i = 0; i < 50; i++)); do [ -s "$work/first.session" ] && break; sleep 0.1; done
[ -s "$work/first.session" ] || fail "Ctrl+S wrote no work session file"
size=$(stat -c %s "$work/first.session")
[ "$size" -gt 5195 ] || fail "the work session file holds only $size bytes"

# ---- Quit (confirmed) ends the analyzer ---------------------------------------------------
press "$main" ctrl+q
confirmation=$(wait_window '^Important Notice$' 10) || fail "no quit confirmation"
press "$confirmation" Return
wait_summary '"plugin_exit": "exit 0"' 100 0.2 || fail "the analyzer did not end with status 0"
grep -q 'Requesting removal of Object ' "$work/host.log" || fail "no removal request"

# ---- start again, Ctrl+O opens the saved session, Ctrl+S writes the same bytes -----------
timeout 120 "$helixia" "$client" > "$work/second.log" 2>&1 &
second_pid=$!
main=$(wait_window '^heLiXIA$' 60) || fail "the second analyzer's window did not appear"
for which in "DWI data" "RTNN not ready"; do
  notice=$(wait_window '^Important Notice$' 30) || fail "no $which notice at the second start"
  press "$notice" Return
  sleep 0.5
done
press "$main" ctrl+o
confirmation=$(wait_window '^Important Notice$' 10) || fail "no discard confirmation on Ctrl+O"
press "$confirmation" Return
choose_path "$work/first.session"
# The view reset shows the DWI data notice before the objects are created.
notice=$(wait_window '^Important Notice$' 20) || fail "no DWI data notice after the load"
press "$notice" Return
loaded=$(wait_window '^Notice$' 20) || { import -window root "$artifacts/helixia-open-failed.png"; fail "no object count notice: $(cat "$work/second.log")"; }
grep -q '^3 ROI objects$' "$work/second.log" || fail "the ROIs were not restored"
import -window root "$artifacts/helixia-session-loaded.png"
press "$loaded" Return
sleep 0.5
press "$main" ctrl+s
choose_path "$work/second.session"
for ((i = 0; i < 50; i++)); do [ -s "$work/second.session" ] && break; sleep 0.1; done
cmp "$work/first.session" "$work/second.session" ||
  fail "the reopened session does not save to the same bytes"
press "$main" ctrl+q
confirmation=$(wait_window '^Important Notice$' 10) || fail "no quit confirmation (second)"
press "$confirmation" Return
wait "$second_pid" || fail "the second analyzer did not end with status 0"
cp "$work/second.log" "$artifacts/helixia-second-console.log"

echo quit >&3
exec 3>&-
wait "$host_pid"
host_status=$?
host_pid=
[ "$host_status" -eq 0 ] || fail "host ended with status $host_status"
grep -q '"object_groups": \[\]' "$work/out/summary.json" || fail "host objects left behind"
if ls /dev/shm 2>/dev/null | grep -F "$tag"; then fail "boards left behind"; fi
cp "$work/host.log" "$artifacts/helixia-console.log"
echo "PASS"
