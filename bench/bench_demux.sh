#!/usr/bin/env bash
# Usage: bench_demux.sh RAVELO_CLI [WORK_DIR]
# Makes a recording like samples/sample.ts (MPEG-2 720x576, two MP2 tracks,
# AC-3 5.1) of at least 500 MB by looping a 20 s encode, then times:
#   cat            reading the file once
#   ravelo es      ravelo-cli demux (one file per stream)
#   ffmpeg es      ffmpeg -c copy of every stream into its own file
#   ravelo mpg     ravelo-cli mpeg (video + first audio as a program stream)
#   ffmpeg mpg     ffmpeg -c copy of the same two streams into an MPEG-PS
# Each job runs on a warm page cache; MB/s = input bytes / wall time.
set -euo pipefail
cli=$(realpath "$1")
work=${2:-/tmp/ravelo-bench}
mkdir -p "$work"
cd "$work"
rec="$work/bench.ts"

if [ ! -s "$rec" ] || [ "$(stat -c %s "$rec")" -lt 500000000 ]; then
  echo "Generating $rec ..."
  ffmpeg -hide_banner -loglevel error -y \
    -f lavfi -i "testsrc2=size=720x576:rate=25,noise=alls=12:allf=t" \
    -f lavfi -i "sine=frequency=440:sample_rate=48000" \
    -f lavfi -i "sine=frequency=660:sample_rate=48000" \
    -f lavfi -i "sine=frequency=330:sample_rate=48000" \
    -map 0:v -map 1:a -map 2:a -map 3:a -t 20 \
    -c:v mpeg2video -b:v 15M -minrate 15M -maxrate 15M -bufsize 1835k -g 12 -bf 2 \
    -pix_fmt yuv420p -aspect 16:9 \
    -c:a:0 mp2 -b:a:0 192k -c:a:1 mp2 -b:a:1 192k -c:a:2 ac3 -b:a:2 448k -ac:a:2 6 \
    -f mpegts -mpegts_flags system_b -output_ts_offset 80000 "$work/piece.ts"
  ffmpeg -hide_banner -loglevel error -y -stream_loop 13 -i "$work/piece.ts" -map 0 -c copy \
    -f mpegts -mpegts_flags system_b "$rec"
  rm -f "$work/piece.ts"
fi
bytes=$(stat -c %s "$rec")
mb=$(echo "$bytes / 1048576" | bc -l)
printf 'Recording: %s, %.0f MB\n' "$rec" "$mb"

export RAVELO_SETTINGS="$work/settings.ini"
out="$work/out"
rm -rf "$out"; mkdir -p "$out"

seconds() { # runs a command, prints its wall time
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null 2>&1 || { echo "FAILED: $*" >&2; exit 1; }
  end=$(date +%s.%N)
  echo "$end - $start" | bc -l
}

cat "$rec" >/dev/null  # warm the cache
t_cat=$(seconds cat "$rec")
t_res=$(seconds "$cli" demux "$rec" -o "$out" --overwrite --quiet)
t_fes=$(seconds ffmpeg -hide_banner -y -i "$rec" -map 0:v -c copy "$out/f.m2v" \
          -map 0:a:0 -c copy "$out/f1.mp2" -map 0:a:1 -c copy "$out/f2.mp2" \
          -map 0:a:2 -c copy "$out/f.ac3")
t_rmpg=$(seconds "$cli" mpeg "$rec" -o "$out" --overwrite --quiet)
t_fmpg=$(seconds ffmpeg -hide_banner -y -i "$rec" -map 0:v -map 0:a:0 -c copy -f vob "$out/f.mpg")

rate() { echo "$mb / $1" | bc -l; }
printf '%-12s %8.2f s %8.1f MB/s\n' "cat" "$t_cat" "$(rate "$t_cat")"
printf '%-12s %8.2f s %8.1f MB/s\n' "ravelo es" "$t_res" "$(rate "$t_res")"
printf '%-12s %8.2f s %8.1f MB/s\n' "ffmpeg es" "$t_fes" "$(rate "$t_fes")"
printf '%-12s %8.2f s %8.1f MB/s\n' "ravelo mpg" "$t_rmpg" "$(rate "$t_rmpg")"
printf '%-12s %8.2f s %8.1f MB/s\n' "ffmpeg mpg" "$t_fmpg" "$(rate "$t_fmpg")"
printf 'ravelo/ffmpeg es:  %.2fx\n' "$(echo "$t_fes / $t_res" | bc -l)"
printf 'ravelo/ffmpeg mpg: %.2fx\n' "$(echo "$t_fmpg / $t_rmpg" | bc -l)"
printf 'ravelo es/cat:     %.2fx of cat'"'"'s rate\n' "$(echo "$t_cat / $t_res" | bc -l)"
rm -rf "$out"
