#!/usr/bin/env bash
# Makes samples/sample.ts, the short DVB-like recording that ships with Ravelo:
# a synthetic moving picture with noise and a burned-in clock, MPEG-2 video
# 720x576 25 fps interlaced (top field first), GOPs of 12 with 2 B pictures at
# about 5 Mbit/s; two MPEG-1 Layer II tracks (48 kHz, 192 kbit/s, "deu" and
# "eng") and AC-3 5.1 at 448 kbit/s ("deu") the DVB way (stream type 6 with an
# AC-3 descriptor). Time stamps start far from 0, as a real recording's do.
set -euo pipefail
cd "$(dirname "$0")"
out=${1:-sample.ts}
seconds=${SECONDS_LONG:-10}
font=/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf
clock="drawtext=fontfile=$font:text='%{pts\\:hms}':x=40:y=40:fontsize=48:fontcolor=white:box=1:boxcolor=black@0.6"

ffmpeg -hide_banner -loglevel error -y \
  -f lavfi -i "testsrc2=size=720x576:rate=25,noise=alls=12:allf=t,$clock" \
  -f lavfi -i "sine=frequency=440:sample_rate=48000" \
  -f lavfi -i "sine=frequency=660:sample_rate=48000" \
  -f lavfi -i "sine=frequency=330:sample_rate=48000" \
  -map 0:v -map 1:a -map 2:a -map 3:a -t "$seconds" \
  -c:v mpeg2video -b:v 5M -minrate 5M -maxrate 5M -bufsize 1835k -g 12 -bf 2 \
  -flags +ilme+ildct -top 1 -field_order tt -aspect 16:9 -pix_fmt yuv420p \
  -c:a:0 mp2 -b:a:0 192k -ac:a:0 2 -metadata:s:a:0 language=deu \
  -c:a:1 mp2 -b:a:1 192k -ac:a:1 2 -metadata:s:a:1 language=eng \
  -c:a:2 ac3 -b:a:2 448k -ac:a:2 6 -metadata:s:a:2 language=deu \
  -f mpegts -mpegts_flags system_b -mpegts_service_id 28106 \
  -metadata service_provider=Ravelo -metadata service_name="Ravelo Sample" \
  -output_ts_offset 80000 \
  "$out"
ls -l "$out"
