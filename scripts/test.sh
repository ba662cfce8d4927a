#!/usr/bin/env bash
# Sets up what is missing, builds and runs every test.
#   scripts/test.sh              debug build in build/
#   scripts/test.sh --sanitize   AddressSanitizer + UndefinedBehaviorSanitizer in build-asan/
#   scripts/test.sh --release    optimised build in build-release/
set -euo pipefail
cd "$(dirname "$0")/.."

mode=debug
case "${1:-}" in
  --sanitize) mode=asan ;;
  --release) mode=release ;;
  "") ;;
  *) echo "usage: $0 [--sanitize|--release]" >&2; exit 2 ;;
esac

scripts/install-deps.sh

case $mode in
  debug) dir=build; flags=(-DCMAKE_BUILD_TYPE=Debug) ;;
  asan) dir=build-asan; flags=(-DCMAKE_BUILD_TYPE=Debug -DLUMAREST_SANITIZE=ON) ;;
  release) dir=build-release; flags=(-DCMAKE_BUILD_TYPE=Release) ;;
esac

cmake -S . -B "$dir" -G Ninja "${flags[@]}"
cmake --build "$dir" -j"$(nproc)"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
ctest --test-dir "$dir" --output-on-failure -j"$(nproc)" --timeout 300
