# Shell functions that ./dev and the demo share. Expects ROOT and BUILD to be set.

PACKAGES=(
    cmake ninja-build g++ clang libclang-rt-14-dev zlib1g-dev python3
    g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix mingw-w64-tools libz-mingw-w64-dev
    wine wine64 xvfb xauth x11-utils imagemagick googletest
    openssl curl nginx-light
)

log() { printf '\n== %s\n' "$*"; }

install_packages() {
    local missing=()
    for p in "${PACKAGES[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    log "installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update -q
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
}

configure() {  # configure DIR [cmake args...]
    local dir="$1"; shift
    if [ ! -f "$dir/build.ninja" ]; then
        cmake -S "$ROOT" -B "$dir" -G Ninja "$@" >/dev/null
    fi
}

build_windows() {
    log "building x86_64 (tests run on this build under Wine)"
    configure "$BUILD/x86_64" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/toolchain-x86_64.cmake" \
        -DCMAKE_BUILD_TYPE=Release "$@"
    cmake --build "$BUILD/x86_64"
    log "building i686 (the shipped 32-bit product)"
    configure "$BUILD/i686" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/toolchain-i686.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DMEMOLINE_BUILD_TESTS=OFF
    cmake --build "$BUILD/i686"
}

build_host() {
    log "building the host lane (AddressSanitizer and UBSan)"
    configure "$BUILD/host" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
        -DCMAKE_BUILD_TYPE=Debug -DMEMOLINE_SANITIZE=ON
    cmake --build "$BUILD/host"
}

# A private X display for windows under test; sets DISPLAY. Stopped by stop_services.
XVFB_PID=""
start_xvfb() {  # start_xvfb [WIDTHxHEIGHT]
    local size="${1:-1280x1024}"
    local n=90
    while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
    Xvfb ":$n" -screen 0 "${size}x24" -nolisten tcp >/dev/null 2>&1 &
    XVFB_PID=$!
    export DISPLAY=":$n"
    for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && return 0; sleep 0.1; done
    echo "Xvfb did not start" >&2; return 1
}

# One Wine prefix per build directory, and a wineserver kept alive for the run.
start_wine() {  # start_wine PREFIX
    export WINEPREFIX="$1"
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        log "creating Wine prefix $WINEPREFIX"
        wineboot -i >/dev/null 2>&1 || true
        wineserver -w
    fi
    wineserver -p 2>/dev/null || true  # already running from an earlier command: fine
    # Start Wine's own services now, detached from our output: started by the first test instead,
    # they would inherit CTest's output pipe and hold it open after the test ends.
    wine cmd /c exit </dev/null >/dev/null 2>&1 || true
}

stop_services() {
    [ -n "${WINEPREFIX:-}" ] && wineserver -k 2>/dev/null || true
    [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null || true
}

