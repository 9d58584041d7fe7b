#!/bin/sh
# wine_server.sh start PREFIX ARCH RUNNER [PROBE...]
# wine_server.sh stop PREFIX
#
# start: creates a private wine prefix of the architecture ARCH (win32 or
# win64) if it is not there yet, keeps one wine server running for it until
# "stop", and checks that RUNNER (win_runner.exe of that width) starts in
# it. The tests start many short wine processes; with a server of their own
# they neither pay for a new server each time nor meet one that is just
# shutting down (which makes wine fail with "Connection reset by peer").
# The loader of ARCH's width and the server are called by their own paths
# (WINE_LOADER, WINE_SERVER): Debian's `wine` wrapper prefers the 32-bit
# loader.
#
# PROBE, when given, is asked first whether the loader can run here
# (tools/i386_programs.sh probe, for the 32-bit one): where it cannot,
# there is nothing to start, and the step exits 77 (skipped) with the
# reason.
#
# A new win64 prefix's wineboot also tries to start the prefix's 32-bit
# helpers, which fails where 32-bit programs do not run; the 64-bit programs
# do not need them, so wineboot's status is not taken as the prefix's. The
# runner's start is.
set -eu
command=$1
export WINEPREFIX="$2" WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml='
: "${WINE_LOADER:?}" "${WINE_SERVER:?}"
case "$command" in
  start)
    export WINEARCH="$3"
    runner=$4
    shift 4
    if [ $# -gt 0 ]; then
      "$@" || exit 77
    fi
    "$WINE_SERVER" -k 2>/dev/null || true
    # A prefix of the other architecture (an older build's) cannot serve.
    if [ -f "$WINEPREFIX/system.reg" ] && ! grep -qx "#arch=$WINEARCH" "$WINEPREFIX/system.reg"; then
      rm -rf "$WINEPREFIX"
    fi
    mkdir -p "$WINEPREFIX"
    "$WINE_SERVER" -p </dev/null >/dev/null 2>&1
    # The prefix's own background processes live as long as the server:
    # they must not hold on to the caller's output.
    "$WINE_LOADER" wineboot --init </dev/null >"$WINEPREFIX/wineboot.log" 2>&1 || true
    # Without arguments the runner prints its usage and exits with 2.
    status=0
    "$WINE_LOADER" "$runner" </dev/null >"$WINEPREFIX/runner-check.log" 2>&1 || status=$?
    if [ "$status" -ne 2 ]; then
      echo "$runner does not start under $WINE_LOADER (status $status):" >&2
      cat "$WINEPREFIX/runner-check.log" "$WINEPREFIX/wineboot.log" >&2
      exit 1
    fi
    ;;
  stop)
    "$WINE_SERVER" -k 2>/dev/null || true
    ;;
esac
