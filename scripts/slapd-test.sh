#!/bin/sh
# Starts or stops a private OpenLDAP server for the mail-library tests.
#   slapd-test.sh start DIR PORT [LDIF]  -> LDAP on 127.0.0.1:PORT, data under DIR
#   slapd-test.sh stop DIR
# Suffix "dc=example,dc=org"; the administrator "cn=admin,dc=example,dc=org"
# with password "secret" may write; everyone may read. LDIF, when given, is
# loaded (slapadd) before the server starts; it must not contain the suffix
# entry, which the script adds itself.
set -eu
PATH="$PATH:/usr/sbin:/sbin"
cmd=${1:-}
dir=${2:-}
[ -n "$cmd" ] && [ -n "$dir" ] || { echo "usage: $0 start|stop DIR [PORT [LDIF]]" >&2; exit 2; }
case "$cmd" in
start)
  port=${3:?port}
  ldif=${4:-}
  command -v slapd >/dev/null 2>&1 || { echo "slapd not installed" >&2; exit 3; }
  schema=/etc/ldap/schema
  modules=/usr/lib/ldap
  [ -f "$schema/inetorgperson.schema" ] || { echo "OpenLDAP schema files missing in $schema" >&2; exit 3; }
  mkdir -p "$dir/db" "$dir/run"
  cat > "$dir/slapd.conf" <<CONF
include $schema/core.schema
include $schema/cosine.schema
include $schema/inetorgperson.schema
pidfile $dir/run/slapd.pid
argsfile $dir/run/slapd.args
modulepath $modules
moduleload back_mdb
database mdb
maxsize 16777216
suffix "dc=example,dc=org"
rootdn "cn=admin,dc=example,dc=org"
rootpw secret
directory $dir/db
access to * by * read
CONF
  {
    printf 'dn: dc=example,dc=org\nobjectClass: dcObject\nobjectClass: organization\ndc: example\no: Example\n\n'
    if [ -n "$ldif" ]; then cat "$ldif"; printf '\n'; fi
  } > "$dir/data.ldif"
  slapadd -q -f "$dir/slapd.conf" -l "$dir/data.ldif" > "$dir/slapadd.log" 2>&1 || {
    cat "$dir/slapadd.log" >&2; exit 1; }
  # Never as root: under root the server drops to the openldap account.
  run_as=
  if [ "$(id -u)" = 0 ]; then
    chown -R openldap:openldap "$dir/db" "$dir/run"
    chmod 755 "$dir"
    run_as="-u openldap -g openldap"
  fi
  # shellcheck disable=SC2086
  slapd -f "$dir/slapd.conf" -h "ldap://127.0.0.1:$port/" $run_as -s 0 -d 0 > "$dir/slapd.log" 2>&1 &
  # Ready when the port answers (bounded wait).
  i=0
  while [ $i -lt 100 ]; do
    if ldapsearch -x -H "ldap://127.0.0.1:$port/" -b "dc=example,dc=org" -s base -l 1 >/dev/null 2>&1; then
      exit 0
    fi
    i=$((i + 1)); sleep 0.1
  done
  echo "slapd did not start; see $dir/slapd.log" >&2
  exit 1
  ;;
stop)
  pidfile="$dir/run/slapd.pid"
  if [ -f "$pidfile" ]; then
    pid=$(cat "$pidfile")
    kill "$pid" 2>/dev/null || true
    # Wait (bounded) for the server to go; gone once it is a zombie, which
    # the init process may take its time to reap.
    i=0
    while [ $i -lt 50 ] && kill -0 "$pid" 2>/dev/null && ! grep -q '^State:.*zombie' "/proc/$pid/status" 2>/dev/null; do
      i=$((i + 1)); sleep 0.1
    done
  fi
  ;;
*)
  echo "usage: $0 start|stop DIR [PORT [LDIF]]" >&2; exit 2 ;;
esac
