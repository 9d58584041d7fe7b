# Sourced by the tests that drive an interactive octave-cli as a user
# would: start_octave starts it on a FIFO, on a pseudo-terminal with
# START_ON_TERMINAL=1 (where a 0x03 byte is the terminal's Ctrl-C and every
# one reaches the interpreter); send writes a line to it; wait_for waits for
# a line of its output; fail reports with the output's end. The caller sets
# TEST_NAME; everything is cleaned up when the test's shell exits.
work=$(mktemp -d)
pid=
cleanup() {
  exec 3>&- 2>/dev/null
  [ -n "$pid" ] && kill -9 "$pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "$TEST_NAME: $*" >&2
  echo "--- Octave's output:" >&2
  tr -d '\r' <"$work/out" | tail -60 >&2
  exit 1
}

# start_octave OCTAVE_CLI ARGUMENTS...: in $work, where an Octave that dies
# would save its workspace.
start_octave() {
  mkfifo "$work/in"
  cd "$work" || exit 1
  if [ "${START_ON_TERMINAL:-0}" = 1 ]; then
    script -qfec "stty -echo; exec $*" /dev/null <"$work/in" >"$work/out" 2>&1 &
  else
    "$@" <"$work/in" >"$work/out" 2>&1 &
  fi
  pid=$!
  exec 3>"$work/in"
}
send() { printf '%s\n' "$1" >&3; }
# Waits up to $2 seconds for a line matching $1 in Octave's output.
wait_for() {
  local tenths=$(($2 * 10))
  for ((k = 0; k < tenths; ++k)); do
    tr -d '\r' <"$work/out" | grep -qE -- "(^|> )$1\$" && return 0
    kill -0 "$pid" 2>/dev/null || fail "octave-cli exited while waiting for '$1'"
    sleep 0.1
  done
  return 1
}
