# Shared by mariadb_server.sh and galera_cluster.sh (sourced, not run):
# where the server's programs are, and whether a process still runs.

find_bin() {
  for name in "$@"; do
    for where in "$(command -v "$name" 2>/dev/null || true)" "/usr/sbin/$name" "/usr/bin/$name"; do
      if [ -n "$where" ] && [ -x "$where" ]; then
        echo "$where"
        return 0
      fi
    done
  done
  return 1
}

MARIADBD=$(find_bin mariadbd mysqld || true)
INSTALL_DB=$(find_bin mariadb-install-db mysql_install_db || true)
ADMIN=$(find_bin mariadb-admin mysqladmin || true)

# A stopped server may linger as a zombie when nobody reaps it.
alive() {
  kill -0 "$1" 2>/dev/null || return 1
  state=$(sed -n 's/^State:[[:space:]]*\([A-Z]\).*/\1/p' "/proc/$1/status" 2>/dev/null || true)
  [ "$state" != Z ]
}

# The pid written in file $1 while that process still runs.
live_pid() {
  pid=$(cat "$1" 2>/dev/null || true)
  [ -n "$pid" ] && alive "$pid" && echo "$pid"
}

# Waits for process $1 to end: a minute at most, then kill -9.
wait_for_exit() {
  i=0
  while alive "$1"; do
    if [ $i -ge 600 ]; then
      kill -9 "$1" 2>/dev/null || true
      break
    fi
    sleep 0.1
    i=$((i + 1))
  done
}
