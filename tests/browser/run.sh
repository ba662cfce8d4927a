#!/usr/bin/env bash
# The browser test: starts the portal with a demo mailbox on a loopback port
# and drives it in headless Chromium (Debian "chromium", through
# playwright-core from npm). Screenshots of every step land in
# tests/browser/artifacts/. Then the script-injection test (xss.mjs). Skips
# (exit 0) when chromium or node is missing.
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

data=$(mktemp -d /tmp/lumarest-browser-XXXXXX)
port=${LUMAREST_BROWSER_PORT:-18095}
pid=
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null || true
  rm -rf "$data"
}
trap cleanup EXIT

"$build/bin/lumarest-portal" --data "$data" --listen "127.0.0.1:$port" --demo >"$data/out.log" 2>&1 &
pid=$!
for _ in $(seq 1 100); do
  grep -q "password:" "$data/out.log" 2>/dev/null && break
  sleep 0.1
done
password=$(awk '/demo user:/ { print $5 }' "$data/out.log")
[ -n "$password" ] || { cat "$data/out.log"; echo "the portal did not start" >&2; exit 1; }

mkdir -p artifacts
CHROMIUM="$chromium" BASE="http://127.0.0.1:$port/HalvornSLV" USER_NAME=demo PASSWORD="$password" \
  ARTIFACTS="$here/artifacts" node flow.mjs

# Script injection through mail, the address book and request values.
CHROMIUM="$chromium" BASE="http://127.0.0.1:$port/HalvornSLV" USER_NAME=demo PASSWORD="$password" \
  MAILDIR="$data/users/demo/Maildir" CONTACTS="$data/users/demo/contacts.vcf" VECTORS="$here/xss-vectors.txt" \
  node xss.mjs
