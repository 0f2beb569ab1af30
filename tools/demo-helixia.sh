#!/bin/bash
# Opens heLiXIA on a diffusion phantom served by the host stand-in.
# With a display the analyzer stays open until you quit it (File > Quit); without one the
# script runs itself under a virtual display, answers the start-up notices, saves a
# screenshot of the main window and quits.
# usage: tools/demo-helixia.sh [BUILD_DIR]   (default: build)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-build}" && pwd) || { echo "no build folder ${1:-build}" >&2; exit 1; }
bin=$build/bin
for program in ztrhost heLiXIA ztrphantom; do
  [ -x "$bin/$program" ] || { echo "missing $bin/$program (build first)" >&2; exit 1; }
done

if [ -z "${DISPLAY:-}" ]; then
  command -v xvfb-run > /dev/null || { echo "no DISPLAY and no xvfb-run" >&2; exit 1; }
  exec xvfb-run -a -s "-screen 0 1280x1024x24" bash "$0" "$build" --headless
fi
headless=no
[ "${2:-}" = "--headless" ] && headless=yes

demo=$build/demo-helixia
artifacts=$build/test-artifacts
mkdir -p "$demo" "$artifacts"
"$bin/ztrphantom" --out "$demo/phantom" --size 64 64 24 --directions 30 --noise 20 > /dev/null ||
  { echo "phantom failed" >&2; exit 1; }
echo "phantom: $demo/phantom/dwi.raw (64 x 64 x 24, 1 b=0 + 30 directions)"
echo "Hint: File > Import > MPG text file: $demo/phantom/dwi.mpg sets the phantom's directions."
# The example network set becomes the analyzer's default set (loaded at start-up from the
# working folder); Special > Extra maps by Run Time Neural Network computes its maps.
tools=$(cd "$(dirname "$0")" && pwd)
/usr/bin/python3 "$tools/make_rtnn_example.py" --mpg "$demo/phantom/dwi.mpg" --out "$demo/rtnn" > /dev/null &&
  mkdir -p "$demo/rtnn_data" && cp "$demo/rtnn/example.rtnn.bin" "$demo/rtnn_data/heLiXIA.rtnnFile.bin" &&
  echo "RTNN example set: $demo/rtnn (default set $demo/rtnn_data/heLiXIA.rtnnFile.bin)"
cd "$demo" || exit 1

. "$root/tests/support/client_number.sh"
. "$root/tests/analyzer/app/gui_support.sh"
reserve_client_number client
if [ "$headless" = no ]; then
  echo "heLiXIA opens; host output goes to $demo/host_output when you quit."
  exec "$bin/ztrhost" serve --client "$client" --input "$demo/phantom/dwi.raw" \
    --output "$demo/host_output" -- "$bin/heLiXIA"
fi

# Headless: drive the window with xdotool; the whole session has a deadline.
host_pid=
cleanup() {
  if [ -n "$host_pid" ] && kill -0 "$host_pid" 2>/dev/null; then
    kill "$host_pid" 2>/dev/null || true
    wait "$host_pid" 2>/dev/null || true
  fi
  rm -f "/dev/shm/ZTR_IPC_"*"($(printf '%04d' "$client"))"
}
trap cleanup EXIT
rm -f "$demo/host_in"
mkfifo "$demo/host_in"
timeout 300 "$bin/ztrhost" serve --client "$client" --input "$demo/phantom/dwi.raw" \
  --output "$demo/host_output" -- "$bin/heLiXIA" < "$demo/host_in" > "$demo/console.log" 2>&1 &
host_pid=$!
exec 3> "$demo/host_in"  # the host's commands: the cursor
main=$(wait_window '^heLiXIA$' 60) || { echo "no window" >&2; exit 1; }
while notice=$(wait_window '^Important Notice$' 5); do
  press "$notice" Return
  sleep 0.5
done
sleep 1
if import -window "$main" "$artifacts/helixia-demo.png"; then
  echo "screenshot: $artifacts/helixia-demo.png"
fi
# A fiber tracking study: the seed tab's view follows the host's cursor onto the curved
# bundle, a drag draws the seed sphere, " Analyze and Display " sends the lines to the host.
xdotool mousemove --window "$main" 257 246 click 1 2>/dev/null || true
echo "cursor 18 27 12" >&3
sleep 1
xdotool mousemove --window "$main" 160 453 mousedown 1 2>/dev/null || true
for dy in 2 4 6 8; do xdotool mousemove --window "$main" 160 $((453 - dy)); sleep 0.05; done
xdotool mouseup 1 2>/dev/null || true
sleep 0.5
xdotool mousemove --window "$main" 160 660 click 1 2>/dev/null || true
for ((i = 0; i < 100; i++)); do
  grep -q '^Seed:[0-9]*, Lines:' "$demo/console.log" && break
  sleep 0.2
done
grep '^Seed:[0-9]*, Lines:' "$demo/console.log" | head -1 | sed 's/^/tracking study: /' || true
if import -window "$main" "$artifacts/helixia-demo-tracking.png"; then
  echo "screenshot: $artifacts/helixia-demo-tracking.png"
fi
# The ROI editor's page shows the phantom in its slice view.
xdotool mousemove --window "$main" 240 43 click 1 2>/dev/null || true
sleep 1
if import -window "$main" "$artifacts/helixia-demo-roi-editor.png"; then
  echo "screenshot: $artifacts/helixia-demo-roi-editor.png"
fi
press "$main" ctrl+q
if confirmation=$(wait_window '^Important Notice$' 10); then press "$confirmation" Return; fi
exec 3>&-
# Bounded: the host runs under its own deadline.
status=0
wait "$host_pid" || status=$?
host_pid=
[ "$status" -eq 0 ] || { echo "the host ended with status $status (see $demo/console.log)" >&2; exit 1; }
echo "console: $demo/console.log; host output: $demo/host_output"
