# Sourced by the scripts that run Windows programs: a private Wine prefix in
# the build tree (never the user's own ~/.wine), quiet, without the Mono and
# Gecko installers, and helpers to start and stop what the run needs.

veltrona_root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export WINEPREFIX="${VELTRONA_WINEPREFIX:-$veltrona_root/build/wine}"
export WINEARCH=win64
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
WINE64=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver64
[ -x "$WINESERVER" ] || WINESERVER=/usr/lib/wine/wineserver

wine_prefix_ready() {
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "wine: creating the prefix $WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    DISPLAY= "$WINE64" wineboot --init >/dev/null 2>&1 || true
    "$WINESERVER" -w
  fi
}

# One wineserver for the whole run, so that each program starts quickly.
# The prefix's own processes (services.exe and its drivers) start here, with
# their output going nowhere: started by a test, they would keep the test's
# output pipe open and ctest would wait for them for ever.
wine_server_start() {
  "$WINESERVER" -p >/dev/null 2>&1 || true
  "$WINE64" wineboot </dev/null >/dev/null 2>&1 || true
}

# Ends every Windows process of the prefix, services included.
wine_server_stop() {
  "$WINESERVER" -k 2>/dev/null || true
  "$WINESERVER" -w 2>/dev/null || true
}

# A virtual screen for programs with windows.
xvfb_start() {
  local display
  for display in $(seq 90 120); do
    if [ ! -e "/tmp/.X11-unix/X$display" ] && [ ! -e "/tmp/.X$display-lock" ]; then
      Xvfb ":$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
      VELTRONA_XVFB_PID=$!
      export DISPLAY=":$display"
      for _ in $(seq 50); do
        [ -e "/tmp/.X11-unix/X$display" ] && return 0
        sleep 0.1
      done
      return 0
    fi
  done
  echo "wine: no free display for Xvfb" >&2
  return 1
}

xvfb_stop() {
  if [ -n "${VELTRONA_XVFB_PID:-}" ]; then
    kill "$VELTRONA_XVFB_PID" 2>/dev/null || true
    wait "$VELTRONA_XVFB_PID" 2>/dev/null || true
    VELTRONA_XVFB_PID=
  fi
}
