#!/bin/sh
# Stops the server start.sh started and removes its data.
#   stop.sh STATE
set -u
state=$1
[ -f "$state/data" ] || exit 0
data=$(cat "$state/data")
bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
if [ "$(id -u)" -eq 0 ]; then
    runuser -u postgres -- "$bin/pg_ctl" -D "$data/cluster" -m immediate stop >/dev/null
else
    "$bin/pg_ctl" -D "$data/cluster" -m immediate stop >/dev/null
fi
rm -rf "$data" "$state"
