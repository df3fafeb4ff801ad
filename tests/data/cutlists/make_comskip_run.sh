#!/usr/bin/env bash
# Makes comskip_run.txt/.edl/.vdr: comskip 0.82 (Debian 12 package "comskip")
# run over a 154 s, 25 fps recording that ffmpeg builds from test sources
# (60 s test pattern, 2 s black and silence, 30 s fractal, 2 s black, 60 s
# test pattern). The three files are one run's frame list, EDL and VDR
# marks, so they say the same in three ways.
set -euo pipefail
out=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
ffmpeg -v error -y \
  -f lavfi -i "testsrc2=size=720x576:rate=25:duration=60" \
  -f lavfi -i "sine=frequency=440:duration=60:sample_rate=48000" \
  -f lavfi -i "color=black:size=720x576:rate=25:duration=2" \
  -f lavfi -i "anullsrc=r=48000:cl=mono:d=2" \
  -f lavfi -i "mandelbrot=size=720x576:rate=25" \
  -f lavfi -i "sine=frequency=1000:duration=30:sample_rate=48000" \
  -filter_complex "[4:v]trim=duration=30,setpts=PTS-STARTPTS[m];[0:v][1:a][2:v][3:a][m][5:a][2:v][3:a][0:v][1:a]concat=n=5:v=1:a=1[v][a]" \
  -map "[v]" -map "[a]" -c:v mpeg2video -b:v 3M -g 12 -bf 2 -c:a mp2 -b:a 192k -f mpegts rec.ts
printf 'detect_method=111\noutput_default=1\noutput_edl=1\noutput_vdr=1\nverbose=0\n' >comskip.ini
comskip --ini=comskip.ini --ts rec.ts . >/dev/null 2>&1
cp rec.txt "$out/comskip_run.txt"
cp rec.edl "$out/comskip_run.edl"
cp rec.vdr "$out/comskip_run.vdr"
