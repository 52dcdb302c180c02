#!/usr/bin/env bash
# A private MariaDB server for the tests, the benchmark and the demo:
# its own data directory, its own socket, 127.0.0.1 on a free port.
#
#   mariadb-local.sh start DIR [PORT]   start (or find running) and print the port
#   mariadb-local.sh stop DIR           stop it
#
# DIR/port holds the port, DIR/error.log the server's log. The TCP user is
# "orb" with the password "orb-test-pw"; root logs in through DIR/mysqld.sock.
set -euo pipefail

cmd=${1:-}
dir=${2:-}
[ -n "$cmd" ] && [ -n "$dir" ] || { echo "usage: $0 start|stop DIR [PORT]" >&2; exit 2; }
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
sock=$dir/mysqld.sock
pidfile=$dir/mysqld.pid
me=$(id -un)

alive() {
    [ -f "$pidfile" ] && kill -0 "$(cat "$pidfile")" 2>/dev/null &&
        mariadb-admin --no-defaults --socket="$sock" -uroot ping >/dev/null 2>&1
}

port_free() {
    ! (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null
}

case "$cmd" in
start)
    if alive; then
        cat "$dir/port"
        exit 0
    fi
    command -v mariadbd >/dev/null || PATH=$PATH:/usr/sbin
    if [ ! -d "$dir/data/mysql" ]; then
        rm -rf "$dir/data"
        mariadb-install-db --no-defaults --datadir="$dir/data" --user="$me" \
            --auth-root-authentication-method=socket --skip-test-db >"$dir/install.log" 2>&1 ||
            { cat "$dir/install.log" >&2; exit 1; }
    fi
    want=${3:-}
    for attempt in 1 2 3 4 5 6 7 8; do
        port=${want:-$((20000 + (RANDOM % 20000)))}
        port_free "$port" || { [ -n "$want" ] && { echo "port $want is taken" >&2; exit 1; }; continue; }
        rm -f "$pidfile"
        : >"$dir/error.log"
        mkdir -p "$dir/tmp"
        mariadbd --no-defaults --datadir="$dir/data" --socket="$sock" --pid-file="$pidfile" \
            --tmpdir="$dir/tmp" --port="$port" --bind-address=127.0.0.1 --user="$me" --log-error="$dir/error.log" \
            --skip-log-bin --innodb-buffer-pool-size=512M --innodb-flush-log-at-trx-commit=0 \
            --innodb-doublewrite=0 --max-connections=200 --max-allowed-packet=64M \
            --character-set-server=utf8mb4 --collation-server=utf8mb4_unicode_ci \
            >>"$dir/error.log" 2>&1 </dev/null &
        server=$!
        for _ in $(seq 1 300); do
            mariadb-admin --no-defaults --socket="$sock" -uroot ping >/dev/null 2>&1 && break
            kill -0 "$server" 2>/dev/null || break
            sleep 0.1
        done
        if mariadb-admin --no-defaults --socket="$sock" -uroot ping >/dev/null 2>&1; then
            mariadb --no-defaults --socket="$sock" -uroot -e "
                CREATE USER IF NOT EXISTS 'orb'@'127.0.0.1' IDENTIFIED BY 'orb-test-pw';
                CREATE USER IF NOT EXISTS 'orb'@'localhost' IDENTIFIED BY 'orb-test-pw';
                GRANT ALL PRIVILEGES ON *.* TO 'orb'@'127.0.0.1';
                GRANT ALL PRIVILEGES ON *.* TO 'orb'@'localhost';
                FLUSH PRIVILEGES;"
            echo "$port" >"$dir/port"
            echo "$port"
            exit 0
        fi
        kill "$server" 2>/dev/null || true
        wait "$server" 2>/dev/null || true
        grep -q -i "address already in use\|bind on tcp" "$dir/error.log" && [ -z "$want" ] && continue
        break
    done
    echo "MariaDB did not start; its log ($dir/error.log):" >&2
    cat "$dir/error.log" >&2
    exit 1
    ;;
stop)
    if [ -f "$pidfile" ]; then
        pid=$(cat "$pidfile")
        mariadb-admin --no-defaults --socket="$sock" -uroot shutdown >/dev/null 2>&1 || kill "$pid" 2>/dev/null || true
        for _ in $(seq 1 300); do
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.1
        done
        kill -9 "$pid" 2>/dev/null || true
    fi
    rm -f "$dir/port" "$pidfile"
    ;;
*)
    echo "usage: $0 start|stop DIR [PORT]" >&2
    exit 2
    ;;
esac
