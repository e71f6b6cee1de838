#!/usr/bin/env bash
# A throwaway PostgreSQL server for the history tests:
#   pg_server.sh start DIR   initdb into DIR/data, listen only on a Unix socket
#                            in DIR, create the database "vantor"
#   pg_server.sh stop DIR    stop it and remove DIR
# As root the server runs as the "postgres" user of the Debian package, since
# PostgreSQL refuses to run as root. The tests connect as that same role.
set -euo pipefail

action=$1
dir=$2
bin=${PG_BIN:-/usr/lib/postgresql/15/bin}

as_server_user() {
  if [[ $(id -u) -eq 0 ]]; then
    runuser -u postgres -- "$@"
  else
    "$@"
  fi
}

stop() {
  if [[ -f "$dir/data/postmaster.pid" ]]; then
    as_server_user "$bin/pg_ctl" -D "$dir/data" -m immediate -w stop >/dev/null 2>&1 || true
  fi
  rm -rf "$dir"
}

case "$action" in
  start)
    stop  # whatever a killed run left behind
    mkdir -p "$dir"
    if [[ $(id -u) -eq 0 ]]; then
      chown postgres: "$dir"
    fi
    as_server_user "$bin/initdb" -D "$dir/data" -U postgres -A trust --no-sync \
      --no-instructions -E UTF8 --locale=C.UTF-8 >"$dir/initdb.log" 2>&1 ||
      { cat "$dir/initdb.log"; exit 1; }
    # Durability is not what these tests measure on the server side; the
    # store's own crash test runs against SQLite.
    as_server_user "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 30 \
      -o "-c listen_addresses='' -c unix_socket_directories='$dir' -c fsync=off \
          -c synchronous_commit=off -c full_page_writes=off -c max_connections=40" \
      start >/dev/null || { cat "$dir/server.log"; exit 1; }
    as_server_user "$bin/createdb" -h "$dir" -U postgres vantor
    ;;
  stop)
    stop
    ;;
  *)
    echo "usage: $0 start|stop DIR" >&2
    exit 2
    ;;
esac
