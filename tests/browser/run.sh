#!/usr/bin/env bash
# The browser test: for each output mode (full in a desktop window, reduced
# in a phone-sized one) starts the portal with a fresh demo mailbox on a
# loopback port and drives it in headless Chromium (Debian "chromium",
# through playwright-core from npm). Screenshots of every step land in
# BUILD_DIR/browser-artifacts/<mode>/. Then, on another fresh mailbox, the
# script-injection test (xss.mjs). Skips (exit 0) when chromium or node is
# missing.
#   tests/browser/run.sh [BUILD_DIR]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
chromium=${CHROMIUM:-/usr/bin/chromium}

if [ ! -x "$chromium" ] || ! command -v node >/dev/null || ! command -v npm >/dev/null; then
  echo "browser test skipped: needs $chromium, node and npm (apt-get install chromium nodejs npm)"
  exit 0
fi
[ -x "$build/bin/lumarest-portal" ] || { echo "build the portal first ($build/bin/lumarest-portal)" >&2; exit 1; }

cd "$here"
[ -d node_modules/playwright-core ] || npm install --no-audit --no-fund --silent

port=${LUMAREST_BROWSER_PORT:-18095}
data=
pid=
stop() {
  if [ -n "$pid" ]; then kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null || true; fi
  if [ -n "$data" ]; then rm -rf "$data"; fi
  pid=
  data=
}
trap stop EXIT

# Starts the portal on a fresh demo data folder; sets data, pid, password.
start_portal() {
  data=$(mktemp -d /tmp/lumarest-browser-XXXXXX)
  "$build/bin/lumarest-portal" --data "$data" --listen "127.0.0.1:$port" --demo >"$data/out.log" 2>&1 &
  pid=$!
  for _ in $(seq 1 100); do
    grep -q "password:" "$data/out.log" 2>/dev/null && break
    sleep 0.1
  done
  password=$(awk '/demo user:/ { print $5 }' "$data/out.log")
  [ -n "$password" ] || { cat "$data/out.log"; echo "the portal did not start" >&2; exit 1; }
}

status=0
for mode in full reduced; do
  start_portal
  artifacts="$build/browser-artifacts/$mode"
  rm -rf "$artifacts"
  mkdir -p "$artifacts"
  MODE=$mode CHROMIUM="$chromium" BASE="http://127.0.0.1:$port/HalvornSLV" USER_NAME=demo PASSWORD="$password" \
    ARTIFACTS="$artifacts" node flow.mjs || status=1
  stop
done

# Script injection through mail, the address book and request values.
start_portal
CHROMIUM="$chromium" BASE="http://127.0.0.1:$port/HalvornSLV" USER_NAME=demo PASSWORD="$password" \
  MAILDIR="$data/users/demo/Maildir" CONTACTS="$data/users/demo/contacts.vcf" VECTORS="$here/xss-vectors.txt" \
  node xss.mjs || status=1
stop
exit $status
