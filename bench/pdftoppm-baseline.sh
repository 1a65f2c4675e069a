#!/usr/bin/env bash
# Times pdftoppm (poppler) on the deck that bench_pdf renders, as a yardstick for its figures
# (bench_pdf's BM_PdftoppmDeck runs the first of these in the same run as the page cache):
#   deck       one process over the whole deck, each page at the page cache's pixel size (twice the
#              density of half the page, as the cache renders it), written as PPM; the time per page;
#   thumbnail  the first page as an 800-wide JPEG at quality 80 (the LAN thumbnail), rendered at that width;
#   start-up   the first page at 1 x 1 pixel: roughly what starting pdftoppm and opening the file cost.
# Each run includes starting the process and writing the files. Uses hyperfine when installed, else a loop.
#   bench/pdftoppm-baseline.sh [build dir] [runs] [pages]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
runs=${2:-5}
pages=${3:-100}
bench="$build/bench/bench_pdf"

[ -x "$bench" ] || { echo "no $bench: cmake --build --preset default --target bench_pdf" >&2; exit 1; }
command -v pdftoppm >/dev/null || { echo "pdftoppm is missing: scripts/setup installs poppler-utils" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
read -r width height < <(QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} "$bench" --write-fixture="$work/deck.pdf" "$pages" 2>/dev/null)
pageW=$(awk -v w="$width" 'BEGIN { printf "%d", w + 0.5 }')
pageH=$(awk -v h="$height" 'BEGIN { printf "%d", h + 0.5 }')
thumbH=$(awk -v w="$width" -v h="$height" 'BEGIN { printf "%d", 800 * h / w + 0.5 }')

deck="pdftoppm -scale-to-x $pageW -scale-to-y $pageH $work/deck.pdf $work/page"
startup="pdftoppm -f 1 -l 1 -singlefile -scale-to-x 1 -scale-to-y 1 $work/deck.pdf $work/dot"
thumbnail="pdftoppm -f 1 -l 1 -singlefile -scale-to-x 800 -scale-to-y $thumbH -jpeg -jpegopt quality=80 $work/deck.pdf $work/thumb"
echo "$pages pages of ${width} x ${height} pt; rendered ${pageW} x ${pageH} px; thumbnail 800 x ${thumbH} px"

time_ms() {
    local cmd=$1 start end
    $cmd # warm-up
    start=$(date +%s%N)
    for ((i = 0; i < runs; i++)); do $cmd; done
    end=$(date +%s%N)
    awk -v ns=$((end - start)) -v n="$runs" 'BEGIN { printf "%.2f", ns / n / 1e6 }'
}
ms=$(time_ms "$deck")
awk -v ms="$ms" -v p="$pages" 'BEGIN { printf "deck: %.1f ms, %.2f ms a page, mean of '"$runs"'\n", ms, ms / p }'
if command -v hyperfine >/dev/null; then
    hyperfine --shell=none --warmup 3 --runs 50 -n "thumbnail 800x${thumbH} jpeg q80" "$thumbnail" \
        -n "start-up (1x1)" "$startup"
else
    runs=50
    echo "thumbnail 800x${thumbH} jpeg q80: $(time_ms "$thumbnail") ms mean of $runs"
    echo "start-up (1x1): $(time_ms "$startup") ms mean of $runs"
fi
