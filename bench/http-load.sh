#!/usr/bin/env bash
# HTTP load on the portal with wrk: requests per second and latency
# percentiles for the listing of a 1,000- and a 10,000-message folder and for
# one small message view, at 1, 4 and 16 connections. Loopback only; every
# run is bounded by its duration.
#   bench/http-load.sh [BUILD_DIR] [SECONDS] [MEMORY_MINUTES]
# Defaults: build-release, 10 seconds per run, no memory run. With
# MEMORY_MINUTES, the runs are followed by that many minutes of 16
# connections on the 10,000-message listing (100 more sessions signed in),
# with the portal's resident memory after each minute: RssAnon (heap and
# other anonymous memory) and RssFile (mapped files: the program, its
# libraries, index pages) apart. Needs wrk (Debian "wrk").
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build-release}
seconds=${2:-10}
memoryMinutes=${3:-0}
port=${LUMAREST_BENCH_PORT:-18090}
. bench/portal-env.sh
portal_env_init bench

# Two users: one with 1,000 messages, one with 10,000.
for n in 1000 10000; do
  portal_add_user "u$n" bench-password "$n"
done

# wrk's 256 connections all come from one address, as they would through a
# front-end proxy: allow that many for this run (the default is 32).
printf '\n[portal]\nmax_connections_per_address = 300\n' >>"$data/portal.ini"
portal_start
signin() { portal_signin "$1" bench-password; }

# The first listing builds the folder's summary index; later ones reuse it.
echo "# $(date -u +%FT%TZ) $(uname -m), $(nproc) cores, ${seconds}s per run"
for n in 1000 10000; do
  cookie="LumarestSession=$(signin "u$n")"
  curl -s -o /dev/null -H "Cookie: $cookie" "$base/Inbox.asp"
  for c in 1 4 16; do
    echo "## listing, $n messages, $c connections"
    wrk -t "$(( c < 2 ? 1 : 2 ))" -c "$c" -d "${seconds}s" --latency -H "Cookie: $cookie" "$base/Inbox.asp" |
      grep -E 'Requests/sec|50%|90%|99%|Non-2xx'
  done
done

cookie="LumarestSession=$(signin u1000)"
# Rows name their message in openMessage("Guid=...&amp;TI=0&amp;Folder=&amp;Store=").
query=$(curl -s -H "Cookie: $cookie" "$base/Inbox.asp" | grep -o 'openMessage("[^"]*")' | head -1 |
  sed -e 's/^openMessage("//' -e 's/")$//' -e 's/&amp;/\&/g' -e 's/{/%7B/' -e 's/}/%7D/' || true)
view=${query:+ViewInboxMessage.asp?$query}
if [ -n "$view" ]; then
  for c in 1 4 16; do
    echo "## message view, $c connections"
    wrk -t "$(( c < 2 ? 1 : 2 ))" -c "$c" -d "${seconds}s" --latency -H "Cookie: $cookie" "$base/$view" |
      grep -E 'Requests/sec|50%|90%|99%|Non-2xx'
  done
else
  echo "## message view: the listing named no message; skipped"
fi
# Slow clients: 64 connections from another loopback address that send half
# a request line and then nothing, while one user lists the 1,000-message
# folder; the times are curl's whole request times with them open.
cookie="LumarestSession=$(signin u1000)"
python3 - "$port" <<'PY' &
import socket, sys, time
held = []
for _ in range(64):
    s = socket.socket()
    s.bind(("127.0.0.2", 0))
    try:
        s.connect(("127.0.0.1", int(sys.argv[1])))
        s.send(b"GET /HalvornSLV/Inbox.asp HT")
        held.append(s)
    except OSError:
        pass
time.sleep(8)
PY
slow=$!
sleep 1
echo "## listing, 1000 messages, with 64 half-sent connections from one other address open (seconds per request)"
for _ in 1 2 3 4 5; do
  curl -s -o /dev/null -w '%{http_code} %{time_total}\n' -H "Cookie: $cookie" "$base/Inbox.asp"
done
wait "$slow" 2>/dev/null || true

# Many keep-alive clients at once: 256 connections on the listing; the
# latency line ends with the longest wait of any request.
echo "## listing, 1000 messages, 256 keep-alive connections"
wrk -t 2 -c 256 -d "${seconds}s" --latency -H "Cookie: $cookie" "$base/Inbox.asp" |
  grep -E 'Latency  |Requests/sec|50%|90%|99%|Non-2xx|Socket errors'

echo "## resident memory of the portal after the runs: $(portal_memory)"
for _ in $(seq 1 100); do signin u10000 >/dev/null; done
echo "## resident memory with 100 more sessions: $(portal_memory)"
if [ "$memoryMinutes" -gt 0 ]; then
  cookie="LumarestSession=$(signin u10000)"
  for minute in $(seq 1 "$memoryMinutes"); do
    rps=$(wrk -t 2 -c 16 -d 60s -H "Cookie: $cookie" "$base/Inbox.asp" | awk '/Requests\/sec/ { print $2 }')
    echo "## minute $minute of 16 connections on the 10,000-message listing: $rps requests/s; $(portal_memory)"
  done
fi
