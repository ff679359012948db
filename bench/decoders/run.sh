#!/usr/bin/env bash
# lane: host
# Decoder throughput: built with the host compiler at -O2 straight from the sources (no sanitizers).
set -euo pipefail
ROOT="${ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}"
BUILD="${BUILD:-$ROOT/build}"
out="$BUILD/bench-host"
mkdir -p "$out"
clang++ -std=c++20 -O2 -DNDEBUG -I"$ROOT" \
    "$ROOT/bench/decoders/main.cpp" \
    "$ROOT/http/Stream.cpp" "$ROOT/http/ChunkedStream.cpp" "$ROOT/http/GZipInflateStream.cpp" \
    -lz -o "$out/bench_decoders"
"$out/bench_decoders"
