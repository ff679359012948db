#!/usr/bin/env bash
# The demo: builds the updater and starts it under Wine, on $DISPLAY when set, else under Xvfb,
# where it saves a screenshot of the main window and prints the path.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
BUILD="$ROOT/build"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
source "$ROOT/tools/devlib.sh"
trap stop_services EXIT

build_windows
DEMO="$BUILD/demo"
mkdir -p "$DEMO"
interactive=1
if [ -z "${DISPLAY:-}" ]; then
    interactive=0
    start_xvfb
fi
start_wine "$DEMO/wineprefix"
exe="$BUILD/x86_64/bin/MemolineServerUpdates.exe"
if [ $interactive -eq 1 ]; then
    log "starting the updater on $DISPLAY; close its window to end the demo"
    wine "$exe"
else
    log "no display: starting the updater under Xvfb"
    wine "$exe" &
    pid=$!
    # Wait for the main window to be mapped (up to 30 s), then let it paint.
    window=""
    for _ in $(seq 60); do
        window=$(xwininfo -root -tree 2>/dev/null | awk '/"Memoline Server Updates"/ {print $1; exit}')
        [ -n "$window" ] && break
        sleep 0.5
    done
    sleep 2
    shot="$DEMO/main-window.png"
    if [ -n "$window" ]; then
        import -window "$window" "$shot"
    else
        log "the main window did not appear; saving the whole screen"
        import -window root "$shot"
    fi
    log "screenshot of the main window: $shot"
    kill $pid 2>/dev/null || true
fi
