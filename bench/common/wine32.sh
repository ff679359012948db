# What the Wine benchmarks share (sourced after tools/devlib.sh): the shipped i686 programs under
# 32-bit Wine, in a prefix of their own whose windows live in a Wine virtual desktop.

BIN32="$BUILD/i686/bin"

# Starts Wine for the i686 build; the prefix is made on first use. Inside the virtual desktop a closed
# window goes at once (under a bare X server Wine waits about 2 s for each top-level window).
start_wine32() {
    local prefix="$BUILD/i686/wineprefix"
    if [ ! -f "$prefix/system.reg" ]; then
        log "creating the 32-bit Wine prefix $prefix"
        WINEARCH=win32 WINEPREFIX="$prefix" wineboot -i >/dev/null 2>&1 || true
        WINEPREFIX="$prefix" wineserver -w
    fi
    start_wine "$prefix"
    wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
    wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1280x1024 /f >/dev/null 2>&1
}

# The product's server program at its fixed path, version 5.9.0 (the demo's stand-in).
install_product_590() {
    local c="$WINEPREFIX/drive_c"
    rm -rf "$c/Memoline5Server" "$c/Memoline5"
    mkdir -p "$c/Memoline5Server"
    cp "$BIN32/demo_setup_5_9_0.exe" "$c/Memoline5Server/Memoline5Server.exe"
}

remove_product() {
    rm -rf "$WINEPREFIX/drive_c/Memoline5Server" "$WINEPREFIX/drive_c/Memoline5"
}

# A TCP port on 127.0.0.1 that the system picks.
free_port() {
    python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1]); s.close()'
}
