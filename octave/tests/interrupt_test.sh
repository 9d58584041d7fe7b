#!/bin/bash
# interrupt_test.sh OCTAVE_CLI PLUGIN_DIR SUITE_DIR OCTAVE_DIR
#
# The user's Ctrl-C in GNU Octave during long TARV_c calls: a real SIGINT
# sent to an interactive octave-cli, 3 s into a call of 100000 iterations
# on a 1024 x 1024 image (minutes uninterrupted).
# - Progress bar on: the interrupt leaves the plug-in from inside the
#   interpreter's "waitbar" call without returning.
# - Progress bar off: the plug-in asks Octave between iterations whether an
#   interrupt is pending, joins its threads, frees its memory and leaves
#   through Octave's own interrupt.
# Each time the prompt must come back within a second of the signal with
# nothing assigned; the time is printed. Afterwards, in the same process, a
# call must return the exact result, and the process must hold no thread
# more than before. A watchdog fails the test rather than let a hung Octave
# hang the run. Needs MEXRUN and LINUX_PLUGINS in the environment, as the
# other Octave suites (linux_result.m).
set -u
octave=$1 plugins=$2 suite=$3 octave_dir=$4

TEST_NAME=interrupt_test
. "$(dirname "$0")/interactive_octave.sh"
start_octave "$octave" --interactive --norc --no-history --quiet --no-window-system \
  --path "$octave_dir" --path "$suite" --path "$plugins"
threads() { ls "/proc/$pid/task" | wc -l; }

# One short bar-on call first, so that whatever threads Octave starts for
# its first figure are there before the count.
send "PS1 (''); PS2 ('');"
send "headless_graphics (); rand ('state', 1); img = single (log (1 + 100 * rand (1024)));"
send "TARV_c (img, 2, 0.2, 1, 40, 1, 60, 1); disp ('READY');"
wait_for READY 120 || fail "no READY"
before=$(threads)

# interrupt LABEL FLAG: a long call with the progress flag FLAG, SIGINT 3 s
# into it; prints the seconds from the signal to the prompt, which Octave
# stamps with its clock as soon as it reads input again.
interrupt() {
  local label=$1 flag=$2
  send "clear out; disp ('FILTERING $label'); out = TARV_c (img, 100000, 0.2, 1, 40, 1, 60, $flag);"
  wait_for "FILTERING $label" 30 || fail "no FILTERING $label"
  sleep 3
  local sent
  sent=$(date +%s.%N)
  kill -INT "$pid"
  send "printf ('PROMPT $label %.3f %d\n', time (), exist ('out', 'var'));"
  wait_for "PROMPT $label [0-9.]+ [01]" 30 || fail "the interrupted call ($label) did not stop"
  local prompt assigned seconds
  read -r prompt assigned < <(sed -n "s/.*PROMPT $label \([0-9.]*\) \([01]\)\$/\1 \2/p" "$work/out")
  seconds=$(awk -v a="$sent" -v b="$prompt" 'BEGIN { printf "%.2f", b - a }')
  echo "$label: the prompt came back $seconds s after SIGINT"
  [ "$assigned" = 0 ] || fail "the interrupted call ($label) assigned its result"
  awk -v s="$seconds" 'BEGIN { exit !(s < 1) }' ||
    fail "the prompt came back $seconds s after SIGINT ($label), not within a second"
}

interrupt "bar on" 1
interrupt "bar off" 0

send "tic (); out = TARV_c (img, 50, 0.2, 1, 40, 1, 60, 1); seconds = toc ();"
send "assert_same_bits (out, linux_result ('TARV_c', img, 50, 0.2, 1, 40, 1, 60, 0), 'after the interrupts');"
send "printf ('next call: %.1f s\n', seconds); disp ('EXACT');"
wait_for EXACT 120 || fail "the call after the interrupts did not return the exact result (hung?)"
after=$(threads)
send "exit"
wait "$pid"
pid=
grep -E '^next call' "$work/out"
[ "$after" -le "$before" ] || fail "threads before the interrupted calls: $before, after: $after"
echo "threads before: $before, after: $after"
