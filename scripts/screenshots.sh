#!/usr/bin/env bash
# Screenshots of the window on a virtual display: the main window with the
# bundled sample open (and one cut area marked), the progress window during
# "Demux to MPEG" and the settings dialog. Settings and work files go to a
# temporary folder; the pictures to the folder given (default build/screenshots).
set -euo pipefail
cd "$(dirname "$0")/.."
out="$(realpath -m "${1:-build/screenshots}")"
mkdir -p "$out"

scripts/deps.sh --gui
[[ -f build/build.ninja ]] || cmake --preset default >/dev/null
cmake --build build --target ravelo_screenshots

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export XDG_CONFIG_HOME="$work/config"
sample="$(realpath samples/sample.ts)"
tool="$(realpath build/tests/gui/ravelo_screenshots)"
(cd "$work" && xvfb-run -a -s "-screen 0 1280x800x24" "$tool" "$sample" "$out")
echo "Screenshots in $out"
