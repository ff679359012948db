#!/usr/bin/env bash
# Start-up, from process start to the main window's first complete paint: the updater against a
# trivial one-window program built the same way that also paints a picture and text, taking turns in
# the same run, under Wine in a Wine desktop on Xvfb (the shipped i686 build where 32-bit programs run,
# else the x86_64 build, said as bench_arch). Prints the median of each and startup_vs_trivial.
# Expects ROOT and BUILD (./dev bench startup sets them). ROUNDS may be set.
set -euo pipefail
ROOT="${ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}"
BUILD="${BUILD:-$ROOT/build}"
ROUNDS="${ROUNDS:-15}"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
source "$ROOT/tools/devlib.sh"
source "$ROOT/bench/common/wine_lane.sh"

cleanup() {
    [ -n "${WINEPREFIX:-}" ] && remove_product
    stop_services
}
trap cleanup EXIT

start_xvfb
start_bench_wine
install_product_590  # the window shows the installed version, as on a site's PC

log "start-up to the first complete paint, $ROUNDS rounds each (load: $(cut -d' ' -f1-3 /proc/loadavg))"
out="$(wine "$BENCH_BIN/startup_bench.exe" "$ROUNDS" \
    "updater=$(winepath -w "$BENCH_BIN/MemolineServerUpdates.exe")" \
    "trivial=$(winepath -w "$BENCH_BIN/startup_trivial_window.exe")" | tr -d '\r')"
echo "$out"
updater="$(echo "$out" | sed -n 's/^startup_updater_seconds=//p')"
trivial="$(echo "$out" | sed -n 's/^startup_trivial_seconds=//p')"
[ -n "$updater" ] && [ -n "$trivial" ] || exit 1
uv="$(echo "$out" | sed -n 's/^startup_updater_visible_seconds=//p')"
tv="$(echo "$out" | sed -n 's/^startup_trivial_visible_seconds=//p')"
awk -v u="$updater" -v t="$trivial" -v uv="$uv" -v tv="$tv" 'BEGIN {
    printf "startup_vs_trivial=%.3f\n", u / t
    printf "startup_visible_vs_trivial_visible=%.3f (for the record: to WS_VISIBLE, before the first paint)\n", uv / tv }'
