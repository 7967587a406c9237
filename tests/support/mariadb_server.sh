#!/bin/sh
# A private MariaDB server for the tests, everything in one folder: data in
# DIR/data, socket DIR/mysqld.sock, TCP on 127.0.0.1 at the port written to
# DIR/port. Account root without password. No system service is touched.
#
#   mariadb_server.sh start DIR   creates the data when missing, starts the
#                                 server and returns once it answers
#   mariadb_server.sh stop DIR    stops it and returns once it is gone
#   mariadb_server.sh available   exit status 0 when the server binaries exist
set -eu

. "$(dirname "$0")/mariadb_common.sh"

as_user=""
if [ "$(id -u)" -eq 0 ]; then
  as_user="--user=root"
fi

answers() {
  "$ADMIN" --no-defaults --socket="$1/mysqld.sock" -uroot --connect-timeout=2 ping >/dev/null 2>&1
}

running_pid() {
  live_pid "$1/mysqld.pid"
}

install_data() {
  dir=$1
  [ -d "$dir/data/mysql" ] && return 0
  # Its own temporary folder: installs running side by side in one /tmp
  # trip over each other's scratch files.
  if ! "$INSTALL_DB" --no-defaults $as_user --datadir="$dir/data" --tmpdir="$dir" \
    --auth-root-authentication-method=normal --skip-test-db >"$dir/install.log" 2>&1; then
    cat "$dir/install.log" >&2
    echo "mariadb_server.sh: mariadb-install-db failed" >&2
    exit 1
  fi
}

# Starts the server on `port`; 0 once it answers, 1 when it died (the port
# may be taken), 2 when it neither answered nor died in time.
try_start() {
  dir=$1 port=$2
  "$MARIADBD" --no-defaults $as_user --datadir="$dir/data" --socket="$dir/mysqld.sock" \
    --port="$port" --bind-address=127.0.0.1 --pid-file="$dir/mysqld.pid" \
    --log-error="$dir/error.log" --tmpdir="$dir" --skip-log-bin --skip-name-resolve \
    --innodb-buffer-pool-size=64M --innodb-log-file-size=32M \
    --innodb-flush-log-at-trx-commit=2 --max-connections=500 >/dev/null 2>&1 &
  child=$!
  i=0
  while [ $i -lt 600 ]; do
    if answers "$dir"; then
      echo "$port" >"$dir/port"
      return 0
    fi
    if ! alive "$child"; then
      return 1
    fi
    sleep 0.1
    i=$((i + 1))
  done
  return 2
}

start() {
  dir=$1
  mkdir -p "$dir"
  install_data "$dir"
  if running_pid "$dir" >/dev/null && answers "$dir"; then
    return 0
  fi
  # A port of its own: derived from the process id, another one when taken.
  port=$((20000 + $$ % 20000))
  if [ -f "$dir/port" ]; then
    port=$(cat "$dir/port")
  fi
  tries=0
  while [ $tries -lt 8 ]; do
    rc=0
    try_start "$dir" "$port" || rc=$?
    [ $rc -eq 0 ] && return 0
    if [ $rc -eq 2 ]; then
      break
    fi
    port=$((20000 + (port + 7919) % 20000))
    tries=$((tries + 1))
  done
  tail -n 30 "$dir/error.log" >&2 2>/dev/null || true
  echo "mariadb_server.sh: the server in $dir did not start" >&2
  stop "$dir"
  exit 1
}

stop() {
  dir=$1
  pid=$(running_pid "$dir" || true)
  [ -n "$pid" ] || return 0
  kill "$pid" 2>/dev/null || true
  wait_for_exit "$pid"
}

case "${1:-}" in
  available)
    [ -n "$MARIADBD" ] && [ -n "$INSTALL_DB" ] && [ -n "$ADMIN" ]
    ;;
  start | stop)
    [ $# -eq 2 ] || { echo "usage: $0 start|stop DIR" >&2; exit 2; }
    if [ "$1" = start ] && { [ -z "$MARIADBD" ] || [ -z "$INSTALL_DB" ] || [ -z "$ADMIN" ]; }; then
      echo "mariadb_server.sh: no MariaDB server binaries (mariadbd, mariadb-install-db, mariadb-admin)" >&2
      exit 1
    fi
    "$1" "$2"
    ;;
  *)
    echo "usage: $0 start DIR | stop DIR | available" >&2
    exit 2
    ;;
esac
