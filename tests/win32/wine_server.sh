#!/bin/sh
# wine_server.sh PREFIX start|stop [PROBE]
#
# start: creates the tests' private wine prefix if it is not there yet and
# keeps one wine server running for it until "stop". The tests start many
# short wine processes; with a server of their own they neither pay for a
# new server each time nor meet one that is just shutting down (which makes
# wine fail with "Connection reset by peer"). PROBE (runs_32_bit_programs)
# is asked first: on a kernel that cannot execute 32-bit programs there is
# nothing to start, and the step exits 77 (skipped) with the reason.
set -eu
export WINEPREFIX="$1" WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml='
case "$2" in
  start)
    if [ $# -ge 3 ]; then
      status=0
      "$3" || status=$?
      [ "$status" -eq 0 ] || exit "$status"
    fi
    mkdir -p "$WINEPREFIX"
    wineserver -k 2>/dev/null || true
    wineserver -p </dev/null >/dev/null 2>&1
    # The prefix's own background processes live as long as the server:
    # they must not hold on to the caller's output.
    wine wineboot --init </dev/null >"$WINEPREFIX/wineboot.log" 2>&1
    ;;
  stop)
    wineserver -k 2>/dev/null || true
    ;;
esac
