#!/bin/sh
# wine64_server.sh PREFIX RUNNER start|stop
#
# start: creates the 64-bit tests' private wine prefix (WINEARCH=win64) if
# it is not there yet, keeps one 64-bit wine server running for it until
# "stop", and checks that RUNNER (win64_runner.exe) starts in it. Debian's
# `wine` wrapper prefers the 32-bit loader, so the 64-bit loader and server
# are called by their own paths (WINE64_LOADER, WINE64_SERVER).
#
# A new win64 prefix's wineboot also tries to start the prefix's 32-bit
# helpers, which fails where the kernel cannot execute 32-bit programs; the
# 64-bit programs do not need them, so wineboot's status is not taken as
# the prefix's. The runner's start is.
set -eu
export WINEPREFIX="$1" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml='
: "${WINE64_LOADER:=/usr/lib/wine/wine64}" "${WINE64_SERVER:=/usr/lib/wine/wineserver64}"
case "$3" in
  start)
    mkdir -p "$WINEPREFIX"
    "$WINE64_SERVER" -k 2>/dev/null || true
    "$WINE64_SERVER" -p </dev/null >/dev/null 2>&1
    # The prefix's own background processes live as long as the server:
    # they must not hold on to the caller's output.
    "$WINE64_LOADER" wineboot --init </dev/null >"$WINEPREFIX/wineboot.log" 2>&1 || true
    # Without arguments the runner prints its usage and exits with 2.
    status=0
    "$WINE64_LOADER" "$2" </dev/null >"$WINEPREFIX/runner-check.log" 2>&1 || status=$?
    if [ "$status" -ne 2 ]; then
      echo "win64_runner.exe does not start under $WINE64_LOADER (status $status):" >&2
      cat "$WINEPREFIX/runner-check.log" "$WINEPREFIX/wineboot.log" >&2
      exit 1
    fi
    ;;
  stop)
    "$WINE64_SERVER" -k 2>/dev/null || true
    ;;
esac
