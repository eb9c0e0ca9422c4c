#!/usr/bin/env bash
# A private PostgreSQL server for the archive tests and benchmark: in a
# temporary folder, on a Unix socket only, run by an unprivileged user (the
# server refuses to run as root; as root the system user climalog-pg is
# created and used).
#   testdb.sh run COMMAND...   starts a server, runs COMMAND with PGHOST,
#                              PGPORT and PGUSER set for it, stops the server
#                              and returns COMMAND's status. When the server
#                              cannot start, COMMAND still runs, and the
#                              archive tests fail saying why.
#   testdb.sh stop [immediate] | start
#                              stops (fast, or at once as a crash would) or
#                              starts again the server of the run this
#                              process is part of (the tests use it)
set -euo pipefail

bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -1)
user=climalog-pg

as_owner() {
  if [ "$(id -u)" -eq 0 ]; then
    runuser -u "$user" -- "$@"
  else
    "$@"
  fi
}

start() {
  as_owner "$bin/pg_ctl" -D "$CLIMALOG_TEST_PG_DIR/data" -l "$CLIMALOG_TEST_PG_DIR/server.log" -w -t 60 \
    -o "-c listen_addresses='' -c unix_socket_directories='$CLIMALOG_TEST_PG_DIR' -c port=5432" start >/dev/null
}

stop() {
  as_owner "$bin/pg_ctl" -D "$CLIMALOG_TEST_PG_DIR/data" -m "${1:-fast}" -w stop >/dev/null
}

case "${1:-}" in
  start) start; exit 0 ;;
  stop) stop "${2:-fast}"; exit 0 ;;
  run) shift ;;
  *) echo "usage: $0 run COMMAND... | start | stop" >&2; exit 2 ;;
esac

dir=$(mktemp -d /tmp/climalog-pg-XXXXXX)
export CLIMALOG_TEST_PG_DIR=$dir
export CLIMALOG_TEST_PG_CTL="$(cd "$(dirname "$0")" && pwd)/$(basename "$0")"
export PGHOST=$dir PGPORT=5432 PGUSER=climalog PGDATABASE=postgres
if [ "$(id -u)" -eq 0 ]; then
  id -u "$user" >/dev/null 2>&1 || useradd --system --no-create-home --shell /usr/sbin/nologin "$user"
  chown "$user" "$dir"
fi
# Reachable by the tests whoever runs them; the server's data stays its own.
chmod 755 "$dir"

started=0
if [ -z "$bin" ]; then
  echo "PostgreSQL is not installed (scripts/setup.sh installs it): the archive tests will fail." >&2
  echo "PostgreSQL is not installed" >"$dir/server.log"
elif as_owner "$bin/initdb" -D "$dir/data" -U climalog -A trust -E UTF8 --locale=C --no-sync >"$dir/initdb.log" 2>&1 && start; then
  started=1
else
  echo "The private PostgreSQL server did not start; the archive tests will fail. Its log:" >&2
  cat "$dir/initdb.log" "$dir/server.log" 2>/dev/null | tail -20 >&2 || true
fi

status=0
"$@" || status=$?
if [ "$started" -eq 1 ]; then
  stop || true
fi
rm -rf "$dir"
exit "$status"
