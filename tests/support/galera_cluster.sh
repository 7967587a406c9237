#!/bin/sh
# A private three-node MariaDB Galera cluster for the tests, everything in
# one folder DIR: node N keeps its data, socket (DIR/nodeN/mysqld.sock),
# settings and log in DIR/nodeN and listens on 127.0.0.1 only. The client
# addresses, "127.0.0.1:port" joined by ',', are written to DIR/hosts. The
# servers run as the `mysql` user (the rsync state transfer drops to
# `nobody` and must read and write the data), so DIR is handed to it.
# Account root without password. No system service is touched.
#
#   galera_cluster.sh start DIR      bootstraps node 1, joins 2 and 3; returns
#                                    once all three are synced
#   galera_cluster.sh stop DIR       stops every node and returns once gone
#   galera_cluster.sh kill N DIR     kill -9 of node N
#   galera_cluster.sh restart N DIR  starts node N again (after a kill, from
#                                    its recovered position) and returns once
#                                    it is synced
#   galera_cluster.sh available      exit status 0 when a cluster can run here
set -eu

PROVIDER=${SCAT_GALERA_PROVIDER:-/usr/lib/galera/libgalera_smm.so}

. "$(dirname "$0")/mariadb_common.sh"
CLIENT=$(find_bin mariadb mysql || true)
RSYNC=$(find_bin rsync || true)

available() {
  [ -n "$MARIADBD" ] && [ -n "$INSTALL_DB" ] && [ -n "$ADMIN" ] && [ -n "$CLIENT" ] &&
    [ -n "$RSYNC" ] && [ -r "$PROVIDER" ] && id mysql >/dev/null 2>&1
}

node_pid() {
  live_pid "$1/node$2/mysqld.pid"
}

status_of() {
  "$CLIENT" --no-defaults --socket="$1/node$2/mysqld.sock" -uroot --connect-timeout=2 -N -B \
    -e "SHOW STATUS LIKE '$3'" 2>/dev/null | cut -f2
}

synced() {
  [ "$(status_of "$1" "$2" wsrep_local_state_comment)" = Synced ] &&
    [ "$(status_of "$1" "$2" wsrep_ready)" = ON ]
}

port_taken() {
  ss -Htln 2>/dev/null | awk '{print $4}' | grep -q ":$1\$"
}

# Twelve consecutive free ports (four per node) from a base derived from
# the process id.
pick_ports() {
  base=$((21000 + ($$ * 13) % 20000))
  tries=0
  while [ $tries -lt 50 ]; do
    free=1
    p=$base
    while [ $p -lt $((base + 12)) ]; do
      if port_taken $p; then
        free=0
        break
      fi
      p=$((p + 1))
    done
    if [ $free -eq 1 ]; then
      echo $base
      return 0
    fi
    base=$((21000 + (base + 997) % 20000))
    tries=$((tries + 1))
  done
  echo "galera_cluster.sh: no free ports" >&2
  exit 1
}

client_port() { echo $(($(cat "$1/base") + ($2 - 1) * 4)); }
gcomm_port() { echo $(($(cat "$1/base") + ($2 - 1) * 4 + 1)); }

write_config() {
  dir=$1 n=$2
  base=$(cat "$dir/base")
  p=$((base + (n - 1) * 4))
  members="$(gcomm_port "$dir" 1),$(gcomm_port "$dir" 2),$(gcomm_port "$dir" 3)"
  members=$(echo "$members" | sed 's/\([0-9]*\)/127.0.0.1:\1/g')
  cat >"$dir/node$n/my.cnf" <<EOF
[mysqld]
user=mysql
datadir=$dir/node$n/data
socket=$dir/node$n/mysqld.sock
port=$p
bind-address=127.0.0.1
pid-file=$dir/node$n/mysqld.pid
log-error=$dir/node$n/error.log
tmpdir=$dir/node$n/tmp
skip-name-resolve
skip-log-bin
max-connections=300
innodb-buffer-pool-size=32M
innodb-log-file-size=16M
innodb-flush-log-at-trx-commit=2
binlog-format=ROW
default-storage-engine=InnoDB
innodb-autoinc-lock-mode=2
wsrep-on=ON
wsrep-provider=$PROVIDER
wsrep-cluster-name=scat_test_$base
wsrep-cluster-address=gcomm://$members
wsrep-node-name=node$n
wsrep-node-address=127.0.0.1:$((p + 1))
wsrep-sst-method=rsync
wsrep-sst-receive-address=127.0.0.1:$((p + 3))
wsrep-provider-options=gmcast.listen_addr=tcp://127.0.0.1:$((p + 1));ist.recv_addr=127.0.0.1:$((p + 2));gcache.size=32M;evs.suspect_timeout=PT3S;evs.inactive_timeout=PT6S;evs.install_timeout=PT6S
wsrep-mode=REQUIRED_PRIMARY_KEY
wsrep-slave-threads=2
EOF
}

# Starts node N with `extra` options; returns once it is synced, 1 when it
# died or did not sync within a minute.
start_node() {
  dir=$1 n=$2
  shift 2
  rm -f "$dir/node$n/mysqld.sock"
  "$MARIADBD" --defaults-file="$dir/node$n/my.cnf" "$@" >>"$dir/node$n/console.log" 2>&1 &
  child=$!
  i=0
  while [ $i -lt 600 ]; do
    if synced "$dir" "$n"; then
      return 0
    fi
    if ! alive "$child"; then
      break
    fi
    sleep 0.1
    i=$((i + 1))
  done
  tail -n 30 "$dir/node$n/error.log" >&2 2>/dev/null || true
  echo "galera_cluster.sh: node $n in $dir did not join the cluster" >&2
  return 1
}

start() {
  dir=$1
  mkdir -p "$dir"
  if [ -f "$dir/hosts" ] && node_pid "$dir" 1 >/dev/null && synced "$dir" 1; then
    return 0
  fi
  pick_ports >"$dir/base"
  for n in 1 2 3; do
    mkdir -p "$dir/node$n/data" "$dir/node$n/tmp"
    write_config "$dir" $n
  done
  chown -R mysql:mysql "$dir"
  chmod 0755 "$dir"
  if ! "$INSTALL_DB" --defaults-file="$dir/node1/my.cnf" --wsrep-on=OFF \
    --auth-root-authentication-method=normal --skip-test-db >"$dir/install.log" 2>&1; then
    cat "$dir/install.log" >&2
    echo "galera_cluster.sh: mariadb-install-db failed" >&2
    exit 1
  fi
  start_node "$dir" 1 --wsrep-new-cluster || { stop "$dir"; exit 1; }
  # Joiners come one after the other: two state transfers at once from one
  # donor are slower than two in a row.
  for n in 2 3; do
    start_node "$dir" $n || { stop "$dir"; exit 1; }
  done
  echo "127.0.0.1:$(client_port "$dir" 1),127.0.0.1:$(client_port "$dir" 2),127.0.0.1:$(client_port "$dir" 3)" \
    >"$dir/hosts"
}

stop_node() {
  pid=$(node_pid "$1" "$2" || true)
  [ -n "$pid" ] || return 0
  kill "$pid" 2>/dev/null || true
}

wait_gone() {
  pid=$(node_pid "$1" "$2" || true)
  [ -n "$pid" ] || return 0
  wait_for_exit "$pid"
}

stop() {
  dir=$1
  for n in 3 2 1; do
    stop_node "$dir" $n
  done
  for n in 3 2 1; do
    wait_gone "$dir" $n
  done
}

kill_node() {
  n=$1 dir=$2
  pid=$(node_pid "$dir" "$n" || true)
  [ -n "$pid" ] || return 0
  kill -9 "$pid"
  while alive "$pid"; do
    sleep 0.05
  done
}

restart_node() {
  n=$1 dir=$2
  if node_pid "$dir" "$n" >/dev/null; then
    return 0
  fi
  # A node that went down hard knows its last position only after a
  # recovery pass; with it the node catches up by incremental transfer.
  "$MARIADBD" --defaults-file="$dir/node$n/my.cnf" --wsrep-recover \
    --log-error="$dir/node$n/recover.log" >/dev/null 2>&1 || true
  position=$(sed -n 's/.*WSREP: Recovered position: *\([^ ]*\).*/\1/p' "$dir/node$n/recover.log" |
    tail -n 1)
  rm -f "$dir/node$n/recover.log"
  if [ -n "$position" ]; then
    start_node "$dir" "$n" --wsrep-start-position="$position"
  else
    start_node "$dir" "$n"
  fi
}

usage() {
  echo "usage: $0 start DIR | stop DIR | kill N DIR | restart N DIR | available" >&2
  exit 2
}

node_number() {
  case "$1" in
    1 | 2 | 3) ;;
    *) usage ;;
  esac
}

case "${1:-}" in
  available)
    available
    ;;
  start | stop)
    [ $# -eq 2 ] || usage
    if [ "$1" = start ] && ! available; then
      echo "galera_cluster.sh: no Galera provider, MariaDB server binaries, rsync or mysql user" >&2
      exit 1
    fi
    "$1" "$2"
    ;;
  kill)
    [ $# -eq 3 ] || usage
    node_number "$2"
    kill_node "$2" "$3"
    ;;
  restart)
    [ $# -eq 3 ] || usage
    node_number "$2"
    restart_node "$2" "$3"
    ;;
  *)
    usage
    ;;
esac
