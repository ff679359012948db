#!/usr/bin/env bash
# Start-up, from process start to the main window visible: the shipped updater (i686) against a
# trivial one-window program built the same way, taking turns in the same run, under 32-bit Wine in a
# Wine desktop on Xvfb. Prints the median of each and startup_vs_trivial.
# Expects ROOT and BUILD (./dev bench startup sets them). ROUNDS may be set.
set -euo pipefail
ROOT="${ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}"
BUILD="${BUILD:-$ROOT/build}"
ROUNDS="${ROUNDS:-15}"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
source "$ROOT/tools/devlib.sh"
source "$ROOT/bench/common/wine32.sh"

cleanup() {
    [ -n "${WINEPREFIX:-}" ] && remove_product
    stop_services
}
trap cleanup EXIT

start_xvfb
start_wine32
install_product_590  # the window shows the installed version, as on a site's PC

log "start-up to the visible window, $ROUNDS rounds each (load: $(cut -d' ' -f1-3 /proc/loadavg))"
out="$(wine "$BIN32/startup_bench.exe" "$ROUNDS" \
    "updater=$(winepath -w "$BIN32/MemolineServerUpdates.exe")" \
    "trivial=$(winepath -w "$BIN32/startup_trivial_window.exe")" | tr -d '\r')"
echo "$out"
updater="$(echo "$out" | sed -n 's/^startup_updater_seconds=//p')"
trivial="$(echo "$out" | sed -n 's/^startup_trivial_seconds=//p')"
[ -n "$updater" ] && [ -n "$trivial" ] || exit 1
awk -v u="$updater" -v t="$trivial" 'BEGIN { printf "startup_vs_trivial=%.3f\n", u / t }'
