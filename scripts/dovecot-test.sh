#!/bin/sh
# Starts or stops a private Dovecot IMAP server for the mail-library tests.
#   dovecot-test.sh start DIR PORT   -> IMAP on 127.0.0.1:PORT, data under DIR
#   dovecot-test.sh stop DIR
# Users (passwd-file, plain passwords): "alice" and "bob" / "secret", and the
# master user "admin" / "masterpw" (log in as "alice*admin"). Mail lives in
# DIR/mail/<user> as Maildir, owned by the user running this script. Trash,
# Sent and Drafts carry SPECIAL-USE marks ("Deleted Items", "Sent Messages",
# "Drafts"); CONDSTORE and QRESYNC are on, as Dovecot offers them by default.
set -eu
PATH="$PATH:/usr/sbin:/sbin"
cmd=${1:-}
dir=${2:-}
[ -n "$cmd" ] && [ -n "$dir" ] || { echo "usage: $0 start|stop DIR [PORT]" >&2; exit 2; }
case "$cmd" in
start)
  port=${3:?port}
  command -v dovecot >/dev/null 2>&1 || { echo "dovecot not installed" >&2; exit 3; }
  mkdir -p "$dir/run" "$dir/mail" "$dir/log"
  uid=$(id -u); gid=$(id -g); user=$(id -un); group=$(id -gn)
  # Login processes never run as root: under root they use Dovecot's own
  # unprivileged users, and authentication stays with root to read DIR.
  login_user=$user; internal_user=$user; internal_group=$group; auth_user=$user
  if [ "$uid" = 0 ]; then
    login_user=dovenull; internal_user=dovecot; internal_group=dovecot; auth_user=root
    # Nor does mail: the users' mail belongs to the dovecot account then.
    uid=$(id -u dovecot); gid=$(id -g dovecot)
    chmod 755 "$dir"
    chown -R "$uid:$gid" "$dir/mail"
  fi
  cat > "$dir/passwd" <<PW
alice:{PLAIN}secret:$uid:$gid::$dir/mail/alice::
bob:{PLAIN}secret:$uid:$gid::$dir/mail/bob::
PW
  cat > "$dir/masters" <<PW
admin:{PLAIN}masterpw
PW
  cat > "$dir/dovecot.conf" <<CONF
base_dir = $dir/run
state_dir = $dir/run
log_path = $dir/log/dovecot.log
instance_name = lumarest-test-$port
protocols = imap
listen = 127.0.0.1
ssl = no
disable_plaintext_auth = no
auth_mechanisms = plain login
auth_failure_delay = 0
auth_master_user_separator = *
default_internal_user = $internal_user
default_internal_group = $internal_group
default_login_user = $login_user
first_valid_uid = 0
first_valid_gid = 0
mail_location = maildir:~/Maildir
# Only Dovecot changes these Maildirs once it runs: without this it rescans
# cur/ on every command (0.5 to 3 s per STATUS on a new 10,000-message folder
# measured on the build machine).
maildir_very_dirty_syncs = yes
mail_uid = $uid
mail_gid = $gid
namespace inbox {
  inbox = yes
  separator = /
  # Named unlike the mail library's defaults: clients must go by SPECIAL-USE.
  mailbox "Deleted Items" {
    auto = create
    special_use = \\Trash
  }
  mailbox "Sent Messages" {
    auto = create
    special_use = \\Sent
  }
  mailbox Drafts {
    auto = create
    special_use = \\Drafts
  }
}
passdb {
  driver = passwd-file
  args = scheme=PLAIN $dir/masters
  master = yes
  result_success = continue
}
passdb {
  driver = passwd-file
  args = scheme=PLAIN $dir/passwd
}
userdb {
  driver = passwd-file
  args = $dir/passwd
}
service imap-login {
  inet_listener imap {
    address = 127.0.0.1
    port = $port
  }
  inet_listener imaps {
    port = 0
  }
  chroot =
  user = $login_user
}
service anvil {
  chroot =
  # No growing delay after failed logins (the tests fail some on purpose).
  unix_listener anvil-auth-penalty {
    mode = 0
  }
}
service auth {
  user = $auth_user
}
service auth-worker {
  user = $auth_user
}
service stats {
  chroot =
}
CONF
  # Detached from the caller's output, so that a test runner waiting for
  # its test's output to end is not held by the server.
  dovecot -c "$dir/dovecot.conf" </dev/null >/dev/null 2>&1
  # Ready when the port answers (bounded wait).
  i=0
  while [ $i -lt 50 ]; do
    if (exec 3<>/dev/tcp/127.0.0.1/$port) 2>/dev/null; then exit 0; fi
    if command -v bash >/dev/null && bash -c "exec 3<>/dev/tcp/127.0.0.1/$port" 2>/dev/null; then exit 0; fi
    i=$((i + 1)); sleep 0.1
  done
  echo "dovecot did not start; see $dir/log/dovecot.log" >&2
  exit 1
  ;;
stop)
  if [ -f "$dir/dovecot.conf" ]; then
    # A signal to the master rather than "doveadm stop", which waits
    # seconds longer than the master takes to close the port and go.
    [ -f "$dir/run/master.pid" ] && kill -TERM "$(cat "$dir/run/master.pid")" 2>/dev/null || true
    # Wait (bounded) for the master process to go.
    i=0
    while [ $i -lt 50 ] && [ -f "$dir/run/master.pid" ] && kill -0 "$(cat "$dir/run/master.pid")" 2>/dev/null; do
      i=$((i + 1)); sleep 0.1
    done
  fi
  ;;
*)
  echo "usage: $0 start|stop DIR [PORT]" >&2; exit 2 ;;
esac
