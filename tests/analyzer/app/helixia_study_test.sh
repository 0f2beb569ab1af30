#!/bin/bash
# A fiber tracking study in heLiXIA's real window (run under a virtual X display): the host
# serves the phantom and starts the analyzer; on the Study performer page the seed tab's view
# follows the host's cursor onto the curved bundle, a drag draws the seed sphere there, and
# " Analyze and Display " sends the study's lines to its own host object (ztrhost writes it as
# group_NNNN.vtk, polylines only). A target sphere drawn on the straight bundle below the
# crossing, switched on with " Use", then keeps only the lines that reach it. A diffusion
# profile study on the host's box draws its ellipsoids into its host object. Screenshots go
# to the artifacts folder.
# usage: helixia_study_test.sh ZTRHOST HELIXIA ZTRPHANTOM ARTIFACTS_DIR
set -u
ztrhost=$1 helixia=$2 phantom=$3 artifacts=$4
mkdir -p "$artifacts"
work=$(mktemp -d /tmp/helixia_study.XXXXXX)
. "$(dirname "$0")/../../support/client_number.sh"
. "$(dirname "$0")/gui_support.sh"
reserve_client_number client || exit 1
host_pid=

trap end_scenario EXIT

# Clicks at window coordinates.
click() {
  xdotool mousemove --window "$main" "$1" "$2" click 1
  sleep 0.5
}

# Drags up from the seed or target view's centre (160, 453 in the window with this theme) by
# $1 pixels: the sphere's radius grows by $1 / zoom voxels (zoom 8 on a 64-wide volume).
draw_sphere() {
  xdotool mousemove --window "$main" 160 453 mousedown 1
  local dy
  for ((dy = 2; dy <= $1; dy += 2)); do
    xdotool mousemove --window "$main" 160 $((453 - dy))
    sleep 0.05
  done
  xdotool mouseup 1
  sleep 0.5
}

# Presses " Analyze and Display " and waits for the run's line on the console; prints the
# number of hairlines drawn.
analyze() {
  local before i
  before=$(grep -c '^Seed:[0-9]*, Lines:' "$work/host.log")
  click 160 660
  for ((i = 0; i < 100; i++)); do
    [ "$(grep -c '^Seed:[0-9]*, Lines:' "$work/host.log")" -gt "$before" ] && break
    sleep 0.2
  done
  grep '^Seed:[0-9]*, Lines:' "$work/host.log" | sed -n "$((before + 1))p" |
    sed 's/^Seed:[0-9]*, Lines:\([0-9]*\)\/.*/\1/'
}

# The object groups of the host that hold polylines: "count" per line.
line_groups() {
  grep -o '"count": [0-9]*, "file": "group_[0-9]*.vtk", "types": {"61": [0-9]*}' \
    "$work/snap/summary.json"
}

# ---- the host serves the phantom and starts the analyzer ---------------------------------
"$phantom" --out "$work/phantom" > "$work/phantom.log" 2>&1 ||
  fail "phantom: $(cat "$work/phantom.log")"
serve_phantom 240
main=$(wait_window '^heLiXIA$' 60) || fail "the main window did not appear"
answer_startup_notices
sleep 1

# ---- the seed: the seed tab's view follows the cursor onto the curved bundle -------------
click 257 246  # the fiber tracking panel's "Seed" tab
echo "cursor 18 27 12" >&3
sleep 1
draw_sphere 8  # a drawn view stops following: the seed stays where it is drawn
import -window "$main" "$artifacts/helixia-study-seed.png" || fail "screenshot of the seed"

all=$(analyze)
[ -n "$all" ] && [ "$all" -gt 0 ] || fail "the tracking study drew no lines: '$all'"
wait_summary "\"types\": \\{\"61\": $all\\}" 30 0.3 ||
  fail "no host object holds the $all lines: $(grep -A8 object_groups "$work/snap/summary.json")"
vtk=$(line_groups | grep "\"61\": $all}" | head -1 | cut -d'"' -f6)
[ -s "$work/snap/$vtk" ] || fail "no $vtk written for the study's lines"
cp "$work/snap/$vtk" "$artifacts/helixia-study-lines.vtk"
import -window "$main" "$artifacts/helixia-study-analysed.png" || fail "screenshot"

# ---- a target on the straight bundle below the crossing keeps only the lines through it ---
click 305 246  # the next tab: "Target"
click 40 276   # " Use"
echo "cursor 44.5 28 5" >&3
sleep 1
draw_sphere 24
import -window "$main" "$artifacts/helixia-study-target.png" || fail "screenshot of the target"
through=$(analyze)
[ -n "$through" ] || fail "no run with the target"
[ "$through" -gt 0 ] && [ "$through" -lt "$all" ] ||
  fail "the target kept $through of $all lines"
wait_summary "\"types\": \\{\"61\": $through\\}" 30 0.3 ||
  fail "the host's object does not hold the $through selected lines"
import -window "$main" "$artifacts/helixia-study-selected.png" || fail "screenshot"

# ---- a diffusion profile study on the host's box draws ellipsoids -----------------------
echo "box 40 24 4 6 6 3" >&3
sleep 1
click 100 124  # the list's second row, "Diffusion profile 1"
# The phantom's b=0 signal is 2000: the upper So bound of "Show if" goes above it.
click 233 521
xdotool key --clearmodifiers ctrl+a
xdotool type --delay 20 "5000"
sleep 0.3
click 160 660
wait_summary '"types": \{"12": [0-9]+\}' 40 0.3 ||
  fail "no host object holds ellipsoids: $(grep -A8 object_groups "$work/snap/summary.json")"
ellipsoids=$(grep -o '"types": {"12": [0-9]*}' "$work/snap/summary.json" | tr -dc '0-9\n' | cut -c3-)
import -window "$main" "$artifacts/helixia-study-profile.png" || fail "screenshot of the profile"

echo quit >&3
exec 3>&-
wait "$host_pid"
host_pid=
echo "tracking study: $all lines, $through through the target; profile: $ellipsoids ellipsoids"
