#!/usr/bin/env bash
# Builds the URL-safe decoder's fuzz target with clang in its own build folder
# and runs it for a bounded time (FUZZ_SECONDS, default 30).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${FUZZ_BUILD_DIR:-$root/build-fuzz}"
seconds="${FUZZ_SECONDS:-30}"
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DLUMAREST_TESTS=ON >/dev/null
ninja -C "$build" -j"${FUZZ_JOBS:-2}" decode_url_safe_fuzz
corpus="$build/fuzz-corpus"
mkdir -p "$corpus"
"$build/bin/decode_url_safe_fuzz" -max_total_time="$seconds" -max_len=4096 "$corpus"
