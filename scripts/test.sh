#!/usr/bin/env bash
# Installs what is needed, builds with -Werror under AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs every test (the test fixture starts a
# private MariaDB server in the build tree).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
build=${BUILD_DIR:-build-ci}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DORB_WERROR=ON -DORB_SANITIZE=ON
cmake --build "$build" -j2
ctest --test-dir "$build" --output-on-failure -j2 --timeout 900
if [ -f scripts/fuzz-smoke.sh ]; then
    bash scripts/fuzz-smoke.sh
fi
