#!/usr/bin/env bash
# Times pdftoppm (poppler) on the slide that bench_pdf renders, as a yardstick for its figures:
#   render     the page at half its size in points (what the page cache keeps), written as PPM;
#   thumbnail  the page as an 800-wide JPEG at quality 80 (the LAN thumbnail), rendered at that width;
#   start-up   the page at 1 x 1 pixel: roughly what starting pdftoppm and opening the file cost.
# Each run includes starting the process and writing the file. Uses hyperfine when installed, else a loop.
#   bench/pdftoppm-baseline.sh [build dir] [runs]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
runs=${2:-50}
bench="$build/bench/bench_pdf"

[ -x "$bench" ] || { echo "no $bench: cmake --build --preset default --target bench_pdf" >&2; exit 1; }
command -v pdftoppm >/dev/null || { echo "pdftoppm is missing: scripts/setup installs poppler-utils" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
read -r width height < <(QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} "$bench" --write-fixture="$work/slide.pdf" 2>/dev/null)
halfW=$(awk -v w="$width" 'BEGIN { printf "%d", w / 2 + 0.5 }')
halfH=$(awk -v h="$height" 'BEGIN { printf "%d", h / 2 + 0.5 }')
thumbH=$(awk -v w="$width" -v h="$height" 'BEGIN { printf "%d", 800 * h / w + 0.5 }')

render="pdftoppm -f 1 -l 1 -singlefile -scale-to-x $halfW -scale-to-y $halfH $work/slide.pdf $work/page"
startup="pdftoppm -f 1 -l 1 -singlefile -scale-to-x 1 -scale-to-y 1 $work/slide.pdf $work/dot"
thumbnail="pdftoppm -f 1 -l 1 -singlefile -scale-to-x 800 -scale-to-y $thumbH -jpeg -jpegopt quality=80 $work/slide.pdf $work/thumb"
echo "page ${width} x ${height} pt; render ${halfW} x ${halfH} px; thumbnail 800 x ${thumbH} px"

if command -v hyperfine >/dev/null; then
    hyperfine --shell=none --warmup 3 --runs "$runs" -n "render ${halfW}x${halfH}" "$render" \
        -n "thumbnail 800x${thumbH} jpeg q80" "$thumbnail" -n "start-up (1x1)" "$startup"
else
    time_ms() {
        local cmd=$1 start end
        $cmd # warm-up
        start=$(date +%s%N)
        for ((i = 0; i < runs; i++)); do $cmd; done
        end=$(date +%s%N)
        awk -v ns=$((end - start)) -v n="$runs" 'BEGIN { printf "%.2f ms", ns / n / 1e6 }'
    }
    echo "render ${halfW}x${halfH}: $(time_ms "$render") mean of $runs"
    echo "thumbnail 800x${thumbH} jpeg q80: $(time_ms "$thumbnail") mean of $runs"
    echo "start-up (1x1): $(time_ms "$startup") mean of $runs"
fi
ls -l "$work"/page.ppm "$work"/thumb.jpg | awk '{ print $5, $9 }'
