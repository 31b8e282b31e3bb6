#!/usr/bin/env bash
# Smoke test of the terminal UI in a real terminal (a detached tmux pane):
# the pendant's display line shows, keys reach the virtual pendant, and the
# bench leaves the terminal as it found it, on q and on Ctrl-C.
#   tui_smoke.sh BENCH MODULE
set -u
bench=$1
module=$2
command -v tmux >/dev/null 2>&1 || { echo "tmux is not installed: skipped"; exit 77; }

work=$(mktemp -d)
socket="k2t-bench-smoke-$$"
cleanup() {
  tmux -L "$socket" kill-server >/dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*"
  echo "---- pane ----"
  tmux -L "$socket" capture-pane -p -t smoke 2>/dev/null
  exit 1
}

# Waits (up to 20 s) until the pane shows a line matching the pattern.
wait_for() {
  local pattern=$1
  for _ in $(seq 1 100); do
    if tmux -L "$socket" capture-pane -p -t smoke 2>/dev/null | grep -Eq -- "$pattern"; then return 0; fi
    sleep 0.2
  done
  return 1
}

# One run of the bench in a fresh pane: the shell around it reports the exit
# status and whether the terminal settings came back.
start() {
  tmux -L "$socket" kill-session -t smoke >/dev/null 2>&1
  cat > "$work/run.sh" <<RUN
before=\$(stty -g)
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$bench" --module "$module" --profile "$work/profile.xml"
status=\$?
[ "\$before" = "\$(stty -g)" ] && echo "terminal settings restored" || echo "terminal settings CHANGED"
echo "bench exit status \$status"
sleep 600
RUN
  tmux -L "$socket" -f /dev/null new-session -d -s smoke -x 110 -y 40 "bash $work/run.sh" ||
    fail "cannot start tmux"
}

start
# The display box with the start-up velocity mode and the X position.
wait_for '^ +\|[X ]    Vel \+0\.0000\|' || fail "the pendant's display line did not show"
# Mode position 1 (key 7) gives step mode, which shows the step size; one
# detent (key .) then moves X by it.
tmux -L "$socket" send-keys -t smoke 7
wait_for '^ +\|[X ]  \.0010 \+0\.0000\|' || fail "key 7 did not reach the mode selector"
tmux -L "$socket" send-keys -t smoke .
wait_for '^ +\|[X ]  \.0010 \+0\.0010\|' || fail "key . did not turn the wheel"
wait_for 'G91G1 F60\.0000 X 0\.0010' || fail "the log does not show the jog"
tmux -L "$socket" send-keys -t smoke q
wait_for '^bench exit status 0$' || fail "q did not end the bench with status 0"
wait_for '^terminal settings restored$' || fail "q left the terminal changed"
[ "$(tmux -L "$socket" display -p -t smoke '#{alternate_on}')" = 0 ] || fail "q left the alternate screen on"

start
wait_for '^ +\|[X ]    Vel \+0\.0000\|' || fail "the display line did not show (second run)"
tmux -L "$socket" send-keys -t smoke C-c
wait_for '^bench exit status 130$' || fail "Ctrl-C did not end the bench with status 130"
wait_for '^terminal settings restored$' || fail "Ctrl-C left the terminal changed"
[ "$(tmux -L "$socket" display -p -t smoke '#{alternate_on}')" = 0 ] || fail "Ctrl-C left the alternate screen on"
echo "terminal UI smoke test passed"
