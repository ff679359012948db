#!/usr/bin/env bash
# The updater's peak working set under Wine (the lane's build, in a Wine desktop on Xvfb), each road
# in a fresh process: the main window idle; a check listing 5,000 updates from a local HTTPS nginx
# (gzip, chunked); an install whose setup program is a 256 MiB download from the same nginx over
# HTTP. Prints peak_idle_mb, peak_check_5000_mb and peak_download_mb (goal: each <= 50).
# Expects ROOT and BUILD (./dev bench memory sets them). ROWS and SIZE_MB may be set.
set -euo pipefail
ROOT="${ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}"
BUILD="${BUILD:-$ROOT/build}"
ROWS="${ROWS:-5000}"
SIZE_MB="${SIZE_MB:-256}"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
source "$ROOT/tools/devlib.sh"
source "$ROOT/bench/common/wine_lane.sh"

WORK="$BUILD/bench-memory"
rm -rf "$WORK/www" "$WORK/logs"
mkdir -p "$WORK/www" "$WORK/logs"
cleanup() {
    [ -f "$WORK/nginx.pid" ] && kill "$(cat "$WORK/nginx.pid")" 2>/dev/null || true
    [ -n "${WINEPREFIX:-}" ] && remove_product
    stop_services
    rm -rf "$WORK/www"
}
trap cleanup EXIT

bash "$ROOT/tools/certs/make_certs.sh" "$WORK/certs"
TLS_PORT="$(free_port)"
HTTP_PORT="$(free_port)"
awk -v n="$ROWS" -v port="$HTTP_PORT" 'BEGIN { for (i = 1; i <= n; ++i)
    printf "\"Memoline Server 6.%d\";6.%d.0;2026-04-01;http://127.0.0.1:%d/setup/MemolineServer6_%d.exe;x\r\n", i, i, port, i }' \
    >"$WORK/www/large.txt"
head -c $((SIZE_MB * 1024 * 1024)) /dev/urandom >"$WORK/www/Setup.exe"

cat >"$WORK/nginx.conf" <<CONF
worker_processes 1;
daemon on;
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
    default_type text/plain;
    charset utf-8;
    gzip on;
    gzip_types text/plain;
    gzip_min_length 0;
    server {
        listen 127.0.0.1:$TLS_PORT ssl;
        ssl_certificate $WORK/certs/localhost-chain.pem;
        ssl_certificate_key $WORK/certs/localhost.key;
        ssl_protocols TLSv1.2;
        root $WORK/www;
        # The catalogue answers a POST; a static file answers only GET, hence the 405 turned into 200.
        location = /large { try_files /large.txt =404; error_page 405 =200 \$uri; }
    }
    server {
        listen 127.0.0.1:$HTTP_PORT;
        root $WORK/www;
        types { application/octet-stream exe; }
    }
}
CONF
/usr/sbin/nginx -c "$WORK/nginx.conf" -p "$WORK"
for _ in $(seq 50); do curl -s -o /dev/null "http://127.0.0.1:$HTTP_PORT/Setup.exe" -r 0-0 && break; sleep 0.1; done

start_xvfb
start_bench_wine
wine "$BENCH_BIN/memoline_trust_cert.exe" "$(winepath -w "$WORK/certs/ca.pem")" >/dev/null
install_product_590  # the Server/Host PC: Install is offered

EXE="$BENCH_BIN/memory_bench.exe"
log "peak working set: idle, a check of $ROWS updates, a $SIZE_MB MiB download (load: $(cut -d' ' -f1-3 /proc/loadavg))"
run() {  # run NAME ARGS...: prints the figure as peak_NAME_mb
    local name="$1" out; shift
    out="$(wine "$EXE" "$@" | tr -d '\r')" || { echo "$out"; echo "the $name road failed"; exit 1; }
    echo "$out" | grep -v '^peak_' | sed 's/^/  /'
    echo "$out" | sed -n "s/^peak_[a-z]*_mb=/peak_${name}_mb=/p"
}
run idle idle
run "check_$ROWS" check "https://localhost:$TLS_PORT/large" "$ROWS"
run download download "http://127.0.0.1:$HTTP_PORT/Setup.exe"
