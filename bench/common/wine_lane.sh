# What the Wine benchmarks share (sourced after tools/devlib.sh): the Windows programs of the build the
# tests run, under Wine. That is the shipped i686 build under 32-bit Wine; on a machine where 32-bit
# programs cannot run, the x86_64 build, said in the output so that no figure passes for the shipped one.

BENCH_ARCH="$(test_arch)"
BENCH_BIN="$BUILD/$BENCH_ARCH/bin"

say_bench_arch() {
    if [ "$BENCH_ARCH" = i686 ]; then
        echo "bench_arch=i686"
    else
        echo "bench_arch=x86_64 (NOT the shipped i686 build: 32-bit programs cannot run on this machine)"
    fi
}

# Starts Wine in the prefix the tests of that build use (set up by start_wine: every program in a
# virtual desktop, where a closed window goes at once).
start_bench_wine() {
    start_wine "$BUILD/$BENCH_ARCH/wineprefix"
    say_bench_arch
}

# The product's server program at its fixed path, version 5.9.0 (the demo's stand-in).
install_product_590() {
    local c="$WINEPREFIX/drive_c"
    rm -rf "$c/Memoline5Server" "$c/Memoline5"
    mkdir -p "$c/Memoline5Server"
    cp "$BENCH_BIN/demo_setup_5_9_0.exe" "$c/Memoline5Server/Memoline5Server.exe"
}

remove_product() {
    rm -rf "$WINEPREFIX/drive_c/Memoline5Server" "$WINEPREFIX/drive_c/Memoline5"
}

# A TCP port on 127.0.0.1 that the system picks.
free_port() {
    python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1]); s.close()'
}
