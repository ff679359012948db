#!/usr/bin/env bash
# The demo, the whole road: a local HTTPS catalogue and a download server on loopback, the updater
# built against them, a Wine prefix holding a demo installation of version 5.9.0 (server, client and
# data-update programs), and the updater started in it.
#   On $DISPLAY the operator clicks through it (Check, select, Install, Yes); closing the updater's
#   window ends the demo.
#   Without a display it runs under Xvfb inside a Wine desktop and drives itself: Check, select the
#   newest, Install, Yes; twice, at 96 DPI and at 144 DPI (the prefix's LogPixels). It saves screenshots
#   to out/96dpi/ and out/144dpi/: the check in progress, the list after it, the progress dialog, the
#   setup program and the data update running, the last message and the end; prints what happened, and exits 0 only
#   when both runs end with the current-version label showing the new version.
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
    --slow-seconds 8 --catalogue-delay 3
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
# older and never offered). "-sleep4000": the 5.10.0 setup program takes four seconds, as a real one
# takes its time (its name steers it; the signature does not cover the name).
cp "$BIN/demo_setup_5_9_3-signed.exe" "$SERVE/files/Memoline5ServerSetup-5.9.3.exe"
cp "$BIN/demo_setup_5_10_0-signed.exe" "$SERVE/files/Memoline5ServerSetup-5.10.0-sleep4000.exe"

# A screen large enough for the window at 144 DPI (1517 x 1107 client pixels).
[ $interactive -eq 1 ] || start_xvfb 1920x1440
start_wine "$DEMO/wineprefix"
wine "$(winepath -w "$BIN/memoline_trust_cert.exe")" "$(winepath -w "$DEMO/certs/ca.pem")" </dev/null

C="$WINEPREFIX/drive_c"
temp="$(winepath -u "$(wine cmd /c echo %TEMP% </dev/null 2>/dev/null | tr -d '\r')")"
install_demo() {
    log "demo installation: server, client and data-update programs of version 5.9.0"
    rm -rf "$C/Memoline5Server" "$C/Memoline5"
    mkdir -p "$C/Memoline5Server" "$C/Memoline5"
    cp "$BIN/demo_setup_5_9_0.exe" "$C/Memoline5Server/Memoline5Server.exe"
    cp "$BIN/demo_setup_5_9_0.exe" "$C/Memoline5/Memoline5.exe"
    cp "$BIN/demo_dataupdate.exe" "$C/Memoline5Server/DataUpdate.exe"
    rm -f "$temp"/Memoline5ServerSetup-*.exe
}
set_dpi() {  # the prefix's display density, read by every Wine process that starts afterwards
    wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f </dev/null >/dev/null 2>&1
}

exe="$(winepath -w "$BIN/MemolineServerUpdates.exe")"
status=0
if [ $interactive -eq 1 ]; then
    install_demo
    log "starting the updater on $DISPLAY: press Check, select an update, press Install; close it to end"
    wine "$exe" </dev/null || true
else
    log "no display: the demo drives the updater by itself under Xvfb ($DISPLAY)"
    rm -rf "$OUT"/*.bmp "$OUT"/*.png "$OUT"/*dpi "$OUT/result.txt"
    # The data-update stand-in takes three seconds, so its state can be seen.
    export MEMOLINE_DEMO_DATAUPDATE_SLEEP_MS=3000
    rm -f "$C"/users/*/AppData/Local/Memoline/ServerUpdates*.log  # this demo's lines only
    result=""
    for dpi in 96 144; do
        install_demo
        set_dpi "$dpi"
        wineserver -k 2>/dev/null || true  # the next start reads the new density
        wineserver -w 2>/dev/null || true
        wineserver -p 2>/dev/null || true
        shots="$OUT/${dpi}dpi"
        mkdir -p "$shots"
        desktop=1280x1024
        [ "$dpi" -eq 96 ] || desktop=1920x1440
        log "run at $dpi DPI (Wine desktop $desktop)"
        # A Wine desktop draws the windows' frames and captions itself (there is no window manager).
        wine explorer /desktop="MemolineDemo$dpi,$desktop" "$(winepath -w "$BIN/memoline_demo_drive.exe")" "$exe" \
            "$(winepath -w "$shots")" "$(winepath -w "$shots/result.txt")" </dev/null || true
        for bmp in "$shots"/*.bmp; do
            [ -f "$bmp" ] || continue
            convert "$bmp" "${bmp%.bmp}.png" && rm -f "$bmp"
        done
        echo "screenshots at $dpi DPI:"
        ls -1 "$shots"/*.png 2>/dev/null | sed 's/^/  /' || echo "  none"
        one="$(cat "$shots/result.txt" 2>/dev/null || echo "FAIL: the driver left no result")"
        [ "${one%%$'\n'*}" = "PASS" ] || { status=1; result="$result [$dpi DPI] $one"; }
        log "what the demo's programs recorded at $dpi DPI (C:\\Memoline5Server\\demo-events.log)"
        cat "$C/Memoline5Server/demo-events.log" 2>/dev/null | tr -d '\r' || echo "(nothing: no setup program ran)"
    done
    set_dpi 96
    log "the support log (%LOCALAPPDATA%\\Memoline\\ServerUpdates.log)"
    cat "$C"/users/*/AppData/Local/Memoline/ServerUpdates.log 2>/dev/null | tr -d '\r' || echo "(none)"
fi

log "requests the servers answered"
cat "$SERVE/requests.log"
if [ $interactive -eq 0 ]; then
    [ $status -eq 0 ] && log "demo PASSED: the label shows the new version" || log "demo FAILED: $result"
fi
exit $status
