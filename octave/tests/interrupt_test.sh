#!/bin/bash
# interrupt_test.sh OCTAVE_CLI PLUGIN_DIR SUITE_DIR OCTAVE_DIR
#
# The user's Ctrl-C in GNU Octave during a long TARV_c call with the
# progress bar on: a real SIGINT sent to an interactive octave-cli. The
# interrupt leaves the plug-in from inside the interpreter's "waitbar" call
# without returning. Afterwards, in the same process, a second call with the
# bar on must return the exact result within seconds, and the process must
# hold no thread more than before. A watchdog fails the test rather than let
# a hung Octave hang the run. Needs MEXRUN and LINUX_PLUGINS in the
# environment, as the other Octave suites (linux_result.m).
set -u
octave=$1 plugins=$2 suite=$3 octave_dir=$4

work=$(mktemp -d)
pid=
cleanup() {
  exec 3>&- 2>/dev/null
  [ -n "$pid" ] && kill -9 "$pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "interrupt_test: $*" >&2
  echo "--- Octave's output:" >&2
  cat "$work/out" >&2
  exit 1
}

mkfifo "$work/in"
"$octave" --interactive --norc --no-history --quiet --no-window-system \
  --path "$octave_dir" --path "$suite" --path "$plugins" <"$work/in" >"$work/out" 2>&1 &
pid=$!
exec 3>"$work/in"
send() { printf '%s\n' "$1" >&3; }
# Waits up to $2 seconds for the line $1 in Octave's output.
wait_for() {
  local tenths=$(($2 * 10))
  for ((k = 0; k < tenths; ++k)); do
    grep -qE -- "(^|> )$1\$" "$work/out" && return 0
    kill -0 "$pid" 2>/dev/null || fail "octave-cli exited while waiting for '$1'"
    sleep 0.1
  done
  return 1
}
threads() { ls "/proc/$pid/task" | wc -l; }

# One short bar-on call first, so that whatever threads Octave starts for
# its first figure are there before the count.
send "PS1 (''); PS2 ('');"
send "headless_graphics (); rand ('state', 1); img = single (log (1 + 100 * rand (1024)));"
send "TARV_c (img, 2, 0.2, 1, 40, 1, 60, 1); disp ('READY');"
wait_for READY 120 || fail "no READY"
before=$(threads)

send "disp ('FILTERING'); out = TARV_c (img, 100000, 0.2, 1, 40, 1, 60, 1);"
wait_for FILTERING 30 || fail "no FILTERING"
sleep 3
kill -INT "$pid"
send "disp ('AFTER INTERRUPT');"
wait_for "AFTER INTERRUPT" 30 || fail "the interrupted call did not stop"

send "tic (); out = TARV_c (img, 50, 0.2, 1, 40, 1, 60, 1); seconds = toc ();"
send "assert_same_bits (out, linux_result ('TARV_c', img, 50, 0.2, 1, 40, 1, 60, 0), 'after the interrupt');"
send "printf ('second call: %.1f s\n', seconds); disp ('EXACT');"
wait_for EXACT 120 || fail "the call after the interrupt did not return the exact result (hung?)"
after=$(threads)
send "exit"
wait "$pid"
pid=
grep -E '^second call' "$work/out"
[ "$after" -le "$before" ] || fail "threads before the interrupted call: $before, after: $after"
echo "threads before: $before, after: $after"
