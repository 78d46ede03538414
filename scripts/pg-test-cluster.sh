#!/usr/bin/env bash
# Runs a command against a throwaway PostgreSQL cluster:
#
#   scripts/pg-test-cluster.sh COMMAND [ARGS...]
#
# The cluster lives in a temporary folder, listens on a free loopback port
# only (no other host can reach it) and trusts local connections. The
# command sees EXP_TEST_PG=postgresql://postgres@127.0.0.1:PORT/postgres.
# The cluster is stopped and its folder removed on every exit path (the
# command's end, a failure, Ctrl-C, SIGTERM); the script exits with the
# command's status. As root, the server runs as the postgres user (initdb
# refuses root). Its texts sort by a language's rules, as a production
# database's often do. EXP_PG_BIN overrides the folder of the server programs.
set -euo pipefail

if [ $# -eq 0 ]; then
  echo "usage: $0 COMMAND [ARGS...]" >&2
  exit 2
fi

BIN="${EXP_PG_BIN:-}"
if [ -z "$BIN" ]; then
  BIN="$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1 || true)"
fi
if [ -z "$BIN" ] || [ ! -x "$BIN/initdb" ]; then
  echo "pg-test-cluster: no PostgreSQL server programs found (apt-get install postgresql)" >&2
  exit 3
fi

TMP="$(mktemp -d /tmp/exp-pg.XXXXXX)"
AS=()
if [ "$(id -u)" -eq 0 ]; then
  chown postgres: "$TMP"
  AS=(runuser -u postgres --)
fi
DATA="$TMP/data"

stop_cluster() {
  if [ -f "$DATA/postmaster.pid" ]; then
    "${AS[@]}" "$BIN/pg_ctl" -D "$DATA" -m immediate -w stop >/dev/null 2>&1 || true
  fi
  rm -rf "$TMP"
}
trap stop_cluster EXIT
trap 'exit 130' INT
trap 'exit 143' TERM HUP

"${AS[@]}" "$BIN/initdb" --no-sync -D "$DATA" -U postgres -A trust -E UTF8 --locale=C.UTF-8 \
  --locale-provider=icu --icu-locale=en-US \
  >"$TMP/initdb.log" 2>&1 || { cat "$TMP/initdb.log" >&2; exit 3; }

# A port nobody listens on; taken meanwhile, the start fails and another is
# tried.
free_port() {
  local port
  for _ in $(seq 1 50); do
    port=$((20000 + RANDOM % 30000))
    if ! (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
      echo "$port"
      return 0
    fi
  done
  return 1
}

started=""
for _ in 1 2 3 4 5; do
  PORT="$(free_port)"
  if "${AS[@]}" "$BIN/pg_ctl" -D "$DATA" -w -t 60 -l "$TMP/server.log" \
      -o "-c listen_addresses=127.0.0.1 -p $PORT -k $TMP -c fsync=off -c max_connections=200" \
      start >/dev/null 2>&1; then
    started=1
    break
  fi
done
if [ -z "$started" ]; then
  echo "pg-test-cluster: the server did not start:" >&2
  cat "$TMP/server.log" >&2 || true
  exit 3
fi

export EXP_TEST_PG="postgresql://postgres@127.0.0.1:$PORT/postgres"
echo "pg-test-cluster: PostgreSQL on 127.0.0.1:$PORT" >&2
"$@"
