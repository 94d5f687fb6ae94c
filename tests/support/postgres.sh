#!/usr/bin/env bash
# A private PostgreSQL server for the tests and benchmarks, from Debian's
# server binaries: its own data folder, listening on 127.0.0.1 only on a free
# port, its unix socket in a folder of its own, one database and user with a
# password (scram on the loopback). The connection facts go to
# DIR/conninfo.env, the password to DIR/password (mode 600).
#
# Usage: postgres.sh start DIR   start a new server, or the one DIR has, again
#        postgres.sh halt DIR    stop the server, keeping its data
#        postgres.sh stop DIR    stop the server and remove its data
#
# Run as root (as CI does), the server runs as the user nobody; its data then
# lives under DIR/server when nobody may write DIR, else in a fresh folder
# under /tmp (DIR/root says which).
set -euo pipefail

cmd=${1:-}
dir=${2:-}
if [ -z "$cmd" ] || [ -z "$dir" ]; then
  echo "usage: $0 start|halt|stop DIR" >&2
  exit 2
fi

bindir=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1 || true)
if [ -z "$bindir" ] || [ ! -x "$bindir/initdb" ] || [ ! -x "$bindir/pg_ctl" ]; then
  echo "postgres.sh: PostgreSQL server binaries not found in /usr/lib/postgresql/*/bin (install the package postgresql)" >&2
  exit 1
fi

mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
# The server's programs refuse a working folder they cannot read.
cd /

if [ "$(id -u)" -eq 0 ]; then
  owner=nobody
  as_owner() { runuser -u nobody -- "$@"; }
else
  owner=$(id -un)
  as_owner() { "$@"; }
fi

root=""
[ -f "$dir/root" ] && root=$(cat "$dir/root")
# Only a folder this script made is ever removed.
case "$root" in
  "" | "$dir/server" | /tmp/vk-postgres.*) ;;
  *)
    echo "postgres.sh: $dir/root names $root, which this script did not make; not touching it" >&2
    exit 1
    ;;
esac

running() { [ -n "$root" ] && [ -f "$root/data/PG_VERSION" ] && as_owner "$bindir/pg_ctl" -D "$root/data" status >/dev/null 2>&1; }

halt_server() {
  if running; then
    as_owner "$bindir/pg_ctl" -D "$root/data" -m fast -w -t 30 stop >/dev/null
  fi
}

start_on() {  # port; returns non-zero when the server did not start
  as_owner "$bindir/pg_ctl" -D "$root/data" -l "$root/log" -w -t 30 -o "-p $1" start >/dev/null 2>&1
}

case "$cmd" in
  start)
    if running; then exit 0; fi
    if [ -n "$root" ] && [ -f "$root/data/PG_VERSION" ] && [ -f "$root/port" ]; then
      # The server was halted: the same data on the same port.
      if ! start_on "$(cat "$root/port")"; then
        echo "postgres.sh: the server in $root/data did not start again:" >&2
        tail -n 5 "$root/log" >&2 || true
        exit 1
      fi
      exit 0
    fi
    [ -n "$root" ] && rm -rf "$root"
    if as_owner test -w "$dir" -a -x "$dir"; then
      root="$dir/server"
      rm -rf "$root"
      mkdir -p "$root"
    else
      root=$(mktemp -d /tmp/vk-postgres.XXXXXX)
    fi
    chown "$owner" "$root"
    chmod 700 "$root"
    echo "$root" >"$dir/root"
    password=$(head -c 24 /dev/urandom | base64 | tr -dc 'A-Za-z0-9')
    (umask 077 && printf '%s\n' "$password" >"$dir/password")
    if ! as_owner "$bindir/initdb" -D "$root/data" -U vkadmin -E UTF8 --locale=C \
        --auth-local=trust --auth-host=scram-sha-256 >"$dir/initdb.log" 2>&1; then
      echo "postgres.sh: initdb failed:" >&2
      tail -n 5 "$dir/initdb.log" >&2
      exit 1
    fi
    as_owner mkdir -m 700 "$root/sock"
    as_owner tee -a "$root/data/postgresql.conf" >/dev/null <<CONF
listen_addresses = '127.0.0.1'
unix_socket_directories = '$root/sock'
max_connections = 60
shared_buffers = 32MB
password_encryption = 'scram-sha-256'
CONF
    started=""
    for _ in $(seq 1 20); do
      port=$((20000 + RANDOM % 30000))
      if start_on "$port"; then
        started=$port
        break
      fi
      # Another program has the port: take another; any other failure is final.
      if ! grep -q "could not bind\|Address already in use\|could not create any TCP/IP sockets" "$root/log" 2>/dev/null; then
        break
      fi
    done
    if [ -z "$started" ]; then
      echo "postgres.sh: the server did not start:" >&2
      tail -n 5 "$root/log" >&2 || true
      exit 1
    fi
    as_owner sh -c "echo $started > '$root/port'"
    as_owner "$bindir/psql" -h "$root/sock" -p "$started" -U vkadmin -d postgres -v ON_ERROR_STOP=1 -qAt \
      -c "CREATE ROLE vektra_test LOGIN PASSWORD '$password'" \
      -c "CREATE DATABASE vektra_test OWNER vektra_test" >/dev/null
    cat >"$dir/conninfo.env" <<ENV
VK_PG_HOST=127.0.0.1
VK_PG_PORT=$started
VK_PG_DATABASE=vektra_test
VK_PG_USER=vektra_test
VK_PG_PASSWORD_FILE=$dir/password
ENV
    ;;
  halt)
    halt_server
    ;;
  stop)
    halt_server
    [ -n "$root" ] && rm -rf "$root"
    rm -f "$dir/root" "$dir/conninfo.env" "$dir/password" "$dir/initdb.log"
    ;;
  *)
    echo "usage: $0 start|halt|stop DIR" >&2
    exit 2
    ;;
esac
