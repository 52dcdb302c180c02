#!/usr/bin/env bash
# A private MariaDB server for the tests, the benchmark and the demo:
# its own data directory, its own socket, 127.0.0.1 on a free port.
#
#   mariadb-local.sh start DIR [PORT]       start (or find running) and print the port
#   mariadb-local.sh start-tls DIR [PORT]   the same, TLS only (require_secure_transport)
#   mariadb-local.sh stop DIR               stop it
#
# DIR/port holds the port, DIR/error.log the server's log. The TCP user is
# "orb" with the password "orb-test-pw"; root logs in through DIR/mysqld.sock.
# start-tls makes throw-away certificates in DIR/tls: ca.pem signed server.pem for
# 127.0.0.1 and localhost; other-ca.pem signed nothing. The server also listens on
# 127.0.0.2, a name its certificate does not carry.
set -euo pipefail

cmd=${1:-}
dir=${2:-}
[ -n "$cmd" ] && [ -n "$dir" ] || { echo "usage: $0 start|start-tls|stop DIR [PORT]" >&2; exit 2; }
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

# A CA and, signed by it, a certificate for the given subjectAltName: tls/NAME.pem, tls/NAME-key.pem.
make_cert() {
    local name=$1 san=$2 ca=$3
    openssl req -new -newkey rsa:2048 -nodes -subj "/CN=${san#*:}" -keyout "$tls/$name-key.pem" \
        -out "$tls/$name.csr" 2>/dev/null
    printf 'subjectAltName=%s\n' "$san" >"$tls/$name.ext"
    openssl x509 -req -in "$tls/$name.csr" -CA "$tls/$ca.pem" -CAkey "$tls/$ca-key.pem" -CAcreateserial \
        -days 30 -extfile "$tls/$name.ext" -out "$tls/$name.pem" 2>/dev/null
}

make_ca() {
    openssl req -x509 -new -newkey rsa:2048 -nodes -days 30 -subj "/CN=orb test $1" \
        -keyout "$tls/$1-key.pem" -out "$tls/$1.pem" 2>/dev/null
}

tls=$dir/tls
tls_options=()
bind=127.0.0.1
if [ "$cmd" = start-tls ]; then
    if [ ! -f "$tls/server.pem" ]; then
        mkdir -p "$tls"
        make_ca ca
        make_ca other-ca
        make_cert server "IP:127.0.0.1,DNS:localhost" ca
    fi
    tls_options=(--ssl-ca="$tls/ca.pem" --ssl-cert="$tls/server.pem" --ssl-key="$tls/server-key.pem"
        --require-secure-transport=ON)
    # 127.0.0.2 is not in the certificate: a way in under another host name
    bind=127.0.0.1,127.0.0.2
    cmd=start
fi

case "$cmd" in
start)
    if alive; then
        cat "$dir/port"
        exit 0
    fi
    command -v mariadbd >/dev/null || PATH=$PATH:/usr/sbin
    # a temporary directory of its own: bootstraps running at once collide in /tmp
    mkdir -p "$dir/tmp"
    if [ ! -d "$dir/data/mysql" ]; then
        rm -rf "$dir/data"
        mariadb-install-db --no-defaults --datadir="$dir/data" --tmpdir="$dir/tmp" --user="$me" \
            --auth-root-authentication-method=socket --skip-test-db >"$dir/install.log" 2>&1 ||
            { cat "$dir/install.log" >&2; exit 1; }
    fi
    want=${3:-}
    for attempt in 1 2 3 4 5 6 7 8; do
        port=${want:-$((20000 + (RANDOM % 20000)))}
        port_free "$port" || { [ -n "$want" ] && { echo "port $want is taken" >&2; exit 1; }; continue; }
        rm -f "$pidfile"
        : >"$dir/error.log"
        mariadbd --no-defaults --datadir="$dir/data" --socket="$sock" --pid-file="$pidfile" \
            --tmpdir="$dir/tmp" --port="$port" --bind-address="$bind" --user="$me" --log-error="$dir/error.log" \
            --skip-log-bin --innodb-buffer-pool-size=512M --innodb-flush-log-at-trx-commit=0 \
            --innodb-doublewrite=0 --max-connections=200 --max-allowed-packet=64M \
            --character-set-server=utf8mb4 --collation-server=utf8mb4_unicode_ci "${tls_options[@]}" \
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
                GRANT ALL PRIVILEGES ON *.* TO 'orb'@'127.0.0.1' WITH GRANT OPTION;
                GRANT ALL PRIVILEGES ON *.* TO 'orb'@'localhost' WITH GRANT OPTION;
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
    echo "usage: $0 start|start-tls|stop DIR [PORT]" >&2
    exit 2
    ;;
esac
