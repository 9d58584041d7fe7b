#!/usr/bin/env bash
# Draws docs/performance.png from the table `make bench` writes
# (build/bench.csv): the filter's time per pixel-iteration for each image
# size, for the plain loops, the fast paths and the floors.
# Needs gnuplot (Debian: gnuplot-nox). Usage: plot_performance.sh [CSV] [PNG]
set -euo pipefail
csv=${1:-build/bench.csv}
png=${2:-docs/performance.png}
data=$(mktemp -d)
trap 'rm -rf "$data"' EXIT

# One file per variant, one line per image size in the order of the bench:
# index, rows x cols, megapixels, ns per pixel-iteration.
awk -F, -v dir="$data" 'NR > 1 && $1 ~ /^filter\/.*x20$/ {
    split($1, part, "/"); split(part[2], size, "x")
    if (!(part[2] in index_of)) index_of[part[2]] = count++
    printf "%d %sx%s %.2f %s\n", index_of[part[2]], size[1], size[2], size[1] * size[2] / 1e6, $3 \
        > (dir "/" $2 ".dat")
}' "$csv"

fast=$(ls "$data" | sed -n 's/^\(avx512\|avx2\)_2t\.dat$/\1/p' | head -1)
gnuplot <<PLOT
set terminal pngcairo size 960,720 font "sans,11" noenhanced
set output "$png"
set title "TARV_c, 20 iterations: time per pixel-iteration for each image size (fastest of 5 runs)"
set xlabel "image size: rows x columns (megapixels)" offset 0,-0.8
set ylabel "ns per pixel-iteration (log scale)"
set logscale y
set grid ytics mytics
set key outside below center vertical maxrows 4 width -8
set xrange [-0.5:4.8]
set yrange [0.05:40]
set xtics ("256x256\n(0.07)" 0, "512x512\n(0.26)" 1, "1024x1024\n(1.05)" 2, "2048x2048\n(4.19)" 3, "1024x4096\n(4.19)" 4)
# The goal for 2048 x 2048 with 2 threads.
set object circle at 3,0.6 size 0.035 fillstyle solid noborder fc rgb "#0072b2" front
set label "goal, 2 threads: 0.6" at 3.12,0.6 left textcolor rgb "#0072b2"
plot "$data/plain.dat" using 1:4 with linespoints lw 2 pt 7 ps 1.3 lc rgb "#7b2cbf" title "plain loops, 1 thread", \
     "$data/${fast}_1t.dat" using 1:4 with linespoints lw 2 pt 5 ps 1.3 lc rgb "#1b9e77" title "fast path (${fast}), 1 thread", \
     "$data/${fast}_2t.dat" using 1:4 with linespoints lw 3 pt 9 ps 1.6 lc rgb "#0072b2" title "fast path (${fast}), 2 threads", \
     "$data/baseline_2t.dat" using 1:4 with linespoints lw 1 pt 4 lc rgb "#d95f02" title "fast path (baseline x86-64), 2 threads", \
     "$data/floor_two_pass_2t.dat" using 1:4 with linespoints lw 1 dt 3 pt 1 lc rgb "#666666" title "floor: streaming the plain loops' planes, 52 B (2 threads)", \
     "$data/floor_divider_2t.dat" using 1:4 with linespoints lw 1 dt 2 pt 2 lc rgb "#e7298a" title "floor: the divisions alone (2 threads)", \
     "$data/exp_log_only_2t.dat" using 1:4 with linespoints lw 1 dt 5 pt 3 lc rgb "#a6761d" title "exp and log alone (2 threads)", \
     "$data/floor_sweep_2t.dat" using 1:4 with linespoints lw 1 dt 4 pt 6 lc rgb "#000000" title "floor: streaming the image, 8 B (2 threads)"
PLOT
echo "wrote $png"
