# A PostgreSQL cluster of the tests' own under build/, on a loopback port,
# run as the postgres user (it refuses to run as root).
PG_DIR="$BUILD/pgdata"
PG_BIN="$(ls -d /usr/lib/postgresql/*/bin | sort -V | tail -n 1)"
PG_STARTED=0

pg_as() {
    if [ "$(id -u)" -eq 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi
}

# The first port from 54329 on that nobody listens on, unless KIVO_PG_PORT says.
pg_pick_port() {
    if [ -n "${KIVO_PG_PORT:-}" ]; then echo "$KIVO_PG_PORT"; return; fi
    local port=54329
    while (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; do port=$((port + 1)); done
    echo "$port"
}

pg_start() {
    if [ ! -f "$PG_DIR/PG_VERSION" ]; then
        mkdir -p "$PG_DIR"
        [ "$(id -u)" -eq 0 ] && chown postgres:postgres "$PG_DIR"
        pg_as "$PG_BIN/initdb" -D "$PG_DIR" -A trust -U postgres >/dev/null
    fi
    # Logins over TCP need the password, so that the tests check the login
    # lines for real; the set-up below uses the local socket.
    printf 'local all all trust\nhost all all 127.0.0.1/32 scram-sha-256\nhost all all ::1/128 scram-sha-256\n' \
        >"$PG_DIR/pg_hba.conf"
    [ "$(id -u)" -eq 0 ] && chown -R postgres:postgres "$PG_DIR"
    # A cluster left running by an interrupted run is ours to stop.
    pg_as "$PG_BIN/pg_ctl" -D "$PG_DIR" -w stop -m fast >/dev/null 2>&1 || true
    PG_PORT="$(pg_pick_port)"
    pg_as "$PG_BIN/pg_ctl" -D "$PG_DIR" -l "$PG_DIR/server.log" -w \
        -o "-p $PG_PORT -c listen_addresses=127.0.0.1 -k /tmp" start >/dev/null
    PG_STARTED=1
    local psql=(pg_as "$PG_BIN/psql" -h /tmp -p "$PG_PORT" -U postgres -v ON_ERROR_STOP=1 -q)
    # Databases a test that crashed left behind go first: the role cannot be
    # dropped while it owns one.
    local left
    for left in $("${psql[@]}" -d postgres -At -c "SELECT datname FROM pg_database d JOIN pg_roles r ON r.oid = d.datdba WHERE r.rolname = 'JUX' AND d.datname <> 'kivo_test'"); do
        "${psql[@]}" -d postgres -c "DROP DATABASE \"$left\" WITH (FORCE)"
    done
    "${psql[@]}" -d postgres -c "DROP DATABASE IF EXISTS kivo_test" -c "DROP ROLE IF EXISTS \"JUX\"" \
        -c "CREATE ROLE \"JUX\" LOGIN CREATEDB PASSWORD '60728'" -c "CREATE DATABASE kivo_test OWNER \"JUX\""
    pg_as env PGPASSWORD=60728 "$PG_BIN/psql" -h 127.0.0.1 -p "$PG_PORT" -U JUX \
        -d kivo_test -v ON_ERROR_STOP=1 -q -f "$ROOT/tools/sql/tickettaxis.sql"
    # host:port of a server with the database kivo_test, role JUX, password 60728
    export KIVO_TEST_PG="127.0.0.1:$PG_PORT"
}

pg_stop() {
    if [ "$PG_STARTED" = 1 ]; then
        pg_as "$PG_BIN/pg_ctl" -D "$PG_DIR" -w stop -m fast >/dev/null 2>&1 || true
    fi
}
