# A private PostgreSQL cluster for tests and benchmarks: Debian's postgresql
# binaries, a data directory under build/, listening on 127.0.0.1 only at a
# port free at the time, with a socket directory of its own, so that several
# source trees can run theirs at once. Run as root, the server runs as the
# "postgres" system user (it refuses to run as root). Source this file.

pg_bin() {
  local d
  d=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -1)
  [ -n "$d" ] && echo "$d"
}

pg_as_owner() {  # command...: as the cluster's owner
  if [ "$(id -u)" -eq 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi
}

free_port() {
  /usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# Starts a cluster in DIR (made afresh) and prints its URL for database NAME.
start_private_postgres() {  # dir name
  local dir=$1 name=$2 bin port try
  bin=$(pg_bin) || { echo "no PostgreSQL binaries (apt-get install postgresql)" >&2; return 1; }
  stop_private_postgres "$dir"
  rm -rf "$dir"
  mkdir -p "$dir"
  [ "$(id -u)" -eq 0 ] && chown postgres: "$dir"
  pg_as_owner "$bin/initdb" -D "$dir/data" -U postgres --auth=trust -E UTF8 --locale=C.UTF-8 \
    >"$dir/initdb.log" 2>&1 || { cat "$dir/initdb.log" >&2; return 1; }
  for try in 1 2 3 4 5; do
    port=$(free_port)
    # fsync stays on: the tests kill workers and expect acknowledged records.
    if pg_as_owner "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 \
         -o "-k $dir -p $port -c listen_addresses=127.0.0.1 -c max_connections=200" start >/dev/null 2>&1; then
      pg_as_owner "$bin/createdb" -h 127.0.0.1 -p "$port" -U postgres "$name" || return 1
      echo "$port" >"$dir/port"
      echo "postgresql://postgres@127.0.0.1:$port/$name"
      return 0
    fi
  done
  echo "PostgreSQL did not start:" >&2
  tail -20 "$dir/server.log" >&2
  return 1
}

stop_private_postgres() {  # dir
  local dir=$1 bin
  bin=$(pg_bin) || return 0
  [ -f "$dir/data/postmaster.pid" ] || return 0
  pg_as_owner "$bin/pg_ctl" -D "$dir/data" -m fast -w stop >/dev/null 2>&1
}
