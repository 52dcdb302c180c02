#!/usr/bin/env bash
# Builds the Debian package (Release, default Qt), installs it with apt-get, starts the
# installed /usr/bin/orb-admin on an invisible X server against a private MariaDB, presses OK
# in "Подключение", waits for the main window and its database connection, closes the window
# as a person would and removes the package again. PKG_BUILD_DIR sets the build directory.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
title_main='Администратор Kalvo Orb сервера'
title_connect='Подключение'
export LC_ALL=C.UTF-8

# Second half, run by xvfb-run: $2 is the work directory with settings.conf.
if [ "${1:-}" = "--on-display" ]; then
    work=$2
    openbox >"$work/openbox.log" 2>&1 &
    wm=$!
    trap 'kill "$wm" 2>/dev/null || true' EXIT
    cd "$work"
    # X whatever the calling session says; glibc's fatal messages into the log, not onto a tty
    export QT_QPA_PLATFORM=xcb LIBC_FATAL_STDERR_=1
    unset WAYLAND_DISPLAY
    # the window manager is up before the program starts, as on a desktop
    for _ in $(seq 1 100); do
        xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
        sleep 0.1
    done
    start() {
        /usr/bin/orb-admin >"$work/orb-admin.log" 2>&1 &
        app=$!
    }
    # how the program ended, with what it printed
    ended() {
        local rc=0
        kill "$app" 2>/dev/null || true
        wait "$app" || rc=$?
        echo "orb-admin ended with $rc; it printed:" >&2
        cat "$work/orb-admin.log" >&2
    }
    # title; the first visible window of orb-admin with that title, waiting 60 s at most. Asked
    # again and again rather than with --sync: a window that closes while xdotool walks the
    # tree (the connection dialog) makes that search fail with BadWindow.
    find_window() {
        local w
        for _ in $(seq 1 600); do
            w=$(xdotool search --onlyvisible --pid "$app" --name "^$1\$" 2>/dev/null | head -n1) || true
            [ -n "$w" ] && { echo "$w"; return 0; }
            kill -0 "$app" 2>/dev/null || return 1
            sleep 0.1
        done
        return 1
    }
    start
    if ! dialog=$(find_window "$title_connect"); then
        # Said loudly, then tried once more: a start that fails twice fails the test.
        echo "no \"$title_connect\" window at the first start" >&2
        ended
        start
        dialog=$(find_window "$title_connect") || { echo "no \"$title_connect\" window" >&2; ended; exit 1; }
    fi
    xdotool windowactivate --sync "$dialog" key --clearmodifiers Return
    main=$(find_window "$title_main") || { echo "no main window" >&2; ended; exit 1; }
    # The window is filled from the database: wait until the program is connected to it.
    for _ in $(seq 1 600); do
        [ "$(bash "$root/scripts/package-test.sh" --connections "$work")" -gt 0 ] && break
        kill -0 "$app" 2>/dev/null || break
        sleep 0.1
    done
    [ "$(bash "$root/scripts/package-test.sh" --connections "$work")" -gt 0 ] ||
        { echo "orb-admin did not connect to the database" >&2; cat "$work/orb-admin.log" >&2; exit 1; }
    if command -v import >/dev/null; then
        import -window root "$work/main-window.png"
    fi
    echo "main window shown and connected (window $main)"
    xdotool windowactivate --sync "$main" key --clearmodifiers alt+F4
    for _ in $(seq 1 300); do
        kill -0 "$app" 2>/dev/null || break
        sleep 0.1
    done
    if kill -0 "$app" 2>/dev/null; then
        echo "orb-admin did not end after its window was closed" >&2
        kill "$app"
        exit 1
    fi
    wait "$app" || { echo "orb-admin exited with $?" >&2; cat "$work/orb-admin.log" >&2; exit 1; }
    exit 0
fi

# The program's connections to the database in work directory $2.
if [ "${1:-}" = "--connections" ]; then
    mariadb --no-defaults --socket="$2/mariadb/mysqld.sock" -uroot -N -e \
        "SELECT COUNT(*) FROM information_schema.PROCESSLIST WHERE USER='orb' AND DB='orb_server'"
    exit 0
fi

SUDO=
[ "$(id -u)" -eq 0 ] || SUDO=sudo
build=${PKG_BUILD_DIR:-build-pkg}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DORB_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target orb-admin
rm -f "$build"/orb-admin_*.deb
(cd "$build" && cpack -G DEB)
deb=$(cd "$build" && pwd)/$(cd "$build" && ls orb-admin_*_amd64.deb)
dpkg-deb --field "$deb" Package Version Depends

work=$(mktemp -d)
cleanup() {
    bash "$root/tools/mariadb-local.sh" stop "$work/mariadb" >/dev/null 2>&1 || true
    if dpkg-query -W -f='${Status}' orb-admin 2>/dev/null | grep -q "install ok installed"; then
        DEBIAN_FRONTEND=noninteractive $SUDO apt-get remove -y -qq orb-admin >/dev/null
    fi
    rm -rf "$work"
}
trap cleanup EXIT

# A package of the same version left by an earlier run would not be replaced.
if dpkg-query -W -f='${Status}' orb-admin 2>/dev/null | grep -q "install ok installed"; then
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get remove -y -qq orb-admin
fi
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "$deb"
for f in /usr/bin/orb-admin /usr/share/applications/orb-admin.desktop \
    /usr/share/icons/hicolor/128x128/apps/orb-admin.png; do
    [ -f "$f" ] || { echo "the package did not install $f" >&2; exit 1; }
done
/usr/bin/orb-admin --version

port=$(bash tools/mariadb-local.sh start "$work/mariadb" | tail -n1)
# root with a password of his own, so that no new one is asked for after connecting
hash=$(printf '%s' "Qw7rTz2Lp9package-test" | openssl dgst -sha3-512 -r | cut -d' ' -f1)
{
    echo "DROP DATABASE IF EXISTS orb_server; CREATE DATABASE orb_server CHARACTER SET utf8mb4; USE orb_server;"
    cat db/schema.sql
    echo "UPDATE users SET user_password=UNHEX('$hash') WHERE id=1;"
    echo "INSERT INTO devices (imei, name, for_all) VALUES (356938035643809, 'Пакет', 1);"
} | mariadb --no-defaults --socket="$work/mariadb/mysqld.sock" -uroot
cat >"$work/settings.conf" <<CONF
[sql]
ip=127.0.0.1
port=$port
db=orb_server
user=orb
password=orb-test-pw
CONF

xvfb-run -a bash "$root/scripts/package-test.sh" --on-display "$work"
# On exit the program writes every key back, the server's endpoint with its defaults.
grep -q '^\[orb\]' "$work/settings.conf" || { echo "settings.conf was not written back" >&2; exit 1; }
cp "$work/main-window.png" "$build/" 2>/dev/null || true
DEBIAN_FRONTEND=noninteractive $SUDO apt-get remove -y -qq orb-admin
[ ! -e /usr/bin/orb-admin ] || { echo "/usr/bin/orb-admin is still there after removing the package" >&2; exit 1; }
echo "package test passed: $(basename "$deb")"
