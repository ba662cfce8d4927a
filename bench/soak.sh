#!/usr/bin/env bash
# Soak run of the portal: a user with a large generated folder, CONNECTIONS
# connections mixing listing, paging, searching, viewing, sending (to the
# user itself, so the folder keeps its size) and deleting (bench/soak.lua)
# for MINUTES minutes. Each minute prints requests per second, errors
# (answers other than 200/302, failed sends, listings without rows, and
# wrk's socket errors and time-outs), and the portal's resident memory
# (RssAnon: heap and other anonymous memory; RssFile: mapped files).
# Loopback only; bounded by its duration.
#   bench/soak.sh [BUILD_DIR] [MINUTES] [CONNECTIONS] [MESSAGES]
# Defaults: build-release, 30 minutes, 16 connections, 10,000 messages.
# Exit status 1 when any request failed. Needs wrk (Debian "wrk").
# LUMAREST_SOAK_SLICE shortens the 60-second slices for a quick check.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build-release}
minutes=${2:-30}
connections=${3:-16}
messages=${4:-10000}
port=${LUMAREST_SOAK_PORT:-18092}
slice=${LUMAREST_SOAK_SLICE:-60}
. bench/portal-env.sh
portal_env_init soak
portal_add_user soak soak-password "$messages"
portal_start
signin() { portal_signin soak soak-password; }

# One wrk thread per connection (a thread's requests and answers then
# alternate, which the script relies on) and one session per thread;
# messages are sent to the user's own address.
for n in $(seq 1 "$connections"); do
  export "SOAK_COOKIE_$n=$(signin)"
done
export SOAK_ADDRESS="soak%40${LUMAREST_SOAK_DOMAIN:-example.org}"
# The first listing builds the folder's summary index.
curl -s -o /dev/null -H "Cookie: LumarestSession=$SOAK_COOKIE_1" "$base/Inbox.asp"

echo "# $(date -u +%FT%TZ) $(uname -m), $(nproc) cores; $messages messages, $connections connections, $minutes min"
echo "# minute  requests/s  errors  RssAnon_kB  RssFile_kB  messages_in_folder"
total=0
for minute in $(seq 1 "$minutes"); do
  out=$(wrk -t "$connections" -c "$connections" -d ${slice}s --timeout 10s -s bench/soak.lua "$base/Inbox.asp" 2>&1)
  [ -n "${SOAK_DEBUG:-}" ] && echo "$out" >&2
  rps=$(awk '/Requests\/sec/ { print $2 }' <<<"$out")
  lua=$(awk '/^soak-errors/ { print $2 }' <<<"$out")
  # wrk's connect, read and write errors (a connection that broke, so a
  # request lost) and its time-outs (an answer slower than 10 s). The
  # request each connection has in flight when the slice ends is cut by
  # wrk and counted nowhere.
  sock=$(awk '/Socket errors/ { gsub(",", ""); print $4 + $6 + $8 + $10 }' <<<"$out")
  errors=$(( ${lua:-1} + ${sock:-0} ))
  total=$(( total + errors ))
  anon=$(awk '/RssAnon/ { print $2 }' "/proc/$pid/status")
  file=$(awk '/RssFile/ { print $2 }' "/proc/$pid/status")
  count=$(( $(ls "$data/users/soak/Maildir/cur" | wc -l) + $(ls "$data/users/soak/Maildir/new" | wc -l) ))
  printf '%8d  %10s  %6d  %10s  %10s  %d\n' "$minute" "${rps:-0}" "$errors" "$anon" "$file" "$count"
done
echo "# errors in total: $total"
[ "$total" -eq 0 ]
