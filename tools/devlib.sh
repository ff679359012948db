# Shell functions that ./dev and the demo share. Expects ROOT and BUILD to be set.

# Everything the build, the tests and the demo rely on. Nothing may be relied on that is not here.
PACKAGES=(
    cmake ninja-build g++ clang libclang-rt-14-dev zlib1g-dev python3
    g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix mingw-w64-tools libz-mingw-w64-dev
    wine wine64 xvfb xauth x11-utils imagemagick googletest
    openssl curl nginx-light osslsigncode
    # TLS test peers that ask for a new handshake (Python's own ssl module cannot).
    python3-openssl
    # The formatter of ./dev format and of the layout check, pinned: other versions lay out differently.
    clang-format-14
    # The face drawn for "Segoe UI" in every Wine prefix of ours (see configure_wine_prefix).
    fonts-liberation
)
# 32-bit Wine, for the shipped 32-bit build; needs the i386 architecture.
PACKAGES_I386=(wine32:i386)

log() { printf '\n== %s\n' "$*"; }

as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

missing_packages() {
    local p
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || echo "$p"
    done
}

install_packages() {
    local missing
    missing=$(missing_packages "${PACKAGES[@]}")
    if [ -n "$missing" ]; then
        log "installing: $(echo $missing)"
        as_root apt-get update -q
        DEBIAN_FRONTEND=noninteractive as_root apt-get install -y -q --no-install-recommends $missing
    fi
    install_wine32 || true
}

# 32-bit Wine is wanted but not vital: without it the tests fall back to the x86_64 build (and say so).
install_wine32() {
    [ -z "$(missing_packages "${PACKAGES_I386[@]}")" ] && return 0
    log "installing 32-bit Wine: ${PACKAGES_I386[*]}"
    {
        dpkg --print-foreign-architectures | grep -qx i386 || as_root dpkg --add-architecture i386
        as_root apt-get update -q
        DEBIAN_FRONTEND=noninteractive as_root apt-get install -y -q --no-install-recommends "${PACKAGES_I386[@]}"
    } || return 1
}

# 32-bit Wine installed and able to run: some kernels are built without 32-bit user code
# ("IA-32 emulation off"), where every i386 program fails with "Exec format error".
have_wine32() {
    [ -z "$(missing_packages "${PACKAGES_I386[@]}")" ] && /usr/lib/wine/wine --version >/dev/null 2>&1
}

# True where wine32 is installed but this kernel refuses to run 32-bit programs at all.
kernel_refuses_i386() {
    [ -z "$(missing_packages "${PACKAGES_I386[@]}")" ] || return 1
    /usr/lib/wine/wine --version >/dev/null 2>&1
    [ $? -eq 126 ]
}

# The Windows build whose tests run: the shipped i686 build, or x86_64 where 32-bit Wine cannot run.
test_arch() { if have_wine32; then echo i686; else echo x86_64; fi; }

# Where wine32 is installed but cannot run, Debian's `wine` script still picks its loader: put a `wine`
# that starts the 64-bit loader first on PATH (wineboot and CMake's emulator find it there).
use_wine64_loader() {
    have_wine32 && return 0
    [ -x /usr/lib/wine/wine64 ] || return 0
    local shim="$BUILD/wine64-loader"
    mkdir -p "$shim"
    local name
    for name in wine wine-stable; do
        printf '#!/bin/sh\nexport WINELOADER=/usr/lib/wine/wine64\nexec /usr/lib/wine/wine64 "$@"\n' >"$shim/$name"
        chmod +x "$shim/$name"
    done
    export PATH="$shim:$PATH"
}

# Whether a run that could not test the shipped i686 build may still pass: only when
# MEMOLINE_ALLOW_X86_64_LANE says so ("1": always; "kernel": only where the kernel refuses 32-bit code).
x86_64_lane_allowed() {
    case "${MEMOLINE_ALLOW_X86_64_LANE:-}" in
        1) return 0 ;;
        kernel) kernel_refuses_i386 ;;
        *) return 1 ;;
    esac
}

configure() {  # configure DIR [cmake args...]; cmake runs every time, so changed arguments take effect
    local dir="$1"; shift
    local generator=(-G Ninja) arg
    # Another toolchain means other compilers, which a configured folder cannot change: start it anew.
    for arg in "$@"; do
        case "$arg" in -DCMAKE_TOOLCHAIN_FILE=*)
            [ -f "$dir/CMakeCache.txt" ] &&
                [ "$(sed -n 's/^CMAKE_TOOLCHAIN_FILE:[A-Z]*=//p' "$dir/CMakeCache.txt")" != "${arg#*=}" ] &&
                rm -rf "$dir/CMakeCache.txt" "$dir/CMakeFiles" ;;
        esac
    done
    [ -f "$dir/CMakeCache.txt" ] && generator=()
    cmake -S "$ROOT" -B "$dir" "${generator[@]}" "$@" >/dev/null
}

# The build that runs the tests signs the exe with the test code-signing certificate, as a release
# build signs it with the vendor's (MEMOLINE_SIGN_CERT), so the tests see the signed exe.
build_arch() {  # build_arch ARCH TESTS(ON|OFF)
    configure "$BUILD/$1" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/toolchain-$1.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DMEMOLINE_BUILD_TESTS="$2" -DMEMOLINE_SIGN_WITH_TEST_CERT="$2"
    cmake --build "$BUILD/$1"
}

build_windows() {
    local arch; arch=$(test_arch)
    if [ "$arch" = i686 ]; then
        log "building i686, the shipped 32-bit product, with its tests"
        build_arch i686 ON
        log "building x86_64 (kept compiling; only its exe checks run)"
        build_arch x86_64 OFF
    else
        log "building i686, the shipped 32-bit product (its tests need 32-bit Wine)"
        build_arch i686 OFF
        log "building x86_64 with the tests"
        build_arch x86_64 ON
    fi
}

# Tests ON said each time: a host folder configured with them off once would otherwise keep that.
build_host() {
    log "building the host lane (AddressSanitizer and UBSan)"
    configure "$BUILD/host" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
        -DCMAKE_BUILD_TYPE=Debug -DMEMOLINE_SANITIZE=ON -DMEMOLINE_BUILD_TESTS=ON
    cmake --build "$BUILD/host"
}

# A private X display for windows under test; sets DISPLAY. Stopped by stop_services.
XVFB_PID=""
start_xvfb() {  # start_xvfb [WIDTHxHEIGHT]
    local n=90
    while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
    Xvfb ":$n" -screen 0 "${1:-1280x1024}x24" -nolisten tcp >/dev/null 2>&1 &
    XVFB_PID=$!
    export DISPLAY=":$n"
    for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && return 0; sleep 0.1; done
    echo "Xvfb did not start" >&2; return 1
}

# What every prefix of ours is set up with, so that every machine draws the same:
# - a virtual desktop for every program: Wine draws the frames itself, and without a window manager a
#   closing top-level window otherwise costs a 2 s wait;
# - "Segoe UI" (the window's font, which Linux lacks) drawn with Liberation Sans.
PREFIX_DESKTOP_SIZE=1280x1024
configure_wine_prefix() {
    local reg="$WINEPREFIX/memoline-settings.reg"
    cat >"$reg" <<REG
REGEDIT4

[HKEY_CURRENT_USER\\Software\\Wine\\Explorer]
"Desktop"="Default"

[HKEY_CURRENT_USER\\Software\\Wine\\Explorer\\Desktops]
"Default"="$PREFIX_DESKTOP_SIZE"

[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\FontSubstitutes]
"Segoe UI"="Liberation Sans"
REG
    wine regedit /S "$(winepath -w "$reg")" </dev/null >/dev/null 2>&1
}

# One Wine prefix per build directory, and a wineserver kept alive for the run.
start_wine() {  # start_wine PREFIX
    export WINEPREFIX="$1"
    use_wine64_loader
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        log "creating Wine prefix $WINEPREFIX"
        wineboot -i >/dev/null 2>&1 || true
        wineserver -w
    fi
    configure_wine_prefix
    # Programs already running (the desktop among them, started with the prefix or by regedit) keep the
    # settings they started with: end them, so everything from here on starts with ours.
    wineserver -k 2>/dev/null || true
    wineserver -w
    wineserver -p
    # Start Wine's own services now, detached from our output: started by the first test instead,
    # they would inherit CTest's output pipe and hold it open after the test ends.
    wine cmd /c exit </dev/null >/dev/null 2>&1 || true
}

stop_services() {
    [ -n "${WINEPREFIX:-}" ] && wineserver -k 2>/dev/null || true
    [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null || true
}
