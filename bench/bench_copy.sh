#!/bin/sh
# Times "ravelo-cli copy" with two cut areas on a generated recording of at
# least 2 GB (RAVELO_BENCH_MIN_SIZE bytes), and dd bs=1M copying the same file
# right after it, in rounds. Recordings are gigabytes; on a smaller file the
# program's fixed costs (starting with its libraries, about 20 ms, and
# planning the cuts) would stand in for its rate: at 500 MB from the page
# cache dd takes under 0.2 s. The data is
# generated once into $RAVELO_BENCH_DIR (default /tmp/ravelo-bench-copy) and
# kept there for later runs; the outputs are removed. With "hd" as the second
# argument the recording is 1080i H.264 with AAC and E-AC-3 (open GOPs whose
# I pictures carry recovery points, an IDR picture only where each generated
# part begins): the pictures after each cut are renumbered up to there.
set -eu
cli=$1
kind=${2:-mpeg2}
work=${RAVELO_BENCH_DIR:-/tmp/ravelo-bench-copy}
mkdir -p "$work"
min_size=${RAVELO_BENCH_MIN_SIZE:-2000000000}

if [ "$kind" = hd ]; then
    source="$work/big-hd.ts"
    generate() {
        ffmpeg -v error -y -f lavfi -i testsrc2=size=1920x1080:rate=25 \
            -f lavfi -i sine=frequency=440:sample_rate=48000 -t 40 -map 0:v -map 1:a -map 1:a \
            -c:v libx264 -preset ultrafast -b:v 12M -flags +ildct+ilme \
            -x264-params interlaced=1:tff=1:keyint=24:min-keyint=24:scenecut=0:open-gop=1:bframes=3:b-adapt=0 \
            -c:a:0 aac -c:a:1 eac3 -ac:a:1 6 -f mpegts "$1"
    }
else
    source="$work/big.ts"
    generate() {
        ffmpeg -v error -y -f lavfi -i testsrc2=size=720x576:rate=25 \
            -f lavfi -i sine=frequency=440:sample_rate=48000 -t 64 \
            -c:v mpeg2video -g 12 -bf 2 -qscale:v 2 -c:a mp2 -b:a 192k -f mpegts "$1"
    }
fi
if [ ! -f "$source" ] || [ "$(stat -c %s "$source")" -lt "$min_size" ]; then
    echo "Generating $source ..."
    generate "$work/part.ts"
    : > "$source"
    while [ "$(stat -c %s "$source")" -lt "$min_size" ]; do cat "$work/part.ts" >> "$source"; done
    rm -f "$work/part.ts"
fi
size=$(stat -c %s "$source")
sectors=$((size / 512))
cut1="$((sectors / 5))-$((sectors * 3 / 10))"
cut2="$((sectors * 6 / 10))-$((sectors * 62 / 100))"

now() { date +%s.%N; }
elapsed() { echo "$1 $2" | awk '{ printf "%.4f", $2 - $1 }'; }
rate() { echo "$1 $2" | awk '{ printf "%.1f", $1 / $2 / 1048576 }'; }
# The best of the rounds for each: a page-cache copy of 500 MB takes a few
# tenths of a second, so one run mostly measures what else the machine does.
rounds=${RAVELO_BENCH_ROUNDS:-5}

cd "$work"  # the work folders of the default output path go here
export RAVELO_SETTINGS="$work/settings.ini"
dd if="$source" of=/dev/null bs=1M status=none  # both runs start from a warm cache

best_copy="" best_dd="" ratios=""
for round in $(seq "$rounds"); do
    # Each run starts with no dirty pages left by the one before it.
    rm -f "$work/out.ts" "$work/dd.ts"
    sync
    t0=$(now)
    "$cli" copy "$source" -o "$work/out.ts" --overwrite --quiet --cut "$cut1" --cut "$cut2"
    t1=$(now)
    rm -f "$work/out.ts"
    sync
    t2=$(now)
    dd if="$source" of="$work/dd.ts" bs=1M status=none
    t3=$(now)
    copy_s=$(elapsed "$t0" "$t1")
    dd_s=$(elapsed "$t2" "$t3")
    echo "round $round: copy $copy_s s, dd $dd_s s"
    best_copy=$(echo "$copy_s ${best_copy:-$copy_s}" | awk '{ print ($1 < $2) ? $1 : $2 }')
    best_dd=$(echo "$dd_s ${best_dd:-$dd_s}" | awk '{ print ($1 < $2) ? $1 : $2 }')
    ratios="$ratios $(echo "$copy_s $dd_s" | awk '{ printf "%.3f", $2 / $1 }')"
done

"$cli" copy "$source" -o "$work/out.ts" --overwrite --quiet --cut "$cut1" --cut "$cut2"
out_size=$(stat -c %s "$work/out.ts")
copy_rate=$(rate "$size" "$best_copy")
dd_rate=$(rate "$size" "$best_dd")
median=$(echo $ratios | tr ' ' '\n' | sort -n | awk '{ r[NR] = $1 } END { print r[int((NR + 1) / 2)] }')
echo "source ($kind): $size bytes; copy: $out_size bytes (cuts $cut1, $cut2 sectors)"
echo "ravelo-cli copy: $copy_rate MiB/s of source (best of $rounds)"
echo "dd bs=1M:        $dd_rate MiB/s (best of $rounds)"
echo "$copy_rate $dd_rate $median" |
    awk '{ printf "ratio: %.2f of dd, best against best (median of the rounds %.2f; target >= 0.80)\n", $1 / $2, $3 }'
rm -f "$work/out.ts" "$work/dd.ts"
