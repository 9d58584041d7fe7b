#!/bin/bash
# waitbar_interrupt_test.sh OCTAVE_CLI PLUGIN_DIR OCTAVE_DIR [CALLS]
#
# CALLS (20 unless given) bar-on TARV_c calls in one interactive octave-cli,
# each stopped by the user's Ctrl-C typed on a pseudo-terminal, where every
# Ctrl-C reaches the interpreter as a SIGINT (through a pipe only the
# session's first would). Octave leaves such a call inside "waitbar", so
# the call cannot close its bar; the next call that opens a bar closes it.
# After the interrupted calls at most the last one's window may be open,
# and after one more bar-on call that runs to its end, none. A watchdog
# fails the test rather than let a hung Octave hang the run.
set -u
octave=$1 plugins=$2 octave_dir=$3 calls=${4:-20}

TEST_NAME=waitbar_interrupt_test
START_ON_TERMINAL=1
. "$(dirname "$0")/interactive_octave.sh"
start_octave "$octave" --interactive --norc --no-history --quiet --no-window-system \
  --path "$octave_dir" --path "$plugins"

send "PS1 (''); PS2 ('');"
send "headless_graphics (); rand ('state', 1); img = single (log (1 + 100 * rand (256)));"
send "windows = @() numel (findall (0, 'type', 'figure'));"
send "TARV_c (img, 2, 0.2, 1, 40, 1, 60, 1); printf ('READY %d\n', windows ());"
wait_for "READY 0" 120 || fail "no READY 0 (a window open before the test?)"

for ((call = 1; call <= calls; ++call)); do
  send "disp ('CALL $call'); out = TARV_c (img, 100000, 0.2, 1, 40, 1, 60, 1);"
  wait_for "CALL $call" 30 || fail "call $call did not start"
  sleep 0.3
  printf '\003' >&3
  send "disp ('STOPPED $call');"
  wait_for "STOPPED $call" 30 || fail "call $call did not stop at Ctrl-C"
done
send "printf ('OPEN AFTER INTERRUPTS %d\n', windows ());"
wait_for "OPEN AFTER INTERRUPTS [01]" 30 || fail "windows left open by $calls interrupted calls"
send "TARV_c (img, 2, 0.2, 1, 40, 1, 60, 1); printf ('OPEN AFTER A WHOLE CALL %d\n', windows ());"
wait_for "OPEN AFTER A WHOLE CALL 0" 60 || fail "a window is still open after a whole bar-on call"
send "exit"
wait "$pid"
pid=
tr -d '\r' <"$work/out" | grep -E '^OPEN'
