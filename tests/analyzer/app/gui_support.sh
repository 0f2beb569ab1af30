# Shell helpers of the heLiXIA window scenarios: finding windows, pressing keys in them and
# asking the host stand-in for its state. Sourced; the caller keeps the host's input on
# descriptor 3.

# Prints the ID of the first visible window whose name matches, waiting up to $2 seconds.
wait_window() {
  local i id
  for ((i = 0; i < $2 * 10; i++)); do
    id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1)
    if [ -n "$id" ]; then echo "$id"; return 0; fi
    sleep 0.1
  done
  return 1
}

# Focuses a window and presses keys in it.
press() {
  local window=$1
  shift
  xdotool windowfocus --sync "$window" 2>/dev/null || xdotool windowfocus "$window"
  sleep 0.2
  xdotool key --clearmodifiers "$@"
}

# Asks the host to write its state to $1 and waits until the summary is there.
host_snapshot() {
  rm -rf "$1"
  echo "save $1" >&3
  local i
  for ((i = 0; i < 50; i++)); do
    [ -s "$1/summary.json" ] && return 0
    sleep 0.1
  done
  return 1
}

# Waits until the host's summary matches the extended regular expression $1, asking for it
# up to $2 times $3 seconds apart; the last snapshot stays in $work/snap.
wait_summary() {
  local i
  for ((i = 0; i < $2; i++)); do
    sleep "$3"
    host_snapshot "$work/snap" || continue
    grep -Eq "$1" "$work/snap/summary.json" && return 0
  done
  return 1
}

# The scenario's end, normal or not: the host's input closed, the host stopped, $work gone.
# Uses $work and $host_pid.
end_scenario() {
  exec 3>&- 2>/dev/null
  if [ -n "$host_pid" ] && kill -0 "$host_pid" 2>/dev/null; then
    kill "$host_pid" 2>/dev/null
    wait "$host_pid" 2>/dev/null
  fi
  rm -rf "$work"
}

fail() {
  echo "FAIL: $*" >&2
  echo "--- host and analyzer console:" >&2
  cat "$work/host.log" >&2 2>/dev/null
  exit 1
}

# Starts ztrhost on $work/phantom/dwi.raw for client $client with the analyzer $helixia,
# staying after it ends, under a deadline of $1 seconds; its commands go to descriptor 3.
serve_phantom() {
  mkfifo "$work/host_in"
  timeout "$1" "$ztrhost" serve --client "$client" --input "$work/phantom/dwi.raw" \
    --output "$work/out" --stay -- "$helixia" < "$work/host_in" > "$work/host.log" 2>&1 &
  host_pid=$!
  exec 3> "$work/host_in"
}

# Answers the analyzer's two start-up notices (DWI data, RTNN not ready) with Return, each
# once it has closed; a screenshot of the first goes to $1 when given.
answer_startup_notices() {
  local which notice i
  for which in "DWI data" "RTNN not ready"; do
    notice=$(wait_window '^Important Notice$' 30) || fail "no $which notice"
    if [ "$which" = "DWI data" ] && [ -n "${1:-}" ]; then import -window root "$1"; fi
    press "$notice" Return
    for ((i = 0; i < 50; i++)); do
      xdotool search --onlyvisible --name '^Important Notice$' > /dev/null 2>&1 || break
      sleep 0.1
    done
  done
}
