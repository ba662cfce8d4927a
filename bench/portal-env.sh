# Start-up shared by the portal's load scripts (bench/http-load.sh,
# bench/soak.sh); sourced, not run. The caller sets `build` (build directory)
# and `port`, then calls:
#   portal_env_init NAME           check tools, make the data directory $data
#   portal_add_user USER PASSWORD MESSAGES
#   portal_start                   start the portal on 127.0.0.1:$port ($pid)
#   portal_signin USER PASSWORD    print a fresh session id
#   portal_memory                  the portal's VmRSS, RssAnon and RssFile
# The portal is stopped and $data removed when the script exits.

portal=$build/bin/lumarest-portal
base=http://127.0.0.1:$port/HalvornSLV
data=
pid=

portal_env_init() {
  command -v wrk >/dev/null || { echo "wrk is missing: apt-get install wrk" >&2; exit 1; }
  [ -x "$portal" ] || { echo "build the portal first: cmake --build $build --target lumarest-portal" >&2; exit 1; }
  data=$(mktemp -d "/tmp/lumarest-$1-XXXXXX")
  trap portal_env_cleanup EXIT
}

portal_env_cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null || true
  [ -n "$data" ] && rm -rf "$data"
}

portal_add_user() {
  printf '%s\n' "$2" | "$portal" --data "$data" user add "$1" --password-stdin >/dev/null
  "$portal" --data "$data" fill-folder "$data/users/$1/Maildir" "$3"
}

portal_start() {
  "$portal" --data "$data" --listen "127.0.0.1:$port" >"$data/portal.log" 2>&1 &
  pid=$!
  for _ in $(seq 1 100); do
    curl -s -o /dev/null "$base/Login.asp" && return 0
    sleep 0.1
  done
  echo "the portal did not start; its log:" >&2
  cat "$data/portal.log" >&2
  exit 1
}

portal_signin() {
  curl -s -o /dev/null -c - -H "Sec-Fetch-Site: same-origin" -d "UserName=$1&Password=$2" "$base/Login.asp" |
    awk '$6 == "LumarestSession" { print $7 }'
}

portal_memory() {
  awk '/VmRSS|RssAnon|RssFile/ { printf "%s %s kB  ", $1, $2 }' "/proc/$pid/status"
}
