#!/usr/bin/env bash
# Builds the link rewriters' fuzz target with clang in its own build folder
# and runs it for a bounded time (FUZZ_SECONDS, default 60; a single input
# that takes longer than FUZZ_TIMEOUT seconds, default 10, fails the run).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${FUZZ_BUILD_DIR:-$root/build-fuzz}"
seconds="${FUZZ_SECONDS:-60}"
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DLUMAREST_TESTS=ON >/dev/null
ninja -C "$build" -j"${FUZZ_JOBS:-2}" links_fuzzer
corpus="$build/fuzz-corpus-links"
mkdir -p "$corpus"
# A few mail-like seeds so the run starts from anchors and links.
printf '\x00<a href="http://a.b/c">x</a> <A HREF=\x27mailto:b@c\x27>' >"$corpus/seed-anchor"
printf '\x00<a href="file:///\\\\srv\\x">f</a><a name=x><body>y</body>' >"$corpus/seed-file"
printf '\x01see http://a.b/c. and \\\\srv\\share\\f.doc; //s/t &lt;x\n' >"$corpus/seed-plain"
"$build/bin/links_fuzzer" -max_total_time="$seconds" -timeout="${FUZZ_TIMEOUT:-10}" \
  -max_len=4097 "$corpus"
