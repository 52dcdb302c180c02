#!/usr/bin/env bash
# Short libFuzzer run of the packet codec under ASan+UBSan (clang), as CI's smoke test.
# FUZZ_SECONDS sets the run time (default 60), FUZZ_BUILD_DIR the build directory.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${FUZZ_BUILD_DIR:-build-fuzz}
seconds=${FUZZ_SECONDS:-60}
CXX=${FUZZ_CXX:-clang++} cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORB_FUZZ=ON \
    -DCMAKE_CXX_COMPILER="${FUZZ_CXX:-clang++}" >/dev/null
cmake --build "$build" --target fuzz_kalvomessageparser -j2
corpus="$build/fuzz-corpus"
mkdir -p "$corpus"
"$build/tests/fuzz/fuzz_kalvomessageparser" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -artifact_prefix="$build/" \
    -print_final_stats=1 "$corpus"
