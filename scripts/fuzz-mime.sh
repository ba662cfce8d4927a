#!/usr/bin/env bash
# Builds the MIME parser's fuzz target with clang in its own build folder
# (the mail library itself is instrumented there) and runs it for a bounded
# time (FUZZ_SECONDS, default 60; one input slower than FUZZ_TIMEOUT seconds,
# default 10, fails the run).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${FUZZ_BUILD_DIR:-$root/build-fuzz-mime}"
seconds="${FUZZ_SECONDS:-60}"
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DLUMAREST_TESTS=OFF -DLUMAREST_FUZZ=ON >/dev/null
ninja -C "$build" -j"${FUZZ_JOBS:-2}" mailbridge_fuzz_mime
corpus="$build/fuzz-corpus-mime"
mkdir -p "$corpus"
# Seeds: a few messages of the shapes mail takes.
printf 'From: =?UTF-8?B?5Lit5paH?= <a@b.c>\r\nSubject: =?ISO-8859-1?Q?caf=E9?=\r\n\r\nbody\r\n' >"$corpus/seed-headers"
printf 'Content-Type: multipart/mixed; boundary=x\r\n\r\n--x\r\nContent-Type: text/html\r\n\r\n<p>hi</p>\r\n--x\r\nContent-Disposition: attachment; filename*=UTF-8%s%sa%%C3%%A9.txt\r\n\r\ndata\r\n--x--\r\n' "'" "'" >"$corpus/seed-multipart"
printf 'Content-Type: text/calendar; method=REQUEST\r\n\r\nBEGIN:VCALENDAR\r\nMETHOD:REQUEST\r\nBEGIN:VEVENT\r\nUID:1\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n' >"$corpus/seed-calendar"
"$build/bin/mailbridge_fuzz_mime" -max_total_time="$seconds" -timeout="${FUZZ_TIMEOUT:-10}" \
  -max_len=65536 "$corpus"
