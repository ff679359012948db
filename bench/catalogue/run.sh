#!/usr/bin/env bash
# 200 catalogue requests in a row against a local HTTPS nginx, each on a new connection with a new
# TLS handshake: through RequestServerUpdates' client and through a bare WinINet loop (both under
# Wine), and through one curl process on the host. Prints the rates and the two ratios.
# Expects ROOT and BUILD (./dev bench catalogue sets them) and a built x86_64 tree.
set -euo pipefail
ROOT="${ROOT:?}"
BUILD="${BUILD:?}"
COUNT="${COUNT:-200}"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
source "$ROOT/tools/devlib.sh"

bin="$BUILD/x86_64/bin"
certs="$BUILD/x86_64/tls_peers"  # the tests' certificates: their CA is the one the prefix trusts
work="$BUILD/bench/catalogue"
mkdir -p "$work"
bash "$ROOT/tools/certs/make_certs.sh" "$certs"
python3 "$ROOT/tests/catalogue/nginx_catalogue.py" start "$work/nginx" "$certs"
trap 'python3 "$ROOT/tests/catalogue/nginx_catalogue.py" stop "$work/nginx"; stop_services' EXIT
port=$(awk '$1 == "https" {print $2}' "$work/nginx/ports.txt")
url="https://localhost:$port/vodazodezo_dezeru/index.php/ServerUpdates/GetServerUpdates"

start_wine "$BUILD/x86_64/wineprefix"
wine "$bin/memoline_trust_cert.exe" "Z:$certs/ca.pem" >/dev/null

log "$COUNT requests through our client and through WinINet, under Wine"
out=$(wine "$bin/memoline_bench_catalogue.exe" "$url" "$COUNT" | tr -d '\r')
echo "$out"
ours=$(echo "$out" | sed -n 's/^catalogue_requests_per_second=//p')
wininet=$(echo "$out" | sed -n 's/^wininet_requests_per_second=//p')

log "$COUNT requests through one curl process on the host"
config="$work/curl.cfg"
: > "$config"
for _ in $(seq "$COUNT"); do printf 'url = "%s"\noutput = "/dev/null"\n' "$url" >> "$config"; done
password=$(grep -o 'kCataloguePassword = L"[^"]*"' "$BUILD/x86_64/generated/catalogue/CatalogueConfig.h" | sed 's/.*L"//; s/"$//')
start=$(date +%s.%N)
curl -s -o /dev/null --cacert "$certs/ca.pem" -H "Connection: close" -H "Accept-Encoding: gzip" \
    --data "system_password=$password" -K "$config"
end=$(date +%s.%N)
curl_rate=$(python3 -c "print(f'{$COUNT / ($end - $start):.1f}')")
echo "curl_requests_per_second=$curl_rate"

python3 - "$ours" "$wininet" "$curl_rate" <<'PY'
import sys
ours, wininet, curl = map(float, sys.argv[1:4])
print(f"catalogue_vs_wininet={ours / wininet:.2f}")
print(f"catalogue_vs_curl={ours / curl:.2f}")
PY
