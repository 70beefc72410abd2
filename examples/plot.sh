#!/bin/sh
# Draws the magnitude and phase of trapft output as a PNG.
#
#   examples/plot.sh [-l] [SPECTRUM|-] [OUTPUT.png] [TITLE]
#
# SPECTRUM is trapft's output (standard input when absent or "-"); OUTPUT
# defaults to spectrum.png, TITLE to the input's name. -l draws the magnitude
# on a logarithmic scale. The phase, atan2(imaginary, real) in degrees, is
# drawn only where the magnitude reaches a tenth of its peak: elsewhere it is
# mostly the phase of leakage and rounding noise, and would hide the rest.
#
#   ./build/trapft examples/two_tone.txt 0 6 601 | examples/plot.sh - two_tone.png "Two tones"
set -eu

log_scale=0
if [ "${1:-}" = -l ]; then
    log_scale=1
    shift
fi
input=${1:--}
output=${2:-spectrum.png}

if ! command -v gnuplot >/dev/null 2>&1; then
    echo "plot.sh: gnuplot is missing; on Debian or Ubuntu: apt-get install gnuplot-nox" >&2
    exit 1
fi

# gnuplot reads the data twice (peak, then plot), so standard input goes to a file.
data=$(mktemp)
trap 'rm -f "$data"' EXIT
if [ "$input" = - ]; then
    cat >"$data"
    title="trapft output"
else
    cat -- "$input" >"$data"
    title=$(basename -- "$input")
fi
title=${3:-$title}
if [ ! -s "$data" ]; then
    echo "plot.sh: no spectrum lines to draw" >&2
    exit 1
fi

gnuplot -c /dev/stdin "$data" "$output" "$title" "$log_scale" <<'EOF'
data = ARG1
set terminal pngcairo noenhanced size 900,640 font "Sans,10"
set output ARG2
stats data using 4 nooutput
peak = STATS_max
set multiplot layout 2,1 title ARG3
set grid
set lmargin 12
set ylabel "|X(f)|"
if (ARG4 eq "1") { set logscale y; set format y "%.0e" }
plot data using 1:4 with lines linewidth 1.5 linecolor rgb "#1f5fa8" notitle
unset logscale y
set format y "%g"
set xlabel "frequency (cycles per time unit)"
set ylabel "phase (degrees)"
set yrange [-180:180]
set ytics 90
plot data using 1:($4 >= 0.1 * peak ? atan2($3, $2) * 180 / pi : NaN) \
     with points pointtype 7 pointsize 0.4 linecolor rgb "#b8412b" notitle
unset multiplot
EOF
