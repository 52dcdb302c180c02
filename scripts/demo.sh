#!/usr/bin/env bash
# Runs orb-admin on a demo environment of its own:
#   - installs what is needed (scripts/deps.sh) and builds a Release in build-demo/;
#   - starts a private MariaDB (demo/mariadb/) loaded with the schema and sample data:
#     users, groups, 400 devices, root still on the default password "vexo";
#   - starts the server simulator with 1,500 devices (300 of them already in the database);
#   - writes demo/settings.conf pointing at both (keeping its [window] section) and runs the
#     program in demo/;
#   - stops both services when the program exits.
# Each run starts from fresh sample data; the window keeps its place and sizes.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
demo=$root/demo
build=${BUILD_DIR:-$root/build-demo}

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    cat <<'TEXT'
No display found: orb-admin is a desktop program and needs one.
  - Run this script in a desktop session, or over "ssh -X" from one.
  - Without any display, "xvfb-run -a bash scripts/demo.sh" starts everything on an
    invisible screen (only useful to check that it all starts; nobody can click the window).
    A picture of every window: cmake --build build-demo --target orb-screenshots, then run
    build-demo/tools/screenshots/orb-screenshots (see README, "Screenshots").
TEXT
    exit 1
fi

bash scripts/deps.sh
command -v openssl >/dev/null || echo "note: openssl is missing; the sample users get no usable password"

echo "== building (Release, $build)"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DORB_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target orb-admin orb-server-sim

mkdir -p "$demo"
sim_pid=
cleanup() {
    if [ -n "$sim_pid" ]; then
        kill "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
    fi
    bash "$root/tools/mariadb-local.sh" stop "$demo/mariadb" || true
    echo "== demo services stopped"
}
trap cleanup EXIT

echo "== starting MariaDB (demo/mariadb)"
db_port=$(bash tools/mariadb-local.sh start "$demo/mariadb" | tail -n1)
sql() { mariadb --no-defaults --socket="$demo/mariadb/mysqld.sock" -uroot "$@"; }

# Devices: IMEIs with a valid check digit, names in Russian and English.
# server-devices.csv is what the simulator reports; the first 300 are in the database too.
awk -v n=1500 -v first=35693803564300 'BEGIN {
    split("Грузовик Фургон Такси Автобус Экскаватор Курьер Самосвал Трактор Погрузчик Катер", ru, " ");
    split("Truck Van Taxi Bus Excavator Courier Tipper Tractor Forklift Boat", en, " ");
    srand(7);
    for (i = 0; i < n; i++) {
        body = sprintf("%014d", first + i); sum = 0;
        for (k = 14; k >= 1; k--) {
            d = substr(body, k, 1) + 0;
            if ((14 - k) % 2 == 0) { d *= 2; if (d > 9) d -= 9 }
            sum += d
        }
        w = int(rand() * 10) + 1;
        printf "%s%d,%s %d\n", body, (10 - sum % 10) % 10, (rand() < 0.5 ? ru[w] : en[w]), int(rand() * 999) + 1
    }
}' >"$demo/server-devices.csv"
# A file to try "Импорт из файла" with: a header line, 150 devices of the server's list, 50 new ones.
{
    echo "imei,name"
    sed -n '201,350p' "$demo/server-devices.csv"
    for i in $(seq 1 50); do printf '86001234%07d,Склад %d\n' "$i" "$i"; done
} >"$demo/import-example.csv"

hash() { # the program's password hash: SHA3-512 of the salt and the password, as hex
    if command -v openssl >/dev/null; then
        printf '%s' "Qw7rTz2Lp9$1" | openssl dgst -sha3-512 -r | cut -d' ' -f1
    else
        printf '00'
    fi
}

echo "== loading the schema and sample data"
{
    echo "DROP DATABASE IF EXISTS orb_server; CREATE DATABASE orb_server CHARACTER SET utf8mb4; USE orb_server;"
    cat db/schema.sql
    echo "INSERT INTO groups_list (id, group_name) VALUES (2, 'Диспетчеры'), (3, 'Логистика'), (4, 'Такси'), (5, 'Сервис');"
    echo "INSERT INTO users (id, user_login, user_password) VALUES"
    echo "  (2, 'ivanov', UNHEX('$(hash ivanov1)')), (3, 'petrova', UNHEX('$(hash petrova1)')),"
    echo "  (4, 'dispatcher', UNHEX('$(hash dispatcher1)')), (5, 'taxi_park', UNHEX('$(hash taxi1)'));"
    echo "INSERT INTO user_groups (user_id, group_id) VALUES (2, 2), (2, 3), (3, 3), (4, 2), (5, 4);"
    echo "INSERT INTO devices (imei, name, for_all) VALUES"
    {
        head -n 300 "$demo/server-devices.csv"
        for i in $(seq 1 100); do printf '86000000%07d,Резерв %d\n' "$i" "$i"; done
    } | awk -F, '{ printf "%s(%s, '\''%s'\'', %d)", (NR > 1 ? ",\n" : ""), $1, $2, (NR % 50 == 0) } END { print ";" }'
    # every device is in the administrators' group, most in one more
    echo "INSERT INTO device_groups (device_id, group_id) SELECT id, 1 FROM devices;"
    echo "INSERT INTO device_groups (device_id, group_id) SELECT id, 2 + id % 4 FROM devices WHERE id % 7 <> 0;"
} | sql

echo "== starting the server simulator"
"$build/tools/sim/orb-server-sim" --port 0 --file "$demo/server-devices.csv" >"$demo/sim.out" 2>"$demo/sim.log" &
sim_pid=$!
for _ in $(seq 1 100); do
    grep -q '^listening on' "$demo/sim.out" 2>/dev/null && break
    kill -0 "$sim_pid" 2>/dev/null || { cat "$demo/sim.log" >&2; exit 1; }
    sleep 0.1
done
orb_port=$(sed -n 's/^listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$demo/sim.out")
[ -n "$orb_port" ] || { echo "the simulator did not start; its log: $demo/sim.log" >&2; exit 1; }

# The window's place, sizes and columns stay from the last run; the rest is written afresh.
window_section=
if [ -f "$demo/settings.conf" ]; then
    window_section=$(awk '/^\[/ { keep = ($0 == "[window]") } keep' "$demo/settings.conf")
fi
cat >"$demo/settings.conf" <<CONF
[sql]
ip=127.0.0.1
port=$db_port
db=orb_server
user=orb
password=orb-test-pw

[orb]
ip=127.0.0.1
port=$orb_port
CONF
if [ -n "$window_section" ]; then
    printf '\n%s\n' "$window_section" >>"$demo/settings.conf"
fi
chmod 600 "$demo/settings.conf"

cat <<TEXT

== orb-admin is starting in demo/
   Database:  MariaDB on 127.0.0.1:$db_port, database orb_server, user orb, password orb-test-pw
   Server:    simulator on 127.0.0.1:$orb_port with 1500 devices (300 of them already in the database)

   1. "Подключение": the fields are filled in from demo/settings.conf; just press OK.
   2. "Смена пароля": root still has the default password "vexo"; type a new one twice and press OK
      (or Cancel: the question comes again at the next connection).
   3. Try "Устройства на сервере" (1200 new devices to pick) and "Импорт из файла"
      (demo/import-example.csv). Stopping and starting things is safe: each run starts afresh.
   The program's log goes to this terminal; the simulator's to demo/sim.log.
   Close the window to stop the demo.

TEXT
cd "$demo"
"$build/app/orb-admin"
