#!/usr/bin/env bash
# Opening cost against recording size: `ravelo-cli info` on a 10 MB and a
# 10 GB recording. The large one is sparse: real packets at its start and its
# end (where the stream scan and the picture search read), holes between.
# Usage: bench_open.sh RAVELO_CLI SAMPLE_TS [WORK_DIR]
set -euo pipefail
cli=$1
sample=$2
work=${3:-$(mktemp -d)}
mkdir -p "$work"
trap 'rm -f "$work"/bench_open_*.ts "$work"/bench_open.ini' EXIT
export RAVELO_SETTINGS=$work/bench_open.ini

sample_size=$(stat -c %s "$sample")
make_recording() {  # path, size in bytes
    local path=$1 size=$2
    rm -f "$path"
    truncate -s "$size" "$path"
    dd if="$sample" of="$path" conv=notrunc status=none
    # The sample once more at the end, packet-aligned.
    local tail=$(( (size - sample_size) / 188 * 188 ))
    dd if="$sample" of="$path" bs=188 seek=$(( tail / 188 )) conv=notrunc status=none
}

printf '%-14s %10s %10s\n' "size (bytes)" "runs" "seconds/run"
for size in 10000000 10000000000; do
    path=$work/bench_open_$size.ts
    make_recording "$path" "$size"
    "$cli" info "$path" > /dev/null  # warm the cache: both runs read from memory
    runs=5
    start=$(date +%s.%N)
    for _ in $(seq $runs); do "$cli" info "$path" > /dev/null; done
    end=$(date +%s.%N)
    printf '%-14s %10d %10.3f\n' "$size" "$runs" "$(echo "($end - $start) / $runs" | bc -l)"
done
