#!/usr/bin/env bash
# Download throughput over loopback from a local nginx: the engine with its dialog under Xvfb, bare
# WinINet loops under the same Wine (4 KiB reads as the engine, and 64 KiB reads), and curl on the host.
# Each Wine figure is the best of two runs. Expects ROOT and BUILD (./dev bench download sets them).
set -euo pipefail
ROOT="${ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}"
BUILD="${BUILD:-$ROOT/build}"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
source "$ROOT/tools/devlib.sh"

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
PORT="$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1]); s.close()')"
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
start_wine "$BUILD/x86_64/wineprefix"
EXE="$BUILD/x86_64/bin/download_bench.exe"
TARGET="$(winepath -w "$WORK/out")"

best() {  # best MODE FIELD: the highest MB/s of two runs
    local mode="$1" line best_line="" best_rate=0
    for run in 1 2; do
        if [ "$mode" = engine ] && [ $run -eq 1 ]; then
            # One look at the dialog during a transfer.
            (sleep 5; import -window root "$WORK/dialog.png" 2>/dev/null || true) &
        fi
        out="$(wine "$EXE" "$URL" "$mode" "$TARGET" | tr -d '\r')"
        echo "$out" | sed 's/^/  /' >&2
        line="$(echo "$out" | grep "^$mode ")"
        rate="$(echo "$line" | awk '{print $4}')"
        if awk -v a="$rate" -v b="$best_rate" 'BEGIN{exit !(a>b)}'; then best_rate="$rate"; best_line="$line"; fi
    done
    echo "$best_rate"
}

log "engine with dialog (4096-byte reads), $SIZE_MB MiB"
ENGINE="$(best engine)"
log "bare WinINet loop, 4096-byte reads"
WININET="$(best wininet)"
log "bare WinINet loop, 64 KiB reads"
WININET64="$(best wininet64k)"
log "curl on the host"
CURL_BPS="$(curl -s -o /dev/null -w '%{speed_download}' "$URL")"
CURL="$(awk -v b="$CURL_BPS" 'BEGIN{printf "%.2f", b/1e6}')"

echo
echo "engine_MBps=$ENGINE"
echo "wininet_MBps=$WININET"
echo "wininet64k_MBps=$WININET64"
echo "curl_MBps=$CURL"
awk -v e="$ENGINE" -v w="$WININET" -v w64="$WININET64" -v c="$CURL" 'BEGIN{
    printf "download_vs_wininet=%.3f\n", e / w
    printf "download_vs_wininet64k=%.3f\n", e / w64
    printf "download_vs_curl=%.3f\n", e / c }'
[ -f "$WORK/dialog.png" ] && echo "screenshot of the dialog during the transfer: $WORK/dialog.png"
