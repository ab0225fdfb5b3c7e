#!/usr/bin/env bash
# End-to-end flows: the real voltdesk on a private X server (Xvfb), driven with real X
# input events (xdotool sends them through the XTEST extension, as a keyboard and a
# mouse would), beside the simulated module on a pseudo-terminal. Results are read from
# outside the program only: the lines the module received, the files the program wrote
# (history.txt, the saved log) and the devices it holds open.
#
# usage: voltdesk_e2e.sh VOLTDESK MODULESIM WMCLOSE [FLOW...]   (default: every flow)
#
# A flow is a function flow_NAME that calls start_session, drives the window, checks,
# and ends with end_session. Each runs in a subshell of its own with a fresh working
# folder, module and program; one X server serves the flows of one run. ctest runs each
# flow as a test of its own, in parallel: Xvfb picks a free display (-displayfd).
set -euo pipefail

voltdesk=$(realpath "$1")
modulesim=$(realpath "$2")
wmclose=$(realpath "$3")
shift 3

for tool in Xvfb xdotool; do
  command -v "$tool" >/dev/null || { echo "e2e: $tool is missing (tools/install-deps.sh installs it)"; exit 1; }
done

root=$(mktemp -d "${TMPDIR:-/tmp}/voltdesk-e2e.XXXXXX")
mkdir -m 700 "$root/runtime"
export XDG_RUNTIME_DIR="$root/runtime"
xvfb_pid=
stop_x() {
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
  fi
  rm -rf "$root"
}
trap stop_x EXIT

# ---- helpers ------------------------------------------------------------------------

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# How long one step may take: generous, for a sanitizer build on a loaded machine.
wait_limit=60

# wait_for DESCRIPTION COMMAND...: polls COMMAND every 50 ms for up to $wait_limit s.
# COMMAND is run anew each poll, so it must not be a "$(...)" expanded once at the call.
wait_for() {
  local what=$1 end=$((SECONDS + wait_limit))
  shift
  until "$@"; do
    [ "$SECONDS" -le "$end" ] || fail "timed out waiting for $what"
    sleep 0.05
  done
}

# WINDOW holds the keyboard focus. Until a modal dialog has it, keys go to the main
# window, which the dialog blocks, and are lost: wait for it before typing.
has_focus() { [ "$(xdotool getwindowfocus 2>/dev/null)" = "$1" ]; }
wait_focus() { wait_for "$2 to hold the keyboard focus" has_focus "$1"; }
# Gives WINDOW the focus, as a click on its title would; true once it holds it.
focus_on() {
  xdotool windowfocus "$1" 2>/dev/null || true
  has_focus "$1"
}

# No window of the program named NAME (a regular expression) is on screen.
none_shown() { [ "$(xdotool search --onlyvisible --all --pid "$app_pid" --name "$1" 2>/dev/null | wc -l)" -eq 0 ]; }

# The first window of the program named NAME on screen, once it is there.
shown_window() {
  timeout "$wait_limit" xdotool search --sync --onlyvisible --all --pid "$app_pid" --name "$1" | head -1
}

# Real key presses (XTEST) to the focused window, e.g. keys Return, keys alt+t.
keys() { xdotool key --delay 40 "$@"; }
type_text() { xdotool type --delay 40 "$1"; }
# A real left click at a point of the window's client area. (The server takes one
# client's requests in order, so the pointer is there before the click; --sync would
# wait for ever when the pointer is there already.)
click_at() { xdotool mousemove --window "$window" "$1" "$2" click 1; }

# The program holds the module's terminal open (an open link).
holds_port() {
  local fd
  for fd in /proc/"$app_pid"/fd/*; do
    [ "$(readlink "$fd" 2>/dev/null)" = "$pty" ] && return 0
  done
  return 1
}
releases_port() { ! holds_port; }

# The lines the module received, exactly these and in this order.
received() {
  [ "$(cat "$work/received.txt")" = "$(if (($#)); then printf '%s\n' "$@"; fi)" ]
}

# file_is PATH BYTES: the file holds exactly these bytes.
file_is() {
  cmp -s "$1" <(printf '%s' "$2") || fail "$(basename "$1") holds: $(od -c "$1" | head -20)"
}

saved_log_exists() { compgen -G "$work/LOG_*.TXT" > /dev/null; }

# The module's 300-character identification: "HVSIM-" and then the digits 0 to 9 over and over.
long_id() {
  local id
  id="HVSIM-$(printf '0123456789%.0s' {1..30})"
  printf '%s' "${id:0:300}"
}

app_ended() {
  local state
  [ -r /proc/"$app_pid"/stat ] || return 0
  read -r _ _ state _ < /proc/"$app_pid"/stat || return 0
  [ "$state" = Z ]
}

# Top-level windows of the program that are on screen (the main window, message boxes).
visible_windows() { xdotool search --onlyvisible --pid "$app_pid" 2>/dev/null | wc -l; }

# start_session [MODULESIM OPTIONS...] [-- VOLTDESK ARGUMENTS...]
# A fresh working folder holding an empty history.txt (so that the program writes its
# history back at close), the module as COM5 in a serial-port map of its own, and
# voltdesk started there with its window given the keyboard focus.
start_session() {
  local sim_args=() app_args=()
  while (($#)); do
    if [ "$1" = -- ]; then
      shift
      app_args=("$@")
      break
    fi
    sim_args+=("$1")
    shift
  done
  work=$(mktemp -d "$root/flow.XXXXXX")
  : > "$work/history.txt"
  : > "$work/serialcomm"
  : > "$work/received.txt"
  "$modulesim" --map "$work/serialcomm" --com COM5 --log "$work/received.txt" "${sim_args[@]}" \
    > "$work/modulesim.out" 2>&1 &
  sim_pid=$!
  trap end_flow EXIT
  wait_for "the simulated module" grep -q ' COM5$' "$work/serialcomm"
  pty=$(awk '$2 == "COM5" { print $1 }' "$work/serialcomm")
  # With --tcp 0 the module names the port it got; TCP_PORT in the program's arguments stands for it.
  if printf '%s\n' "${sim_args[@]}" | grep -qx -- --tcp; then
    wait_for "the module's TCP side" grep -q 'TCP on 127.0.0.1:' "$work/modulesim.out"
    tcp_port=$(sed -n 's/.*TCP on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$work/modulesim.out")
    app_args=("${app_args[@]/#TCP_PORT/$tcp_port}")
  fi
  (cd "$work" && VOLTDESK_SERIALCOMM="$work/serialcomm" QT_QPA_PLATFORM=xcb exec "$voltdesk" "${app_args[@]}") \
    > "$work/voltdesk.out" 2>&1 &
  app_pid=$!
  window=$(shown_window '^Voltdesk v') && [ -n "$window" ] || fail "the main window did not come up"
  wait_for "the main window to take the keyboard focus" focus_on "$window"
}

# Closes the main window as the close box does and checks that the program ends well.
end_session() {
  "$wmclose" "$window"
  wait_for "voltdesk to end" app_ended
  local status=0
  wait "$app_pid" || status=$?
  app_pid=
  [ "$status" -eq 0 ] || fail "voltdesk ended with status $status"
}

# Whatever a flow leaves running goes; a failed flow shows what the programs printed.
end_flow() {
  local status=$?
  [ -z "${app_pid:-}" ] || kill "$app_pid" 2>/dev/null || true
  kill "$sim_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  if [ "$status" -ne 0 ]; then
    for f in voltdesk.out modulesim.out received.txt; do
      echo "--- $f" >&2
      head -c 4000 "$work/$f" >&2 || true
    done
  fi
}

# ---- flows --------------------------------------------------------------------------

# At start the COM box has the focus, showing the map's first port; Enter opens it.
# The window opens centred on the 1280 x 1024 screen.
flow_enter_in_com_box_opens_link() {
  start_session
  [ "$(xdotool getwindowgeometry --shell "$window" | grep -E '^(X|Y|WIDTH|HEIGHT)=' | tr '\n' ' ')" = \
    "X=324 Y=176 WIDTH=631 HEIGHT=672 " ] || fail "window at $(xdotool getwindowgeometry "$window")"
  keys Return
  wait_for "the link to open" holds_port
  received || fail "the module received: $(cat "$work/received.txt")" # Init sends nothing
  end_session
}

# Tab back from the command box to Quit (past Device Manager); Enter there closes the
# link and sends nothing (Query would send "*IDN?").
flow_enter_on_focused_quit_closes_link() {
  start_session
  click_at 61 157 # Init
  wait_for "the link to open" holds_port
  keys shift+Tab shift+Tab Return
  wait_for "the link to close" releases_port
  click_at 61 157
  wait_for "the link to open again" holds_port
  received || fail "the module received: $(cat "$work/received.txt")"
  end_session
}

# Without a link Talk is disabled: Alt+T in the COM box neither talks nor types "t"
# (which Init would refuse as a COM number), so Init still opens COM 5.
flow_alt_t_without_link_does_nothing() {
  start_session
  keys alt+t
  click_at 61 157 # Init
  wait_for "the link to open" holds_port
  [ "$(visible_windows)" -eq 1 ] || fail "a message box came up"
  received || fail "the module received: $(cat "$work/received.txt")"
  end_session
}

# A 300-character answer: the COM link keeps its first 255 characters, and Save Log to
# File writes that line whole into LOG_yyyy_mm_dd_hh_nn.TXT in the working folder.
flow_long_answer_saved_whole() {
  local id
  id=$(long_id)
  start_session --id "$id"
  click_at 61 157 # Init
  wait_for "the link to open" holds_port
  keys Return
  wait_for "the module to receive *IDN?" received "*IDN?"
  click_at 288 346 # Save Log to File
  wait_for "the saved log" saved_log_exists
  local logs=("$work"/LOG_*.TXT)
  [ ${#logs[@]} -eq 1 ] || fail "log files: ${logs[*]}"
  [[ $(basename "${logs[0]}") =~ ^LOG_[0-9]{4}_[0-9]{2}_[0-9]{2}_[0-9]{2}_[0-9]{2}\.TXT$ ]] ||
    fail "log file name $(basename "${logs[0]}")"
  wait_for "the log to be written" test -s "${logs[0]}"
  file_is "${logs[0]}" "${id:0:255}"$'\r\n'
  end_session
  file_is "$work/history.txt" $'*IDN?\r\n'
}

# Init by a click, then Enter in the command box runs Query; the history is written back.
flow_enter_in_command_box_queries() {
  start_session
  click_at 61 157 # Init
  wait_for "the link to open" holds_port
  keys ctrl+a
  type_text "volt?"
  keys Return
  wait_for "the module to receive VOLT?" received "VOLT?"
  end_session
  file_is "$work/history.txt" $'VOLT?\r\n'
}

# Alt+3 to the Ethernet tab, Enter in the IP box opens the link, and COMMAND typed into
# the command box with Enter queries the module over TCP.
ethernet_query_by_keys() {
  keys alt+3
  click_at 160 70 # into the IP box
  keys Return
  keys ctrl+a
  type_text "$1"
  keys Return
}

flow_ethernet_query_by_keys() {
  start_session --tcp 0 -- --ip 127.0.0.1 --port TCP_PORT
  ethernet_query_by_keys "*idn?"
  wait_for "the module to receive *IDN?" received "*IDN?"
  # The answer reaches the log a moment after the module has it: save until it is there.
  wait_for "the answer in the saved log" saved_log_is $'HVSIM,HV-4000 Test Module,SN 000042,FW 1.07\r\n'
  end_session
}

# Init, Run Script and Stop Script by clicks: the module gets the script's line again
# and again until the stop, and the saved log ends with the run's statistics, which
# count every line the module received.
flow_script_run_by_clicks() {
  start_session
  printf '*IDN?\n' > "$work/script.txt"
  click_at 61 157 # Init
  wait_for "the link to open" holds_port
  click_at 72 346 # Run Script
  wait_for "three script lines" received_at_least 3
  click_at 176 346 # Stop Script
  wait_for "the statistics in the saved log" saved_log_ends_with $'0 answers (0 bytes) received.\r\n'
  local n expected
  n=$(wc -l < "$work/received.txt")
  mapfile -t expected < <(for ((i = 0; i < n; i++)); do echo '*IDN?'; done)
  received "${expected[@]}"
  [ "$(grep -c $'^\\*IDN? sent\\.\r$' "$log")" -eq "$n" ] || fail "the log does not hold $n sent lines"
  grep -q "^$n commands ($((5 * n)) bytes) send in [0-9]*\.[0-9] seconds\."$'\r$' "$log" ||
    fail "no statistics for $n lines: $(tail -2 "$log")"
  end_session
}

received_at_least() { [ "$(wc -l < "$work/received.txt")" -ge "$1" ]; }

# The script chooser ("...") is the real file dialog: a name typed there without an
# extension opens the .txt file of that name, and Run Script runs it.
flow_script_chosen_by_name_without_extension() {
  start_session
  printf 'VOLT?\n' > "$work/volts.txt"
  click_at 61 157 # Init
  wait_for "the link to open" holds_port
  click_at 332 314 # "..."
  local dialog
  dialog=$(shown_window '^Skript laden$') && [ -n "$dialog" ] || fail "the script chooser did not come up"
  wait_focus "$dialog" "the script chooser"
  type_text "volts"
  keys Return
  wait_for "the chooser to close" none_shown '^Skript laden$'
  # Only clicks from here: with no window manager, nothing gives the main window the focus back.
  click_at 72 346 # Run Script
  wait_for "two script lines" received_at_least 2
  click_at 176 346 # Stop Script
  wait_for "the statistics in the saved log" saved_log_ends_with $'0 answers (0 bytes) received.\r\n'
  [ "$(sort -u "$work/received.txt")" = "VOLT?" ] || fail "the module received: $(sort -u "$work/received.txt")"
  end_session
}

# Clicks Save Log to File and leaves the file it writes in $log (empty when none came).
save_log() {
  local i
  log=""
  rm -f "$work"/LOG_*.TXT
  click_at 288 346
  for ((i = 0; i < 40; i++)); do
    log=$(compgen -G "$work/LOG_*.TXT" | head -1) && break
    sleep 0.05
  done
}

# Saves the log; true when the file ends with BYTES (left in $log).
saved_log_ends_with() {
  save_log
  [ -n "$log" ] && tail -c "${#1}" "$log" | cmp -s - <(printf '%s' "$1")
}

# The 300-character answer over TCP, where the link keeps an answer whole: Save Log to
# File writes all 300 characters and the line end.
flow_long_answer_over_tcp_saved_whole() {
  local id
  id=$(long_id)
  start_session --id "$id" --tcp 0 -- --ip 127.0.0.1 --port TCP_PORT
  ethernet_query_by_keys "*idn?"
  wait_for "the module to receive *IDN?" received "*IDN?"
  wait_for "the whole answer in the saved log" saved_log_is "$id"$'\r\n'
  end_session
  file_is "$work/history.txt" $'*IDN?\r\n'
}

# Saves the log; true when the file holds exactly BYTES.
saved_log_is() {
  save_log
  [ -n "$log" ] && cmp -s "$log" <(printf '%s' "$1")
}

# Factory mode: "Factory..." reads the module's settings into the dialog; an arrow click
# and an Up key in the arc number box touch two of them, and Arc Ok sends exactly those.
flow_factory_arc_ok() {
  start_session -- mrtq
  click_at 61 157 # Init
  wait_for "the link to open" holds_port
  click_at 552 355 # Factory...
  local dialog
  dialog=$(shown_window '^frmFactory$') && [ -n "$dialog" ] || fail "the factory dialog did not come up"
  wait_for "the factory query" received ":CONF:ARC:CONT?;NUM?;TIME?;WAIT?;RAMP?;:SYS:KAVO:ISET?"
  wait_focus "$dialog" "the factory dialog"
  xdotool mousemove --window "$dialog" --sync 314 125 click 1 # the arc time's up arrow: 0.5 -> 2
  xdotool mousemove --window "$dialog" --sync 210 90 click 1  # into the arc number box
  keys Up                                                     # 3 -> 4
  xdotool mousemove --window "$dialog" --sync 285 260 click 1 # Arc Ok
  wait_for "the arc settings" received ":CONF:ARC:CONT?;NUM?;TIME?;WAIT?;RAMP?;:SYS:KAVO:ISET?" \
    ":CONF:ARC:NUM 4" ":CONF:ARC:TIME 2" ":CONF:INTER LOCAL"
  wait_for "the dialog to close" none_shown '^frmFactory$'
  end_session
}

# ---- run ----------------------------------------------------------------------------

Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3> "$root/display" 2> "$root/xvfb.log" &
xvfb_pid=$!
wait_for "the X server" test -s "$root/display"
export DISPLAY=":$(head -1 "$root/display")"

flows=("$@")
if [ ${#flows[@]} -eq 0 ]; then
  mapfile -t flows < <(declare -F | awk '$3 ~ /^flow_/ { sub(/^flow_/, "", $3); print $3 }')
fi
failed=0
for flow in "${flows[@]}"; do
  start=$SECONDS
  set +e
  (
    set -e
    "flow_$flow"
  )
  status=$?
  set -e
  if [ "$status" -eq 0 ]; then
    echo "ok   $flow ($((SECONDS - start)) s)"
  else
    echo "FAIL $flow ($((SECONDS - start)) s)"
    failed=1
  fi
done
exit "$failed"
