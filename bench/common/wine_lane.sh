# What the Wine benchmarks share (sourced after tools/devlib.sh): the shipped i686 programs under
# 32-bit Wine.

BIN32="$BUILD/i686/bin"

# Starts Wine for the i686 build, in the prefix its tests use (set up by start_wine: every program
# in a virtual desktop, where a closed window goes at once).
start_wine32() {
    start_wine "$BUILD/i686/wineprefix"
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
