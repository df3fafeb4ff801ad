#!/usr/bin/env bash
# Screenshots of the window on a virtual display, with the bundled sample open
# and one cut area selected: the main window at its first size, its smallest
# and a large one, with 1.5 times larger fonts, the splice preview, the
# progress window of "Demux to MPEG" naming the files it wrote, and the
# settings dialog. Settings, outputs and work files go to a temporary home
# folder; the pictures to the folder given (default build/screenshots).
set -euo pipefail
cd "$(dirname "$0")/.."
out="$(realpath -m "${1:-build/screenshots}")"
mkdir -p "$out"

scripts/deps.sh --gui
[[ -f build/build.ninja ]] || cmake --preset default >/dev/null
cmake --build build --target ravelo_screenshots

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export HOME="$work"
export XDG_CONFIG_HOME="$work/config"
export QT_QPA_PLATFORM=xcb  # the virtual display, not the offscreen platform of the tests
sample="$(realpath samples/sample.ts)"
tool="$(realpath build/tests/gui/ravelo_screenshots)"
cd "$work"
xvfb-run -a -s "-screen 0 1280x800x24" "$tool" "$sample" "$out"
rm -rf "$XDG_CONFIG_HOME"  # the second run starts from a fresh store too
xvfb-run -a -s "-screen 0 1280x800x24" "$tool" --font-scale 1.5 "$sample" "$out"
echo "Screenshots in $out"
