#!/usr/bin/env bash
# Installs what is needed, builds with -Werror under AddressSanitizer and
# UndefinedBehaviorSanitizer (Qt 5) and as a plain Debug build with Qt 6, and runs every
# test in both (the test fixture starts a private MariaDB server in each build tree); then
# the fuzz smoke test and the Debian package test (build, install, start, remove).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
build=${BUILD_DIR:-build-ci}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DORB_WERROR=ON -DORB_SANITIZE=ON
cmake --build "$build" -j2
ctest --test-dir "$build" --output-on-failure -j2 --timeout 900
build6=${BUILD_DIR_QT6:-build-ci-qt6}
cmake -S . -B "$build6" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DORB_WERROR=ON -DORB_QT_MAJOR=6
cmake --build "$build6" -j2
ctest --test-dir "$build6" --output-on-failure -j2 --timeout 900
if [ -f scripts/fuzz-smoke.sh ]; then
    bash scripts/fuzz-smoke.sh
fi
bash scripts/package-test.sh
