#!/usr/bin/env bash
# Start-up to the first picture: the window with the sample recording against
# an empty Qt main window (the floor any Qt program pays), each the best of
# ten runs, on a virtual display when Xvfb is there (else offscreen).
# Once more with a gst-inspect-1.0 on the PATH that takes a second to answer:
# start-up must not wait on it.
# Usage: bench_window_start.sh WINDOW_START SAMPLE_TS
set -euo pipefail
tool=$1
sample=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME=$work XDG_CONFIG_HOME=$work/config  # a fresh store and output folder

run() {  # prints the best of ten runs in milliseconds
    local best=999999
    for _ in $(seq 10); do
        local start end ms
        start=$(date +%s%N)
        "$@" > /dev/null 2>&1
        end=$(date +%s%N)
        ms=$(( (end - start) / 1000000 ))
        (( ms < best )) && best=$ms
    done
    echo "$best"
}

mkdir -p "$work/slow-gst"
printf '#!/bin/sh\nsleep 1\n' > "$work/slow-gst/gst-inspect-1.0"
chmod +x "$work/slow-gst/gst-inspect-1.0"

if command -v Xvfb > /dev/null; then
    # One server for all runs (its own start is not the program's), on a
    # display number it picks itself.
    export QT_QPA_PLATFORM=xcb
    Xvfb -displayfd 3 -screen 0 1280x800x24 3> "$work/display" > /dev/null 2>&1 &
    xvfb=$!
    trap 'kill $xvfb; rm -rf "$work"' EXIT
    for _ in $(seq 50); do [[ -s $work/display ]] && break; sleep 0.1; done
    export DISPLAY=:$(cat "$work/display")
else
    export QT_QPA_PLATFORM=offscreen
fi
"$tool" "$sample" > /dev/null 2>&1 || true  # warm the file cache

printf '%-40s %8s\n' "run" "ms"
printf '%-40s %8s\n' "empty Qt main window (reference)" "$(run "$tool" --bare)"
printf '%-40s %8s\n' "ravelo with sample.ts" "$(run "$tool" "$sample")"
printf '%-40s %8s\n' "ravelo with sample.ts, slow gst-inspect" \
    "$(PATH=$work/slow-gst:$PATH run "$tool" "$sample")"
