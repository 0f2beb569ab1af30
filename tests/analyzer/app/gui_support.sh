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
