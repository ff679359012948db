#!/usr/bin/env bash
# The check road for 1 and for 5,000 newer updates: the updater's main window (the lane's build, under Wine,
# shown in a Wine desktop on Xvfb) presses Check against a local HTTPS nginx (gzip, chunked), parses
# the answer and fills and paints its grid. Prints the median time of each, check_5000_vs_1 and the
# cost of one row (check_microseconds_per_row).
# Expects ROOT and BUILD (./dev bench check_scale sets them). ROUNDS and ROWS may be set.
set -euo pipefail
ROOT="${ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}"
BUILD="${BUILD:-$ROOT/build}"
ROUNDS="${ROUNDS:-15}"
ROWS="${ROWS:-5000}"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
source "$ROOT/tools/devlib.sh"
source "$ROOT/bench/common/wine_lane.sh"

WORK="$BUILD/bench-check-scale"
rm -rf "$WORK/www" "$WORK/logs"
mkdir -p "$WORK/www" "$WORK/logs"
cleanup() {
    [ -f "$WORK/nginx.pid" ] && kill "$(cat "$WORK/nginx.pid")" 2>/dev/null || true
    [ -n "${WINEPREFIX:-}" ] && remove_product
    stop_services
}
trap cleanup EXIT

bash "$ROOT/tools/certs/make_certs.sh" "$WORK/certs"
PORT="$(free_port)"

# Catalogue lines as the vendor writes them: a quoted name with a space, a dotted version above the
# installed 5.9.0, a date, a link and the unused fifth field.
catalogue() {  # catalogue N
    awk -v n="$1" -v port="$PORT" 'BEGIN { for (i = 1; i <= n; ++i)
        printf "\"Memoline Server 6.%d\";6.%d.0;2026-04-01;https://localhost:%d/setup/MemolineServer6_%d.exe;x\r\n", i, i, port, i }'
}
catalogue 1 >"$WORK/www/small.txt"
catalogue "$ROWS" >"$WORK/www/large.txt"

cat >"$WORK/nginx.conf" <<CONF
worker_processes 1;
daemon on;
pid $WORK/nginx.pid;
error_log $WORK/logs/error.log;
events { worker_connections 64; }
http {
    access_log off;
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
        listen 127.0.0.1:$PORT ssl;
        ssl_certificate $WORK/certs/localhost-chain.pem;
        ssl_certificate_key $WORK/certs/localhost.key;
        ssl_protocols TLSv1.2;
        root $WORK/www;
        # The catalogue answers a POST; a static file answers only GET, hence the 405 turned into 200.
        location = /small { try_files /small.txt =404; error_page 405 =200 \$uri; }
        location = /large { try_files /large.txt =404; error_page 405 =200 \$uri; }
    }
}
CONF
/usr/sbin/nginx -c "$WORK/nginx.conf" -p "$WORK"
for _ in $(seq 50); do curl -s -o /dev/null --cacert "$WORK/certs/ca.pem" "https://localhost:$PORT/small" && break; sleep 0.1; done

start_xvfb
start_bench_wine
wine "$BENCH_BIN/memoline_trust_cert.exe" "$(winepath -w "$WORK/certs/ca.pem")" >/dev/null
install_product_590

log "check of 1 and of $ROWS newer updates, $ROUNDS rounds each (load: $(cut -d' ' -f1-3 /proc/loadavg))"
out="$(wine "$BENCH_BIN/check_scale_bench.exe" "https://localhost:$PORT/small" 1 "https://localhost:$PORT/large" "$ROWS" \
    "$ROUNDS" | tr -d '\r')"
echo "$out"
echo "$out" | grep -q "^check_${ROWS}_vs_1=" || exit 1
