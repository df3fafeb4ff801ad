#!/usr/bin/env bash
# Usage: bench_demux.sh RAVELO_CLI [WORK_DIR]
# Makes a recording like samples/sample.ts (MPEG-2 720x576, two MP2 tracks,
# AC-3 5.1) of at least 500 MB by looping a 20 s encode, then times:
#   cat            reading the file once
#   ravelo es      ravelo-cli demux (one file per stream)
#   ffmpeg es      ffmpeg -c copy of every stream into its own file
#   ravelo mpg     ravelo-cli mpeg (video + first audio as a program stream)
#   ffmpeg mpg     ffmpeg -c copy of the same two streams into an MPEG-PS
#   ravelo vob     ravelo-cli vob (every stream, DVD navigation packs)
#   ffmpeg vob     ffmpeg -c copy of every stream into a DVD VOB (-f dvd)
# The recording's 15 Mbit/s are more than a DVD carries: the multiplexers
# run at full load (ravelo reports the units that come late).
# Each job runs on a warm page cache, best of five; MB/s = input bytes / time,
# by wall time and by CPU time (user + system, steadier on a shared machine).
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

# Best of five runs (the machine may be shared): wall seconds and CPU
# seconds (user + system) of the run with the best wall time.
measure() {
  local best="" cpu="" i t
  for i in 1 2 3 4 5; do
    /usr/bin/time -o "$work/time.txt" -f "%e %U %S" "$@" >/dev/null 2>&1 \
      || { echo "FAILED: $*" >&2; exit 1; }
    read -r wall user sys <"$work/time.txt"
    if [ -z "$best" ] || [ "$(echo "$wall < $best" | bc -l)" = 1 ]; then
      best=$wall; cpu=$(echo "$user + $sys" | bc -l)
    fi
  done
  echo "$best $cpu"
}

cat "$rec" >/dev/null  # warm the cache
read -r w_cat c_cat <<<"$(measure cat "$rec")"
read -r w_res c_res <<<"$(measure "$cli" demux "$rec" -o "$out" --overwrite --quiet)"
read -r w_fes c_fes <<<"$(measure ffmpeg -hide_banner -y -i "$rec" -map 0:v -c copy "$out/f.m2v" \
          -map 0:a:0 -c copy "$out/f1.mp2" -map 0:a:1 -c copy "$out/f2.mp2" \
          -map 0:a:2 -c copy "$out/f.ac3")"
read -r w_rmpg c_rmpg <<<"$(measure "$cli" mpeg "$rec" -o "$out" --overwrite --quiet)"
read -r w_fmpg c_fmpg <<<"$(measure ffmpeg -hide_banner -y -i "$rec" -map 0:v -map 0:a:0 -c copy -f vob "$out/f.mpg")"
read -r w_rvob c_rvob <<<"$(measure "$cli" vob "$rec" -o "$out" --overwrite --quiet)"
read -r w_fvob c_fvob <<<"$(measure ffmpeg -hide_banner -y -i "$rec" -map 0:v -map 0:a -c copy -f dvd "$out/f.vob")"

rate() { echo "$mb / $1" | bc -l; }
line() { printf '%-12s %6.2f s wall %8.1f MB/s   %6.2f s CPU %8.1f MB/s\n' "$1" "$2" "$(rate "$2")" "$3" "$(rate "$3")"; }
line "cat" "$w_cat" "$c_cat"
line "ravelo es" "$w_res" "$c_res"
line "ffmpeg es" "$w_fes" "$c_fes"
line "ravelo mpg" "$w_rmpg" "$c_rmpg"
line "ffmpeg mpg" "$w_fmpg" "$c_fmpg"
line "ravelo vob" "$w_rvob" "$c_rvob"
line "ffmpeg vob" "$w_fvob" "$c_fvob"
printf 'ravelo/ffmpeg es:  %.2fx (wall)  %.2fx (CPU)\n' "$(echo "$w_fes / $w_res" | bc -l)" "$(echo "$c_fes / $c_res" | bc -l)"
printf 'ravelo/ffmpeg mpg: %.2fx (wall)  %.2fx (CPU)\n' "$(echo "$w_fmpg / $w_rmpg" | bc -l)" "$(echo "$c_fmpg / $c_rmpg" | bc -l)"
printf 'ravelo/ffmpeg vob: %.2fx (wall)  %.2fx (CPU)\n' "$(echo "$w_fvob / $w_rvob" | bc -l)" "$(echo "$c_fvob / $c_rvob" | bc -l)"
printf 'ravelo es against cat: %.2f of its rate (wall)\n' "$(echo "$w_cat / $w_res" | bc -l)"
rm -rf "$out"
