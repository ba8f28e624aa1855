#!/usr/bin/env bash
# A throwaway PostgreSQL cluster for the tests.
#
#   scripts/pg-cluster.sh run CMD [ARG...]   start a cluster, run CMD with
#                                            ZEMBRA_TEST_DATABASE_URL set, stop it
#                                            (also when CMD fails or is interrupted)
#   eval "$(scripts/pg-cluster.sh start)"    start one and export its variables
#   scripts/pg-cluster.sh stop [DIR]         stop it and remove DIR (default:
#                                            $ZEMBRA_TEST_PG_DIR)
#
# The cluster lives in a fresh temporary directory and listens only on a Unix
# socket inside it: no TCP port to collide with, and only its owner (and root)
# can reach the socket, which is why local connections need no password. The
# server refuses to run as root, so under root it runs as `postgres` (or
# ZEMBRA_PG_USER; an unprivileged `zembra-pg` user is created when neither
# exists). Tests connect as role `zembra_test` (may create databases, for
# Django's test runner) to database `zembra_test`.
#
# Binaries: ZEMBRA_PG_BINDIR, else the newest /usr/lib/postgresql/*/bin, else
# PATH. When none is found, or ZEMBRA_SKIP_POSTGRES=1, `run` prints why and
# exits 0 without running CMD, and `start` exits 77.
set -euo pipefail

ROLE=zembra_test
DATABASE=zembra_test
ADMIN=zembra_admin
PORT=5432 # only names the socket file; nothing listens on TCP

die() { echo "pg-cluster: $*" >&2; exit 1; }

find_bindir() {
  local dir
  if [[ -n "${ZEMBRA_PG_BINDIR:-}" ]]; then
    [[ -x "$ZEMBRA_PG_BINDIR/initdb" && -x "$ZEMBRA_PG_BINDIR/pg_ctl" ]] && echo "$ZEMBRA_PG_BINDIR"
    return 0
  fi
  for dir in $(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -t/ -k5,5nr); do
    if [[ -x "$dir/initdb" && -x "$dir/pg_ctl" && -x "$dir/psql" ]]; then echo "$dir"; return 0; fi
  done
  if command -v initdb >/dev/null && command -v pg_ctl >/dev/null && command -v psql >/dev/null; then
    dirname "$(command -v initdb)"
  fi
}

# Why the PostgreSQL tests cannot run here, or nothing when they can.
skip_reason() {
  if [[ "${ZEMBRA_SKIP_POSTGRES:-}" == 1 ]]; then
    echo "ZEMBRA_SKIP_POSTGRES=1"
  elif [[ -z "$(find_bindir)" ]]; then
    echo "no PostgreSQL server binaries (initdb, pg_ctl, psql) in ${ZEMBRA_PG_BINDIR:-/usr/lib/postgresql/*/bin or PATH}"
  fi
}

server_user() {
  if [[ "$(id -u)" != 0 ]]; then id -un; return; fi
  local user=${ZEMBRA_PG_USER:-}
  if [[ -z "$user" ]]; then
    if id postgres >/dev/null 2>&1; then user=postgres; else user=zembra-pg; fi
  fi
  if ! id "$user" >/dev/null 2>&1; then
    useradd --system --no-create-home --home-dir /nonexistent --shell /usr/sbin/nologin "$user" >&2 \
      || die "cannot create the unprivileged user $user for the server"
  fi
  [[ "$(id -u "$user")" != 0 ]] || die "ZEMBRA_PG_USER must not be root"
  echo "$user"
}

# Runs a command as the server's owner, from a directory it can read.
as_owner() {
  local user=$1; shift
  if [[ "$user" == "$(id -un)" ]]; then (cd / && "$@"); else (cd / && runuser -u "$user" -- "$@"); fi
}

start() {
  local reason bindir user dir
  reason=$(skip_reason)
  if [[ -n "$reason" ]]; then echo "pg-cluster: not started: $reason" >&2; exit 77; fi
  bindir=$(find_bindir)
  user=$(server_user)
  dir=$(mktemp -d "${TMPDIR:-/tmp}/zembra-pg.XXXXXX")
  # From here on a failure must not leave the directory or a server behind.
  trap 'stop "$dir" >&2' EXIT
  chmod 700 "$dir"
  chown "$user" "$dir"
  echo "$bindir" >"$dir/bindir"
  echo "$user" >"$dir/owner"
  as_owner "$user" "$bindir/initdb" -D "$dir/data" -U "$ADMIN" --auth=trust -E UTF8 --no-locale --no-sync \
    >"$dir/initdb.log" 2>&1 || { cat "$dir/initdb.log" >&2; die "initdb failed"; }
  # Durability is worthless for a cluster that is deleted after the run.
  cat >>"$dir/data/postgresql.conf" <<EOF
listen_addresses = ''
unix_socket_directories = '$dir'
port = $PORT
fsync = off
synchronous_commit = off
full_page_writes = off
max_connections = 20
shared_buffers = 16MB
timezone = 'UTC'
EOF
  as_owner "$user" "$bindir/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 start >/dev/null \
    || { cat "$dir/server.log" >&2; die "the server did not start"; }
  as_owner "$user" "$bindir/psql" -h "$dir" -p "$PORT" -U "$ADMIN" -d postgres -X -q -v ON_ERROR_STOP=1 \
    -c "CREATE ROLE $ROLE LOGIN CREATEDB" -c "CREATE DATABASE $DATABASE OWNER $ROLE" >&2
  trap - EXIT
  echo "export ZEMBRA_TEST_PG_DIR='$dir'"
  echo "export ZEMBRA_TEST_DATABASE_URL='postgresql://$ROLE@/$DATABASE?host=$dir&port=$PORT'"
}

stop() {
  local dir=${1:-${ZEMBRA_TEST_PG_DIR:-}} pid="" i
  [[ -n "$dir" ]] || die "stop: which cluster? (give its directory or set ZEMBRA_TEST_PG_DIR)"
  [[ "$(basename "$dir")" == zembra-pg.* ]] || die "stop: $dir is not a cluster directory of this script"
  [[ -d "$dir" ]] || return 0
  if [[ -f "$dir/data/postmaster.pid" ]]; then
    pid=$(head -n1 "$dir/data/postmaster.pid")
    as_owner "$(cat "$dir/owner")" "$(cat "$dir/bindir")/pg_ctl" -D "$dir/data" -m fast -w -t 60 stop >/dev/null \
      || true
    # A fast shutdown ends the postmaster only after its backends; if it is
    # still here, end it (and with it the backends) by its own id.
    if kill -0 "$pid" 2>/dev/null; then
      kill -KILL "$pid" 2>/dev/null || true
      for i in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    fi
    if kill -0 "$pid" 2>/dev/null; then die "the server (pid $pid) outlived its stop"; fi
  fi
  rm -rf "$dir"
}

run() {
  local reason variables status=0
  [[ $# -gt 0 ]] || die "run: no command given"
  reason=$(skip_reason)
  if [[ -n "$reason" ]]; then
    echo "== PostgreSQL tests SKIPPED: $reason" >&2
    return 0
  fi
  variables=$(start) || exit
  eval "$variables"
  trap 'stop "$ZEMBRA_TEST_PG_DIR"' EXIT
  trap 'exit 130' INT
  trap 'exit 143' TERM
  echo "== PostgreSQL cluster in $ZEMBRA_TEST_PG_DIR" >&2
  "$@" || status=$?
  return "$status"
}

case "${1:-}" in
  start) start ;;
  stop) shift; stop "$@" ;;
  run) shift; run "$@" ;;
  *) echo "usage: $0 run CMD [ARG...] | start | stop [DIR]" >&2; exit 2 ;;
esac
