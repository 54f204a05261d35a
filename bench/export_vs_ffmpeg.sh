#!/usr/bin/env bash
# The engine's export against ffmpeg on the composition users make most, timed in one run: three
# 10 s MJPEG movies with sine tones (ffmpeg's testsrc2, smptebars and mandelbrot), joined by 1 s
# dissolves, with a white title over a half-transparent black box from 2 s to 8 s; 700 frames of
# MJPEG + PCM AVI at 25 fps. Runs the engine (pause off) and ffmpeg each pinned to one CPU and on
# all CPUs, at 640 x 480 (and one CPU at 320 x 240), then the MJPEG decode of a 640 x 480 movie
# against libavcodec + libswscale in one process, the quality of both exports against a lossless
# render of the same frames, and peak memory. Prints the ratios.
#   bench/export_vs_ffmpeg.sh [ROUNDS]   each timing is the best of ROUNDS runs (default 3)
set -euo pipefail
cd "$(dirname "$0")/.."
ROUNDS=${1:-3}
BUILD=${BUILD:-build/release}
if ! command -v ffmpeg >/dev/null; then
  echo "ffmpeg is not installed (scripts/install-deps.sh installs it)"; exit 1
fi
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTARVOLIN_SANITIZE=OFF \
  -DTARVOLIN_BENCH=ON >/dev/null
cmake --build "$BUILD" -j4 --target bench_ExportBench >/dev/null
BENCH="$BUILD/bench/bench_ExportBench"
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
font=/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf
cpu0="taskset -c 0"

make_inputs() { # W H FOLDER
  local w=$1 h=$2 out=$3 i=0 names=(a b c)
  mkdir -p "$out"
  for src in testsrc2 smptebars mandelbrot; do
    local name=${names[i]}
    ffmpeg -loglevel error -y -f lavfi -i "$src=s=${w}x${h}:r=25" \
      -f lavfi -i "sine=frequency=$((330 + 110 * i)):sample_rate=44100" -t 10 -ac 2 \
      -c:v mjpeg -q:v 3 -pix_fmt yuvj420p -c:a pcm_s16le "$out/$name.avi"
    i=$((i + 1))
  done
}

# ffmpeg's composition, pinned to CPU 0 when PIN is "pin"; extra options (threads) go in front
# of the inputs, the output options are OUT_OPTS. Prints the peak memory in kB.
ffmpeg_export() { # PIN FOLDER W H OUTPUT [options...]
  local pin=$1 in=$2 w=$3 h=$4 out=$5; shift 5
  local fs=$((36 * h / 480)) run=()
  [ "$pin" = pin ] && run=(taskset -c 0)
  "${run[@]}" ffmpeg -hide_banner -nostats -loglevel info -benchmark -y "$@" -i "$in/a.avi" -i "$in/b.avi" -i "$in/c.avi" \
    -filter_complex "[0:v]drawbox=y=ih/2-${fs}:w=iw:h=$((fs * 2)):color=black@0.5:t=fill:enable='between(t,2,8)',drawtext=fontfile=$font:text='A title over the first clip':fontcolor=white:fontsize=$fs:x=(w-tw)/2:y=(h-th)/2:enable='between(t,2,8)'[v0];[v0][1:v]xfade=transition=fade:duration=1:offset=9[v01];[v01][2:v]xfade=transition=fade:duration=1:offset=18[v];[0:a][1:a]acrossfade=d=1[a01];[a01][2:a]acrossfade=d=1[a]" \
    -map "[v]" -map "[a]" "${OUT_OPTS[@]}" "$out" 2>&1 | grep -o 'maxrss=[0-9]*' | cut -d= -f2
}

best_of() { # prints the best wall time (s) and the last line's peak memory of ROUNDS runs
  local best="" mem="" t0 t1 out
  for ((r = 0; r < ROUNDS; r++)); do
    t0=$(date +%s.%N)
    out=$("$@")
    t1=$(date +%s.%N)
    mem=$(echo "$out" | grep -o '[0-9]* kB' | tail -1 | cut -d' ' -f1)
    [ -z "$mem" ] && mem=$(echo "$out" | tail -1)
    best=$(awk -v b="$best" -v t0="$t0" -v t1="$t1" \
      'BEGIN { t = t1 - t0; print (b == "" || t < b) ? t : b }')
  done
  echo "$best $mem"
}

FRAMES=700
report() { # LABEL ENGINE_RESULT FFMPEG_RESULT
  read -r es em <<<"$2"; read -r fs fm <<<"$3"
  awk -v l="$1" -v es="$es" -v fs="$fs" -v em="$em" -v fm="$fm" -v n=$FRAMES 'BEGIN {
    printf "%-26s engine %7.1f frames/s  ffmpeg %7.1f frames/s  ratio %.2f  peak memory %d / %d MB\n",
      l, n / es, n / fs, fs / es, em / 1024, fm / 1024 }'
}

echo "making the movies with ffmpeg..."
make_inputs 640 480 "$dir/640"
make_inputs 320 240 "$dir/320"

OUT_OPTS=(-c:v mjpeg -q:v 3 -pix_fmt yuvj420p -c:a pcm_s16le)
echo "timing (best of $ROUNDS)..."
one=(-threads 1 -filter_threads 1 -filter_complex_threads 1)
e1=$(best_of $cpu0 "$BENCH" export "$dir/640" 640 480 1)
f1=$(best_of ffmpeg_export pin "$dir/640" 640 480 "$dir/ffmpeg-640-1.avi" "${one[@]}")
eN=$(best_of "$BENCH" export "$dir/640" 640 480 0)
fN=$(best_of ffmpeg_export all "$dir/640" 640 480 "$dir/ffmpeg-640-N.avi")
s1=$(best_of $cpu0 "$BENCH" export "$dir/320" 320 240 1)
g1=$(best_of ffmpeg_export pin "$dir/320" 320 240 "$dir/ffmpeg-320-1.avi" "${one[@]}")
echo
report "640x480, one CPU:" "$e1" "$f1"
report "640x480, all CPUs:" "$eN" "$fN"
report "320x240, one CPU:" "$s1" "$g1"
echo "(ratio = ffmpeg's time / the engine's time; above 1 the engine is faster)"

echo
# Both decoders run on one thread; pinned, neither gains from the machine's other cores.
$cpu0 "$BENCH" decode "$dir/640/a.avi"

# Quality: each export against a lossless render of its own composition.
psnr() { ffmpeg -hide_banner -nostats -loglevel info -i "$1" -i "$2" \
  -lavfi "[0:v]format=rgb24[x];[1:v]format=rgb24[y];[x][y]psnr" -f null - 2>&1 |
  grep -o 'average:[0-9.inf]*' | cut -d: -f2; }
"$BENCH" export "$dir/640" 640 480 0 lossless >/dev/null
OUT_OPTS=(-c:v rawvideo -pix_fmt bgr24 -c:a pcm_s16le)
ffmpeg_export all "$dir/640" 640 480 "$dir/ffmpeg-640-lossless.avi" >/dev/null
echo
echo "PSNR against a lossless render of the same frames (640x480), decoded by libavcodec +"
echo "libswscale / by our reader (libjpeg-turbo, JPEG chroma siting):"
e="$dir/640/engine-640x480-0.avi"; el="$dir/640/engine-640x480-0-lossless.avi"
f="$dir/ffmpeg-640-N.avi"; fl="$dir/ffmpeg-640-lossless.avi"
echo "  engine MJPEG  $(psnr "$e" "$el") / $("$BENCH" psnr "$e" "$el" 2>/dev/null) dB"
echo "  ffmpeg MJPEG  $(psnr "$f" "$fl") / $("$BENCH" psnr "$f" "$fl" 2>/dev/null) dB"
