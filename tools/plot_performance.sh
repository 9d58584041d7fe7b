#!/usr/bin/env bash
# Draws docs/performance.png from the table `make bench` writes
# (build/bench.csv): the filter's time per pixel-iteration against the
# image size, for the plain loops, the fast paths and the memory floors.
# Needs gnuplot (Debian: gnuplot-nox). Usage: plot_performance.sh [CSV] [PNG]
set -euo pipefail
csv=${1:-build/bench.csv}
png=${2:-docs/performance.png}
data=$(mktemp -d)
trap 'rm -rf "$data"' EXIT

# One file per variant: pixels, ns per pixel-iteration.
awk -F, -v dir="$data" 'NR > 1 && $1 ~ /^filter\// {
    split($1, part, "/"); split(part[2], size, "x")
    print size[1] * size[2], $3 > (dir "/" $2 ".dat")
}' "$csv"
for file in "$data"/*.dat; do sort -n -o "$file" "$file"; done

fast=$(ls "$data" | sed -n 's/^\(avx512\|avx2\)_2t\.dat$/\1/p' | head -1)
gnuplot <<PLOT
set terminal pngcairo size 900,560 font "sans,11"
set output "$png"
set title "TARV_c, 20 iterations: time per pixel-iteration against image size"
set xlabel "image size (pixels)"
set ylabel "ns per pixel-iteration"
set logscale xy
set format x "%.0s%c"
set grid xtics ytics mxtics mytics
set key outside right
set xrange [4e4:2.5e7]
plot "$data/plain.dat" using 1:2 with linespoints lw 2 pt 7 title "plain loops, 1 thread", \
     "$data/${fast}_1t.dat" using 1:2 with linespoints lw 2 pt 5 title "fast (${fast}), 1 thread", \
     "$data/${fast}_2t.dat" using 1:2 with linespoints lw 2 pt 9 title "fast (${fast}), 2 threads", \
     "$data/baseline_2t.dat" using 1:2 with linespoints lw 1 pt 4 title "fast (baseline x86-64), 2 threads", \
     "$data/floor_divider_2t.dat" using 1:2 with lines lw 1 dt 2 title "floor: the divisions alone, 2 threads", \
     "$data/floor_two_pass_2t.dat" using 1:2 with lines lw 1 dt 3 title "floor: streaming 5 planes, 2 threads", \
     "$data/floor_sweep_2t.dat" using 1:2 with lines lw 1 dt 4 title "floor: streaming the image, 2 threads"
PLOT
echo "wrote $png"
