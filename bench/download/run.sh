#!/usr/bin/env bash
# Download throughput over loopback from a local nginx, the lane's Windows programs under Wine in a Wine
# desktop on Xvfb, every mode timed from its start to the end of its run (handles closed, file written;
# the engine to OnCopyDone, after its dialog has closed). Compared: the engine with its dialog; a bare
# WinINet loop on a worker thread while the main thread pumps (what any Windows program gets: the
# headline, download_vs_worker_loop); the same loop handed to the UI thread by a worker, the engine's old
# kind of thread (download_vs_platform, for the record). Also for the record: the loop straight on the
# main thread with 64 KiB and 4 KiB reads, 4 KiB reads on the engine's old kind of thread, curl on the
# host, and the engine timed to OnFileDone as this benchmark did before. Every file written is compared
# byte for byte with the served one. Every Wine mode runs with a main window up, as the updater does.
# Each compared figure is the best of RUNS runs (default 7); the medians are printed beside them.
# Expects ROOT and BUILD (./dev bench download sets them).
set -euo pipefail
ROOT="${ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}"
BUILD="${BUILD:-$ROOT/build}"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
source "$ROOT/tools/devlib.sh"
source "$ROOT/bench/common/wine_lane.sh"
RUNS="${RUNS:-7}"

WORK="$BUILD/bench-download"
rm -rf "$WORK"
mkdir -p "$WORK/www" "$WORK/logs" "$WORK/out"
NGINX_PID=""
cleanup() {
    [ -n "$NGINX_PID" ] && kill "$NGINX_PID" 2>/dev/null || true
    stop_services
    rm -rf "$WORK/www" "$WORK/out"
}
trap cleanup EXIT

SIZE_MB=256
head -c $((SIZE_MB * 1024 * 1024)) /dev/urandom >"$WORK/www/setup.bin"

# A port the system picks: bind to 0, read it, let nginx take it.
PORT="$(free_port)"
cat >"$WORK/nginx.conf" <<CONF
worker_processes 1;
daemon off;
pid $WORK/nginx.pid;
error_log $WORK/logs/error.log;
events { worker_connections 64; }
http {
    access_log off;
    sendfile on;
    client_body_temp_path $WORK/logs;
    proxy_temp_path $WORK/logs;
    fastcgi_temp_path $WORK/logs;
    uwsgi_temp_path $WORK/logs;
    scgi_temp_path $WORK/logs;
    server {
        listen 127.0.0.1:$PORT;
        root $WORK/www;
    }
}
CONF
/usr/sbin/nginx -c "$WORK/nginx.conf" -p "$WORK" &
NGINX_PID=$!
for _ in $(seq 50); do curl -s -o /dev/null "http://127.0.0.1:$PORT/" && break; sleep 0.1; done
URL="http://127.0.0.1:$PORT/setup.bin"

start_xvfb
start_bench_wine
EXE="$BENCH_BIN/download_bench.exe"
TARGET="$(winepath -w "$WORK/out")"

# The modes the figures compare run RUNS times, taking turns; a loopback transfer under Wine varies by
# a fifth from run to run, and the best of a few runs of each is what each can do. The 4 KiB modes are
# for the record only and run once: each takes several seconds.
COMPARED=(engine worker platform)
RECORD=(direct64k direct4k synced4k)
declare -A RATES
run_mode() {
    local mode="$1" out rate
    out="$(wine "$EXE" "$URL" "$mode" "$TARGET" | tr -d '\r')"
    echo "$out" | sed 's/^/  /'
    rate="$(echo "$out" | awk -v m="$mode" '$1 == m {print $4}')"
    [ -n "$rate" ] || { echo "$mode failed"; exit 1; }
    RATES[$mode]="${RATES[$mode]:-} $rate"
    if [ "$mode" = engine ]; then
        old="$(echo "$out" | awk '$1 == "engine_to_file_done" {print $4}')"
        RATES[engine_to_file_done]="${RATES[engine_to_file_done]:-} $old"
    fi
    local written=("$WORK/out"/*.bin)
    [ ${#written[@]} -eq 1 ] && cmp -s "${written[0]}" "$WORK/www/setup.bin" ||
        { echo "$mode: the file written differs from the one served"; exit 1; }
    rm -f "$WORK/out"/*
}
log "$SIZE_MB MiB per run, $RUNS runs of each compared mode (load: $(cut -d' ' -f1-3 /proc/loadavg))"
for run in $(seq "$RUNS"); do
    for mode in "${COMPARED[@]}"; do run_mode "$mode"; done
done
for mode in "${RECORD[@]}"; do run_mode "$mode"; done
log "curl on the host"
CURL_BPS="$(curl -s -o /dev/null -w '%{speed_download}' "$URL")"
CURL="$(awk -v b="$CURL_BPS" 'BEGIN{printf "%.2f", b/1e6}')"

best() { echo "${RATES[$1]}" | tr ' ' '\n' | grep . | sort -g | tail -1; }
median() { echo "${RATES[$1]}" | tr ' ' '\n' | grep . | sort -g | awk '{v[NR]=$1} END{print (NR%2) ? v[(NR+1)/2] : (v[NR/2]+v[NR/2+1])/2}'; }
echo
for mode in "${COMPARED[@]}" "${RECORD[@]}"; do echo "${mode}_MBps=$(best "$mode")"; done
for mode in "${COMPARED[@]}"; do echo "${mode}_median_MBps=$(median "$mode")"; done
echo "engine_to_file_done_MBps=$(best engine_to_file_done)"
echo "curl_MBps=$CURL"
awk -v e="$(best engine)" -v w="$(best worker)" -v p="$(best platform)" -v em="$(median engine)" \
    -v wm="$(median worker)" -v pm="$(median platform)" -v old="$(best engine_to_file_done)" -v c="$CURL" 'BEGIN{
    printf "download_vs_worker_loop=%.3f\n", e / w
    printf "download_vs_worker_loop_of_medians=%.3f\n", em / wm
    printf "download_vs_platform=%.3f\n", e / p
    printf "download_vs_platform_of_medians=%.3f\n", em / pm
    printf "download_vs_platform_old_end_points=%.3f (engine to OnFileDone, as before)\n", old / p
    printf "download_vs_curl=%.3f\n", e / c }'
