#!/usr/bin/env bash
# The demo, the whole road: a local HTTPS catalogue and a download server on loopback, the updater
# built against them, a Wine prefix holding a demo installation of version 5.9.0 (server, client and
# data-update programs), and the updater started in it.
#   On $DISPLAY the operator clicks through it (Check, select, Install, Yes); closing the updater's
#   window ends the demo.
#   Without a display it runs under Xvfb inside a Wine desktop and drives itself: Check, select the
#   newest, Install, Yes. It saves screenshots of the main window after the check, of the progress
#   dialog during the download and of the main window at the end, prints what happened, and exits 0
#   only when the current-version label shows the new version.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
BUILD="$ROOT/build"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
source "$ROOT/tools/devlib.sh"

DEMO="$BUILD/demo"
OUT="$DEMO/out"
SERVE="$DEMO/serve"
PASSWORD="DemoPassw0rd4LocalCatalogue123"  # 30 letters and digits, like the vendor's
SIGNER="Memoline Demo Publisher"  # the demo's setup programs are signed by this name, through the demo CA
SERVERS="$ROOT/tools/demo/servers.py"

stop_demo() {
    python3 "$SERVERS" --stop "$SERVE/servers.pid" 2>/dev/null || true
    stop_services
}
trap stop_demo EXIT

interactive=1
[ -n "${DISPLAY:-}" ] || interactive=0

# Certificates: a test CA, a leaf for localhost and the code-signing certificate of the demo's
# publisher, kept between runs so the trusted CA stays valid.
log "demo certificates"
"$ROOT/tools/certs/make_certs.sh" "$DEMO/certs" "$SIGNER"

# The servers first: the catalogue's port, chosen by the system, goes into the updater's build.
log "starting the local catalogue (HTTPS) and download (HTTP) servers"
rm -rf "$SERVE" && mkdir -p "$SERVE/files" "$OUT"
python3 "$SERVERS" --daemon --pid-file "$SERVE/servers.pid" --ports-file "$SERVE/ports" \
    --log "$SERVE/requests.log" --catalogue "$ROOT/tools/demo/catalogue.txt" --files "$SERVE/files" \
    --password "$PASSWORD" --cert "$DEMO/certs/localhost-chain.pem" --key "$DEMO/certs/localhost.key" \
    --slow-seconds 8
catalogue_url="$(sed -n 's/^catalogue_url=//p' "$SERVE/ports")"
http_url="$(sed -n 's/^http_url=//p' "$SERVE/ports")"
echo "catalogue: $catalogue_url"
echo "downloads: $http_url/files/ and $http_url/slow/"

log "building the updater against the local catalogue ($DEMO)"
configure "$DEMO" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/toolchain-$(test_arch).cmake" -DCMAKE_BUILD_TYPE=Release
cmake "$DEMO" -DMEMOLINE_CATALOGUE_URL="$catalogue_url" -DMEMOLINE_CATALOGUE_PASSWORD="$PASSWORD" \
    -DMEMOLINE_SETUP_SIGNER="$SIGNER" -DMEMOLINE_TEST_CERT_DIR="$DEMO/certs" >/dev/null
cmake --build "$DEMO" --target MemolineServerUpdates demo_setup_5_9_0 demo_setups_signed \
    demo_dataupdate memoline_demo_drive memoline_trust_cert
BIN="$DEMO/bin"

# The setup programs the catalogue links to, signed at build time (the 5.8.2 and 5.9.0 links are
# older and never offered).
cp "$BIN/demo_setup_5_9_3-signed.exe" "$SERVE/files/Memoline5ServerSetup-5.9.3.exe"
cp "$BIN/demo_setup_5_10_0-signed.exe" "$SERVE/files/Memoline5ServerSetup-5.10.0.exe"

[ $interactive -eq 1 ] || start_xvfb
start_wine "$DEMO/wineprefix"
wine "$(winepath -w "$BIN/memoline_trust_cert.exe")" "$(winepath -w "$DEMO/certs/ca.pem")" </dev/null

log "demo installation: server, client and data-update programs of version 5.9.0"
C="$WINEPREFIX/drive_c"
rm -rf "$C/Memoline5Server" "$C/Memoline5"
mkdir -p "$C/Memoline5Server" "$C/Memoline5"
cp "$BIN/demo_setup_5_9_0.exe" "$C/Memoline5Server/Memoline5Server.exe"
cp "$BIN/demo_setup_5_9_0.exe" "$C/Memoline5/Memoline5.exe"
cp "$BIN/demo_dataupdate.exe" "$C/Memoline5Server/DataUpdate.exe"
temp="$(winepath -u "$(wine cmd /c echo %TEMP% </dev/null 2>/dev/null | tr -d '\r')")"
rm -f "$temp"/Memoline5ServerSetup-*.exe

exe="$(winepath -w "$BIN/MemolineServerUpdates.exe")"
status=0
if [ $interactive -eq 1 ]; then
    log "starting the updater on $DISPLAY: press Check, select an update, press Install; close it to end"
    wine "$exe" </dev/null || true
else
    log "no display: the demo drives the updater by itself under Xvfb ($DISPLAY)"
    rm -f "$OUT"/*.bmp "$OUT"/*.png "$OUT/result.txt"
    # A Wine desktop draws the windows' frames and captions itself (there is no window manager).
    wine explorer /desktop=MemolineDemo,1280x1024 "$(winepath -w "$BIN/memoline_demo_drive.exe")" "$exe" \
        "$(winepath -w "$OUT")" "$(winepath -w "$OUT/result.txt")" </dev/null || true
    for bmp in "$OUT"/*.bmp; do
        [ -f "$bmp" ] || continue
        convert "$bmp" "${bmp%.bmp}.png" && rm -f "$bmp"
    done
    echo "screenshots:"
    ls -1 "$OUT"/*.png 2>/dev/null | sed 's/^/  /' || echo "  none"
    result="$(cat "$OUT/result.txt" 2>/dev/null || echo "FAIL: the driver left no result")"
    [ "${result%%$'\n'*}" = "PASS" ] || status=1
fi

log "what the demo's programs recorded (C:\\Memoline5Server\\demo-events.log)"
cat "$C/Memoline5Server/demo-events.log" 2>/dev/null | tr -d '\r' || echo "(nothing: no setup program ran)"
log "requests the servers answered"
cat "$SERVE/requests.log"
if [ $interactive -eq 0 ]; then
    [ $status -eq 0 ] && log "demo PASSED: the label shows the new version" || log "demo FAILED: $result"
fi
exit $status
