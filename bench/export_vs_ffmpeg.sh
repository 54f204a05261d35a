#!/usr/bin/env bash
# The engine's export against ffmpeg doing the same work: three 10 s MJPEG movies with 44.1 kHz
# stereo sine tones (ffmpeg's testsrc2, smptebars and mandelbrot), joined by 1 s cross-fades,
# with a white title over a half-transparent black box from 2 s to 8 s; 700 frames of MJPEG +
# 16-bit 44.1 kHz PCM AVI at 25 fps. Both sides draw a real cross-fade (the engine its dissolve
# transition, ffmpeg xfade=fade), write the same sound format, and code MJPEG at matching
# quality (checked: PSNR against a lossless render of each composition, and file sizes).
#
# Every run writes a new file (the one of the round before is deleted first), as an export to a
# new name does. Timings run in interleaved rounds (each round runs every case of both tools once,
# alternating which goes first) and each figure is the median of its rounds; ratios are ratios of
# medians (ffmpeg's time / the engine's; above 1 the engine is faster). The one-minute load of
# the machine is printed beside each figure. Cases: 640 x 480 and 1280 x 720, pinned to one CPU
# (engine 1 render thread, ffmpeg -threads 1) and to four CPUs (engine 4 render threads, ffmpeg
# its default threads); then the engine alone with 1, 2, 4 and 8 render threads on as many CPUs;
# then the MJPEG decode of a 640 x 480 movie against libavcodec + libswscale in one process.
# Every output is checked: frame count, duration, sound samples and no decode errors.
# With BEFORE naming the bench_ExportBench of another build of the engine (an earlier commit),
# that engine runs every case as well, in the same interleaved rounds, and a second table sets
# the two engines side by side.
#   [BEFORE=path/to/bench_ExportBench] bench/export_vs_ffmpeg.sh [ROUNDS]   (default 5)
set -euo pipefail
cd "$(dirname "$0")/.."
ROUNDS=${1:-5}
BUILD=${BUILD:-build/release}
if ! command -v ffmpeg >/dev/null; then
  echo "ffmpeg is not installed (scripts/install-deps.sh installs it)"; exit 1
fi
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTARVOLIN_SANITIZE=OFF \
  -DTARVOLIN_BENCH=ON >/dev/null
cmake --build "$BUILD" -j4 --target bench_ExportBench >/dev/null
BENCH="$BUILD/bench/bench_ExportBench"
BEFORE=${BEFORE:-}
if [ -n "$BEFORE" ] && [ ! -x "$BEFORE" ]; then
  echo "BEFORE: no program $BEFORE"; exit 1
fi
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
# Qt wants a runtime folder of its own; without one it says so on every run.
if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
  export XDG_RUNTIME_DIR="$dir/run"
  mkdir -m 700 "$XDG_RUNTIME_DIR"
fi
font=/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf
FRAMES=700
# ffmpeg codes MJPEG at the quality of the engine's (libjpeg-turbo quality 90, which a project
# cannot change), as the quality section below measures it. Both code a frame that nothing is
# drawn over from the planes its decoder gave, and a drawn frame from its composed picture. The
# quantiser is ffmpeg's own default matrix scaled, given at quantiser 1: "-qmin 1 -q:v 1
# -intra_matrix" with the matrix times FFSCALE; at 2, the file is byte for byte the one -q:v 2
# writes. Mind that the movies are coded by ffmpeg with that matrix too, so its re-quantisation
# loses less at some scales than at others (the measured quality is not monotonic in the scale).
# The quality section prints both sides so a drift shows.
FFSCALE=${FFSCALE:-2}
ffmpeg_matrix() { # SCALE: MPEG-1's default intra matrix times SCALE, in raster order
  awk -v q="$1" 'BEGIN {
    split("8 16 19 22 26 27 29 34 16 16 22 24 27 29 34 37 19 22 26 27 29 34 34 38 " \
      "22 22 26 27 29 34 37 40 22 26 27 29 32 35 40 48 26 27 29 32 35 40 48 58 " \
      "26 27 29 34 38 46 56 69 27 29 35 38 46 56 69 83", m, " ")
    for (i = 1; i <= 64; i++) {
      v = int(m[i] * q + 0.5); printf "%s%d", (i > 1 ? "," : ""), (v > 255 ? 255 : v)
    } }'
}
MJPEG_OPTS=(-c:v mjpeg -qmin 1 -q:v 1 -intra_matrix "$(ffmpeg_matrix "$FFSCALE")"
  -pix_fmt yuvj420p -c:a pcm_s16le -ar 44100 -ac 2)

make_inputs() { # W H FOLDER
  local w=$1 h=$2 out=$3 i=0 names=(a b c)
  mkdir -p "$out"
  for src in testsrc2 smptebars mandelbrot; do
    ffmpeg -loglevel error -y -f lavfi -i "$src=s=${w}x${h}:r=25" \
      -f lavfi -i "sine=frequency=$((330 + 110 * i)):sample_rate=44100" -t 10 -ac 2 \
      -c:v mjpeg -q:v 3 -pix_fmt yuvj420p -c:a pcm_s16le "$out/${names[i]}.avi"
    i=$((i + 1))
  done
}

# ffmpeg's composition on CPUS; THREADS "one" runs every part of it on one thread. Output
# options follow the output name. Prints the peak memory in kB.
ffmpeg_export() { # CPUS THREADS FOLDER W H OUTPUT [output options...]
  local cpus=$1 threads=$2 in=$3 w=$4 h=$5 out=$6; shift 6
  local fs=$((36 * h / 480)) opts=()
  [ "$threads" = one ] && opts=(-threads 1 -filter_threads 1 -filter_complex_threads 1)
  taskset -c "$cpus" ffmpeg -hide_banner -nostats -loglevel info -benchmark -y "${opts[@]}" \
    -i "$in/a.avi" -i "$in/b.avi" -i "$in/c.avi" \
    -filter_complex "[0:v]drawbox=y=ih/2-${fs}:w=iw:h=$((fs * 2)):color=black@0.5:t=fill:enable='between(t,2,8)',drawtext=fontfile=$font:text='A title over the first clip':fontcolor=white:fontsize=$fs:x=(w-tw)/2:y=(h-th)/2:enable='between(t,2,8)'[v0];[v0][1:v]xfade=transition=fade:duration=1:offset=9[v01];[v01][2:v]xfade=transition=fade:duration=1:offset=18[v];[0:a][1:a]acrossfade=d=1[a01];[a01][2:a]acrossfade=d=1[a]" \
    -map "[v]" -map "[a]" "$@" "$out" 2>&1 | grep -o 'maxrss=[0-9]*' | cut -d= -f2
}

# The engine's export on CPUS with THREADS render threads; prints the peak memory in kB. With
# LOOP_LOG set, the seconds of the export itself (without starting and ending the process) are
# appended to that file.
engine_export() { # CPUS THREADS FOLDER W H [lossless]
  local out
  out=$(taskset -c "$1" "${ENGINE:-$BENCH}" export "$3" "$4" "$5" "$2" ${6:-})
  [ -n "${LOOP_LOG:-}" ] && awk '{ print $3 }' <<<"$out" >>"$LOOP_LOG"
  grep -o 'peak [0-9]*' <<<"$out" | cut -d' ' -f2
}
before_export() { ENGINE="$BEFORE" engine_export "$@"; }

# Runs a command; appends "seconds peak_kB load cpu_seconds" to the file named first (the CPU
# time, user + system of the command and its children, is what a busy machine does not blur).
children_ticks() { awk '{ print $16 + $17 }' /proc/$$/stat; }
timed() { # RESULTS command...
  local log=$1 t0 t1 c0 c1 mem load; shift
  read -r load _ </proc/loadavg
  c0=$(children_ticks)
  t0=$(date +%s.%N)
  mem=$("$@")
  t1=$(date +%s.%N)
  c1=$(children_ticks)
  echo "$(awk -v a="$t0" -v b="$t1" 'BEGIN { print b - a }') ${mem:-0} $load" \
    "$(awk -v a="$c0" -v b="$c1" -v hz="$(getconf CLK_TCK)" 'BEGIN { print (b - a) / hz }')" >>"$log"
}

median() { # FILE COLUMN
  sort -g -k"$2","$2" "$1" | awk -v c="$2" '{ v[NR] = $c } END {
    print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# Checks a 700-frame export: frames, duration, sound samples, no decode errors.
check() { # FILE
  local errors frames samples log
  log=$(ffmpeg -v error -i "$1" -f null - 2>&1 || true)
  errors=$(grep -c . <<<"$log" || true)
  frames=$(ffprobe -v error -count_frames -select_streams v:0 -show_entries \
    stream=nb_read_frames -of csv=p=0 "$1")
  samples=$(($(ffmpeg -v error -i "$1" -map 0:a -f s16le -ac 2 - | wc -c) / 4))
  if [ "$errors" != 0 ] || [ "$frames" != $FRAMES ] || [ "$samples" != 1234800 ]; then
    echo "CHECK FAILED $1: $frames frames, $samples samples, $errors decode errors"
    head -3 <<<"$log"; exit 1
  fi
}

echo "making the movies with ffmpeg..."
make_inputs 640 480 "$dir/640"
make_inputs 1280 720 "$dir/1280"

# Case name, size folder, W, H, CPUs, engine threads, ffmpeg threads.
CASES=("640x480, one CPU|640|640|480|0|1|one"
  "640x480, four CPUs|640|640|480|0-3|4|default"
  "1280x720, one CPU|1280|1280|720|0|1|one"
  "1280x720, four CPUs|1280|1280|720|0-3|4|default")
CURVE=(1 2 4 8)
cpus_of() { [ "$1" -le 1 ] && echo 0 || echo "0-$(($1 - 1))"; }

echo "timing: $ROUNDS interleaved rounds..."
for ((r = 0; r < ROUNDS; r++)); do
  for c in "${!CASES[@]}"; do
    IFS='|' read -r _ sz w h cpus et ft <<<"${CASES[c]}"
    e=(timed "$dir/e$c" engine_export "$cpus" "$et" "$dir/$sz" "$w" "$h")
    f=(timed "$dir/f$c" ffmpeg_export "$cpus" "$ft" "$dir/$sz" "$w" "$h" "$dir/ff-$c.avi"
      "${MJPEG_OPTS[@]}")
    b=(timed "$dir/b$c" before_export "$cpus" "$et" "$dir/$sz" "$w" "$h")
    runs=(f e)
    (((r + c) % 2)) && runs=(e f)
    if [ -n "$BEFORE" ]; then
      if (((r + c) % 3 == 0)); then runs=(b "${runs[@]}"); else runs+=(b); fi
    fi
    # Each run writes a new file: no side pays for putting an older one aside.
    for k in "${runs[@]}"; do
      case $k in
        e) rm -f "$dir/$sz/engine-${w}x${h}-$et.avi"; "${e[@]}" ;;
        b) rm -f "$dir/$sz/engine-${w}x${h}-$et.avi"; "${b[@]}" ;;
        f) rm -f "$dir/ff-$c.avi"; "${f[@]}" ;;
      esac
    done
  done
  for n in "${CURVE[@]}"; do
    rm -f "$dir/640/engine-640x480-$n.avi"
    LOOP_LOG="$dir/x$n" timed "$dir/t$n" engine_export "$(cpus_of "$n")" "$n" "$dir/640" 640 480
  done
done

for c in "${!CASES[@]}"; do
  IFS='|' read -r _ sz w h _ et _ <<<"${CASES[c]}"
  check "$dir/$sz/engine-${w}x${h}-$et.avi"
  check "$dir/ff-$c.avi"
done

echo
echo "(wall: frames/s and ratio of median wall times; CPU: ratio of median CPU seconds)"
printf '%-20s %14s %14s %6s %6s %15s %s\n' case "engine fr/s" "ffmpeg fr/s" wall CPU \
  "peak MB eng/ff" "load (1 min)"
for c in "${!CASES[@]}"; do
  IFS='|' read -r label _ <<<"${CASES[c]}"
  awk -v l="$label" -v n=$FRAMES -v es="$(median "$dir/e$c" 1)" -v fs="$(median "$dir/f$c" 1)" \
    -v em="$(median "$dir/e$c" 2)" -v fm="$(median "$dir/f$c" 2)" \
    -v ec="$(median "$dir/e$c" 4)" -v fc="$(median "$dir/f$c" 4)" \
    -v la="$(median "$dir/e$c" 3)" 'BEGIN {
    printf "%-20s %14.1f %14.1f %6.2f %6.2f %7d / %-6d %.1f\n", l, n / es, n / fs, fs / es,
      fc / ec, em / 1024, fm / 1024, la }'
done
if [ -n "$BEFORE" ]; then
  echo
  echo "this engine against $BEFORE, same rounds (wall: ratio of median wall times, above 1"
  echo "this one is faster):"
  printf '%-20s %14s %14s %14s %6s %17s\n' case "before fr/s" "after fr/s" "ffmpeg fr/s" wall \
    "peak MB bef/aft"
  for c in "${!CASES[@]}"; do
    IFS='|' read -r label _ <<<"${CASES[c]}"
    awk -v l="$label" -v n=$FRAMES -v bs="$(median "$dir/b$c" 1)" -v es="$(median "$dir/e$c" 1)" \
      -v fs="$(median "$dir/f$c" 1)" -v bm="$(median "$dir/b$c" 2)" \
      -v em="$(median "$dir/e$c" 2)" 'BEGIN {
      printf "%-20s %14.1f %14.1f %14.1f %6.2f %8d / %-6d\n", l, n / bs, n / es, n / fs,
        bs / es, bm / 1024, em / 1024 }'
  done
fi
echo
echo "engine alone, 640x480, N render threads on N CPUs (speed-up against one thread; the"
echo "export alone leaves out starting the process: some 40 ms to load its libraries and Qt):"
one=$(median "$dir/t1" 1)
oneLoop=$(median "$dir/x1" 1)
for n in "${CURVE[@]}"; do
  awk -v n="$n" -v f=$FRAMES -v t="$(median "$dir/t$n" 1)" -v one="$one" \
    -v m="$(median "$dir/t$n" 2)" -v la="$(median "$dir/t$n" 3)" \
    -v c="$(median "$dir/t$n" 4)" -v x="$(median "$dir/x$n" 1)" -v oneX="$oneLoop" 'BEGIN {
    printf "  %d threads  %7.1f frames/s  speed-up %.2f  export alone %.2f  peak %d MB" \
      "  CPU %.2f s  load %.1f\n", n, f / t, one / t, oneX / x, m / 1024, c, la }'
done

echo
# Both decoders run on one thread; pinned, neither gains from the machine's other cores.
taskset -c 0 "$BENCH" decode "$dir/640/a.avi"

# Quality: each export against a lossless render of its own composition, and the sizes, at both
# picture sizes. The PSNR is of luma, where both lose only to their quantisers (4:2:0 chroma is
# resampled differently by each side's pipeline, which would swamp the coding loss).
psnr() { ffmpeg -hide_banner -nostats -loglevel info -i "$1" -i "$2" \
  -lavfi "[0:v]format=yuvj420p[x];[1:v]format=yuvj420p[y];[x][y]psnr" -f null - 2>&1 |
  grep -o ' y:[0-9.inf]*' | cut -d: -f2; }
echo
echo "MJPEG quality (luma PSNR against a lossless render of the same composition, decoded by"
echo "libavcodec + libswscale; file sizes), ffmpeg at its default matrix times $FFSCALE:"
# The four-CPU cases' files of each size.
for c in 1 3; do
  IFS='|' read -r _ sz w h _ et _ <<<"${CASES[c]}"
  el="$dir/$sz/engine-${w}x${h}-0-lossless.avi"; fl="$dir/ff-lossless.avi"
  engine_export 0-7 0 "$dir/$sz" "$w" "$h" lossless >/dev/null
  ffmpeg_export 0-7 default "$dir/$sz" "$w" "$h" "$fl" \
    -c:v rawvideo -pix_fmt bgr24 -c:a pcm_s16le -ar 44100 -ac 2 >/dev/null
  e="$dir/$sz/engine-${w}x${h}-$et.avi"; f="$dir/ff-$c.avi"
  pe=$(psnr "$e" "$el"); pf=$(psnr "$f" "$fl")
  se=$(stat -c %s "$e"); sf=$(stat -c %s "$f")
  rm -f "$el" "$fl"
  awk -v l="${w}x${h}" -v pe="$pe" -v pf="$pf" -v se="$se" -v sf="$sf" 'BEGIN {
    d = pe - pf; s = se / sf - 1
    printf "  %-9s engine %.2f dB %.1f MB   ffmpeg %.2f dB %.1f MB   PSNR %+.2f dB (%s)   " \
      "size %+.1f %% (%s)\n", l, pe, se / 1048576, pf, sf / 1048576, d,
      (d <= 0.5 && d >= -0.5) ? "within 0.5 dB" : "OFF", 100 * s,
      (s <= 0.1 && s >= -0.1) ? "within 10 %" : "OFF" }'
done
