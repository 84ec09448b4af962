#!/bin/sh
# Starts a throw-away PostgreSQL server for the plant history's tests and writes its port to
# STATE/port (the data folder to STATE/data). PostgreSQL refuses to run as root, and CI runs
# as root: there the server runs as the "postgres" account of Debian's package.
#   start.sh STATE
set -eu
state=$1
bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
[ -x "$bin/initdb" ] || { echo "start.sh: no PostgreSQL server installed (Debian's postgresql)" >&2; exit 1; }
as_server() {
    if [ "$(id -u)" -eq 0 ]; then
        runuser -u postgres -- "$@"
    else
        "$@"
    fi
}
rm -rf "$state"
mkdir -p "$state"
data=$(mktemp -d "${TMPDIR:-/tmp}/quillet-postgres.XXXXXX")
[ "$(id -u)" -eq 0 ] && chown postgres "$data"
as_server "$bin/initdb" -D "$data/cluster" -U postgres -E UTF8 --locale=C --auth=trust >"$data/initdb.log"
# A free port: another server may hold the one drawn, and then starting fails and another is drawn.
attempt=0
while :; do
    port=$((20000 + $(od -An -N2 -tu2 /dev/urandom | tr -d ' ') % 40000))
    if as_server "$bin/pg_ctl" -D "$data/cluster" -l "$data/server.log" -w -t 30 \
        -o "-p $port -c listen_addresses=127.0.0.1 -c unix_socket_directories=$data -c fsync=off -c max_connections=50" \
        start >/dev/null; then
        break
    fi
    attempt=$((attempt + 1))
    [ $attempt -lt 10 ] || { cat "$data/server.log" >&2; exit 1; }
done
echo "$data" >"$state/data"
echo "$port" >"$state/port"
echo "PostgreSQL $("$bin/postgres" --version | awk '{print $3}') on 127.0.0.1:$port, data in $data"
