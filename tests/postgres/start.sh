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
# TLS for the rows that check the server's certificate: a plant authority that signs the
# server's certificate (for 127.0.0.1), and another authority that did not. The tests find
# them as STATE/ca.crt and STATE/other-ca.crt; without openssl there are none, and those rows
# are skipped.
tls_options=
if command -v openssl >/dev/null 2>&1; then
    tls=$data/tls
    mkdir -p "$tls"
    make_authority() {
        openssl req -x509 -newkey rsa:2048 -nodes -days 3 -subj "/CN=$2" -keyout "$tls/$1.key" \
            -out "$tls/$1.crt" >/dev/null 2>&1
    }
    make_authority ca "Quillet test plant CA"
    make_authority other-ca "Another CA"
    openssl req -newkey rsa:2048 -nodes -subj "/CN=127.0.0.1" -keyout "$tls/server.key" \
        -out "$tls/server.csr" >/dev/null 2>&1
    printf 'subjectAltName=IP:127.0.0.1\nbasicConstraints=CA:FALSE\n' >"$tls/server.ext"
    openssl x509 -req -in "$tls/server.csr" -CA "$tls/ca.crt" -CAkey "$tls/ca.key" -CAcreateserial \
        -days 3 -extfile "$tls/server.ext" -out "$tls/server.crt" >/dev/null 2>&1
    chmod 600 "$tls/server.key"
    [ "$(id -u)" -eq 0 ] && chown -R postgres "$tls"
    tls_options="-c ssl=on -c ssl_cert_file=$tls/server.crt -c ssl_key_file=$tls/server.key"
fi
# A free port: another server may hold the one drawn, and then starting fails and another is drawn.
attempt=0
while :; do
    port=$((20000 + $(od -An -N2 -tu2 /dev/urandom | tr -d ' ') % 40000))
    if as_server "$bin/pg_ctl" -D "$data/cluster" -l "$data/server.log" -w -t 30 \
        -o "-p $port -c listen_addresses=127.0.0.1 -c unix_socket_directories=$data -c fsync=off -c max_connections=50 $tls_options" \
        start >/dev/null; then
        break
    fi
    attempt=$((attempt + 1))
    [ $attempt -lt 10 ] || { cat "$data/server.log" >&2; exit 1; }
done
echo "$data" >"$state/data"
echo "$port" >"$state/port"
if [ -n "$tls_options" ]; then
    cp "$tls/ca.crt" "$tls/other-ca.crt" "$state/"
fi
echo "PostgreSQL $("$bin/postgres" --version | awk '{print $3}') on 127.0.0.1:$port, data in $data"
