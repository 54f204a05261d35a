#!/usr/bin/env bash
# Runs the end-to-end export benchmark and the same composition through ffmpeg (a slide between
# the two movies, then black frames; MJPEG video and PCM sound) on the same inputs, so the two
# speeds can be read side by side in one run. Needs a Release build of the benchmarks.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${BUILD:-build/release-bench}
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTARVOLIN_TESTS=OFF \
  -DTARVOLIN_BENCH=ON >/dev/null
cmake --build "$BUILD" --target bench_ExportBench >/dev/null
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
"$BUILD/bench/bench_ExportBench" "$dir"

if ! command -v ffmpeg >/dev/null; then
  echo "ffmpeg is not installed (scripts/install-deps.sh installs it)"; exit 1
fi
# 4 s + 4 s with a 1 s slide = 7 s, then 1 s of black: 8 s at 25 fps = 200 frames.
start=$(date +%s.%N)
ffmpeg -loglevel error -y -i "$dir/a.avi" -i "$dir/b.avi" \
  -f lavfi -i "color=black:s=640x480:r=25:d=1" -f lavfi -i "anullsrc=r=22050:cl=stereo:d=1" \
  -filter_complex "[0:v][1:v]xfade=transition=slideleft:duration=1:offset=3[vx];[vx][2:v]concat=n=2:v=1:a=0[v];[0:a][1:a]acrossfade=d=1[ax];[ax][3:a]concat=n=2:v=0:a=1[a]" \
  -map "[v]" -map "[a]" -c:v mjpeg -q:v 3 -c:a pcm_s16le -ar 22050 "$dir/ffmpeg.avi"
end=$(date +%s.%N)
awk -v s="$start" -v e="$end" 'BEGIN { printf "ffmpeg, same composition:       %.1f frames/s (200 frames in %.3f s)\n", 200 / (e - s), e - s }'
