#!/usr/bin/env bash
# Installs what is missing, builds Ravelo with warnings as errors and runs the
# whole test suite. With --asan the sanitizer build runs the tests instead.
set -euo pipefail
cd "$(dirname "$0")/.."

preset=ci
[[ "${1:-}" == "--asan" ]] && preset=asan

scripts/deps.sh
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "build-$preset" --output-on-failure --parallel 2 --timeout 900
