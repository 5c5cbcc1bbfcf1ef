#!/usr/bin/env bash
# A PostgreSQL server of a test's own, from Debian's packages: initdb in a scratch directory
# under /tmp, listening on a Unix socket there only (no TCP port, so that test runs on one
# machine never meet), run as an unprivileged user when the test runs as root (the server
# refuses to run as root). STATE names a file in the test's own directory that remembers where.
#
#   pg_scratch.sh start STATE     prints a connection string; exit 77 without the binaries
#   pg_scratch.sh stop STATE      fast shutdown: sessions are ended, the data stays
#   pg_scratch.sh restart STATE   starts the stopped server again
#   pg_scratch.sh destroy STATE   stops it and removes its directory
set -euo pipefail

command=${1:?usage: pg_scratch.sh start|stop|restart|destroy STATE}
state=${2:?usage: pg_scratch.sh start|stop|restart|destroy STATE}

bindir=
for dir in "$(pg_config --bindir 2>/dev/null || true)" /usr/lib/postgresql/*/bin; do
  if [ -n "$dir" ] && [ -x "$dir/initdb" ] && [ -x "$dir/pg_ctl" ]; then
    bindir=$dir
  fi
done
if [ -z "$bindir" ]; then
  echo "pg_scratch: no PostgreSQL server binaries (initdb, pg_ctl): install postgresql" >&2
  exit 77
fi

# root runs the server as the packages' own user, or as nobody.
as_server=()
if [ "$(id -u)" -eq 0 ]; then
  user=postgres
  id -u "$user" >/dev/null 2>&1 || user=nobody
  as_server=(runuser -u "$user" --)
fi

ctl() {
  local root=$1
  shift
  "${as_server[@]}" "$bindir/pg_ctl" -D "$root/data" -l "$root/server.log" "$@"
}

case "$command" in
  start)
    root=$(mktemp -d /tmp/quorvel-pg.XXXXXX)
    echo "$root" >"$state"
    if [ ${#as_server[@]} -gt 0 ]; then
      chown "$user" "$root"
    fi
    "${as_server[@]}" "$bindir/initdb" -D "$root/data" -U quorvel -A trust -E UTF8 \
      --locale=C --no-sync >"$root/initdb.log" 2>&1 || { cat "$root/initdb.log" >&2; exit 1; }
    # A small server: the tests open a few connections at most.
    cat >>"$root/data/postgresql.conf" <<CONF
listen_addresses = ''
unix_socket_directories = '$root'
max_connections = 30
shared_buffers = 16MB
CONF
    ctl "$root" -w -t 60 start >/dev/null || { cat "$root/server.log" >&2; exit 1; }
    echo "host=$root port=5432 user=quorvel dbname=postgres"
    ;;
  stop)
    ctl "$(cat "$state")" -w -m fast stop >/dev/null
    ;;
  restart)
    root=$(cat "$state")
    ctl "$root" -w -t 60 start >/dev/null || { cat "$root/server.log" >&2; exit 1; }
    ;;
  destroy)
    [ -f "$state" ] || exit 0
    root=$(cat "$state")
    ctl "$root" -w -m immediate stop >/dev/null 2>&1 || true
    rm -rf "$root" "$state"
    ;;
  *)
    echo "pg_scratch: unknown command $command" >&2
    exit 2
    ;;
esac
