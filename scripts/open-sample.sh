#!/usr/bin/env bash
# Installs what is missing, builds Ravelo and opens the bundled sample
# recording in the window. Any other recording can be given instead:
#   scripts/open-sample.sh /path/to/Film.ts
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target ravelo ravelo-cli
recording=${1:-samples/sample.ts}
build/cli/ravelo-cli info "$recording" || true
exec build/app/qt/ravelo "$recording"
