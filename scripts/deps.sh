#!/usr/bin/env bash
# Installs the Debian 12 packages that building (with Qt 5 and with Qt 6), testing, packaging
# and the demo need.
# Does nothing when they are all present.
set -euo pipefail
packages=(build-essential cmake ninja-build pkg-config qtbase5-dev qtbase5-dev-tools libmariadb-dev
    mariadb-server mariadb-client qttranslations5-l10n clang libclang-rt-14-dev xvfb xauth
    fontconfig fonts-dejavu-core openssl zlib1g-dev
    qt6-base-dev qt6-base-dev-tools qt6-translations-l10n
    dpkg-dev xdotool x11-utils openbox python3)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
SUDO=
[ "$(id -u)" -eq 0 ] || SUDO=sudo
echo "installing: ${missing[*]}"
$SUDO apt-get update -qq
# The MariaDB package must not start a system service: the project runs its own servers.
if [ ! -e /usr/sbin/policy-rc.d ]; then
    printf '#!/bin/sh\nexit 101\n' | $SUDO tee /usr/sbin/policy-rc.d >/dev/null
    $SUDO chmod +x /usr/sbin/policy-rc.d
    trap '$SUDO rm -f /usr/sbin/policy-rc.d' EXIT
fi
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
