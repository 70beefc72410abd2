#!/usr/bin/env bash
# Times the whole tool against the plain stdio program of the same formulas
# (trapft_plain, bench/baseline.cpp) and prints the ratios, tool ÷ plain:
#   (a) 16384 samples × 401 frequencies: the transform,
#   (b) 2 samples × 1.5 million frequencies: the result lines;
# then the speed-up of --jobs=2 on both, --jobs=1024 against --jobs=2, the Google Benchmark ratios
# (transform ÷ bare sin and cos, result line ÷ snprintf) and the peak memory
# of a count of 10 and of 3 million, with one thread and with two; and the
# fast evaluation's goals (with FFTW3).
# With a vector build (TRAPFT_VECTOR_MATH) in VECTOR_DIR, also its speed-up
# over the exact build on (a) and its largest differences from it.
# Whole-process ratios are medians over 3 × REPEATS alternating hyperfine
# rounds; in-process ones come from REPEATS Google Benchmark runs.
#
# Usage: bench/compare.sh [BUILD_DIR [REPEATS [VECTOR_DIR]]]
#        (defaults: build, 3, and build-vector when it holds a trapft)
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
repeats=${2:-3}
vector_dir=${3:-build-vector}
tool=$build/trapft
plain=$build/trapft_plain
bench=$build/trapft_bench
for binary in "$tool" "$plain" "$bench"; do
  [ -x "$binary" ] || { echo "missing $binary: build with -DTRAPFT_BENCHMARKS=ON first" >&2; exit 1; }
done

missing=()
command -v hyperfine >/dev/null || missing+=(hyperfine)
[ -x /usr/bin/time ] || missing+=(time)
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "please install: ${missing[*]} (apt-get install -y ${missing[*]})" >&2
    exit 1
  fi
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# (a): uneven times about a millisecond apart, values in [-1, 1].
awk 'BEGIN { srand(4); for (k = 0; k < 16384; ++k)
  printf "%.9g %.9g\n", k * 0.001 + rand() * 0.0005, rand() * 2 - 1 }' > "$work/a.txt"
printf '0.25 1\n1.75 -0.5\n' > "$work/b.txt"
args_a=("$work/a.txt" 0 400 401)
args_b=("$work/b.txt" 0 1000 1500000)

# Both programs must print the same bytes, or the timing compares nothing.
cmp <("$tool" "${args_a[@]}") <("$plain" "${args_a[@]}") || { echo "(a): outputs differ" >&2; exit 1; }
cmp <("$tool" "${args_b[@]}") <("$plain" "${args_b[@]}") || { echo "(b): outputs differ" >&2; exit 1; }

# One hyperfine round of two commands, a few runs each; appends to FILE one
# line: wall ratio (medians), CPU ratio (mean user + system), and both walls.
round_of() {
  local file=$1 runs=$2 first=$3 second=$4
  hyperfine -N --style none --warmup 1 --runs "$runs" --export-csv "$work/round.csv" \
    "$first" "$second" > /dev/null 2>> "$work/warnings"
  awk -F, 'NR == 2 { a = $4; ac = $5 + $6 } NR == 3 { b = $4; bc = $5 + $6 }
    END { printf "%.4f %.4f %.1f %.1f\n", a / b, ac / bc, a * 1000, b * 1000 }' "$work/round.csv" >> "$file"
}

# Median and range of the rounds in FILE.
summary() {
  sort -n -k1,1 "$1" | awk '{ wall[NR] = $1; a[NR] = $3; b[NR] = $4 }
    END { m = int((NR + 1) / 2); printf "%.3f wall (range %.3f-%.3f; median round %.1f / %.1f ms)", wall[m], wall[1], wall[NR], a[m], b[m] }'
  sort -n -k2,2 "$1" | awk '{ cpu[NR] = $2 } END { printf ", %.3f CPU\n", cpu[int((NR + 1) / 2)] }'
}

# Rounds alternate the two commands, so that others' load on a shared machine
# falls on both alike; the figure is the median over the rounds.
rounds=$((repeats * 3))
echo "CPU: $(lscpu | sed -n 's/^Model name: *//p'), $(nproc) cores; load: $(cut -d' ' -f1-3 /proc/loadavg)"
# Alternating rounds on (a) and (b) of FIRST_A against SECOND_A and of FIRST_B
# against SECOND_B; the rounds go to $work/NAME.a and NAME.b.
compare_a_and_b() {
  local name=$1
  : > "$work/$name.a"
  : > "$work/$name.b"
  for round in $(seq "$rounds"); do
    round_of "$work/$name.a" 3 "$2" "$3"
    round_of "$work/$name.b" 2 "$4" "$5"
  done
  echo "  (a) 16384 x 401:  $(summary "$work/$name.a")"
  echo "  (b) 2 x 1500000:  $(summary "$work/$name.b")"
}
echo "tool / plain program, whole process, median of $rounds rounds:"
compare_a_and_b plain "$tool ${args_a[*]}" "$plain ${args_a[*]}" "$tool ${args_b[*]}" "$plain ${args_b[*]}"

# Threads: one thread's wall time over two threads', on (a) and (b), so the
# figure is the speed-up; the bytes must be the same.
cmp <("$tool" "${args_a[@]}") <("$tool" --jobs=2 "${args_a[@]}") || { echo "(a): --jobs=2 differs" >&2; exit 1; }
cmp <("$tool" "${args_b[@]}") <("$tool" --jobs=2 "${args_b[@]}") || { echo "(b): --jobs=2 differs" >&2; exit 1; }
echo "--jobs=1 / --jobs=2 (the speed-up), whole process, median of $rounds rounds:"
compare_a_and_b jobs "$tool ${args_a[*]}" "$tool --jobs=2 ${args_a[*]}" "$tool ${args_b[*]}" "$tool --jobs=2 ${args_b[*]}"

# Far more jobs than cores: --jobs=1024 over --jobs=2, wall time (goal: at most 2).
echo "--jobs=1024 / --jobs=2, whole process, median of $rounds rounds:"
compare_a_and_b many "$tool --jobs=1024 ${args_a[*]}" "$tool --jobs=2 ${args_a[*]}" \
  "$tool --jobs=1024 ${args_b[*]}" "$tool --jobs=2 ${args_b[*]}"

peak() { /usr/bin/time -f %M "$tool" "$@" 2>&1 > /dev/null; }

# Google Benchmark: median CPU time of 7 interleaved repetitions; prints
# "name_a / name_b: ratio (a / b ns per unit)".
gbench_ratio() {
  "$bench" --benchmark_filter="^($1|$2)\$" --benchmark_repetitions=7 \
    --benchmark_enable_random_interleaving=true --benchmark_report_aggregates_only=true \
    --benchmark_format=csv 2> /dev/null |
  awk -F, -v a="$1" -v b="$2" -v per="$3" -v unit="$4" '/_median"/ { gsub(/"/, "", $1); sub(/_median$/, "", $1); cpu[$1] = $4 }
    END { printf "%s / %s: %.3f (%.2f / %.2f ns per %s)\n", a, b, cpu[a] / cpu[b], cpu[a] / per, cpu[b] / per, unit }'
}
echo "in-process (Google Benchmark):"
for run in $(seq "$repeats"); do
  echo "  run $run: $(gbench_ratio evaluate_spectrum/16384 sin_cos_floor/16384 16384 pair)"
  echo "         $(gbench_ratio format_result_line snprintf_line 1 line)"
done

if [ -x "$vector_dir/trapft" ]; then
  vector=$(cd "$vector_dir" && pwd)/trapft
  echo "vector build / exact build, whole process, median of $rounds rounds:"
  : > "$work/v.rounds"
  for round in $(seq "$rounds"); do
    round_of "$work/v.rounds" 3 "$vector ${args_a[*]}" "$tool ${args_a[*]}"
  done
  echo "  (a) 16384 x 401:  $(summary "$work/v.rounds")"
  # Largest differences from the exact build, over every line's three sums:
  # absolute, and relative to that line's magnitude.
  example=$(dirname "$0")/../examples/two_tone.txt
  echo "vector build's largest differences from the exact build:"
  for run_args in "$example 0 10 1001" "$example -3.7 1e4 777" "${args_a[*]}" "$work/b.txt 0.3 -7e8 100001"; do
    # shellcheck disable=SC2086  # the arguments are split on purpose
    paste -d' ' <("$tool" $run_args) <("$vector" $run_args) | awk -v name="$run_args" '
      function abs(v) { return v < 0 ? -v : v }
      { if ($1 != $5) { print "frequencies differ: " $0; exit 1 }
        differ += ($0 != $1 " " $2 " " $3 " " $4 " " $1 " " $2 " " $3 " " $4)
        for (i = 2; i <= 4; ++i) { d = abs($i - $(i + 4)); if (d > most) most = d
          if ($4 > 0 && d / $4 > relative) relative = d / $4 } }
      END { sub(/.*\//, "", name); printf "  %s: %d of %d lines differ; largest %.3g absolute, %.3g of |X|\n", name, differ, NR, most, relative }'
  done
fi

# The fast evaluation (a build with FFTW3): (c) 16384 samples × 1,000,000
# lines at tolerance 1e-12, against printing the same lines from two samples
# (CPU), against the exact evaluation (extrapolated from (a), per line), and
# with two threads; (d) 1,000,000 samples × 100,000 lines, one thread, and
# at 1e-6 with two threads against one.
if "$tool" -e 1e-12 "$work/b.txt" 0 1 1 > /dev/null 2>&1; then
  args_c=(-e 1e-12 "$work/a.txt" 0 400 1000000)
  args_p=("$work/b.txt" 0 400 1000000)
  : > "$work/c.rounds"
  : > "$work/cj.rounds"
  : > "$work/cn.rounds"
  for round in $(seq "$repeats"); do
    round_of "$work/c.rounds" 2 "$tool ${args_c[*]}" "$tool ${args_p[*]}"
    round_of "$work/cn.rounds" 2 "$tool --format=npy ${args_c[*]}" "$tool ${args_c[*]}"
    round_of "$work/cj.rounds" 2 "$tool ${args_c[*]}" "$tool --jobs=2 ${args_c[*]}"
  done
  echo "fast evaluation, median of $repeats rounds:"
  echo "  (c) 16384 x 1000000 at 1e-12 / printing 1000000 lines:  $(summary "$work/c.rounds")"
  echo "  (c) --jobs=1 / --jobs=2 (the speed-up):  $(summary "$work/cj.rounds")"
  echo "  (c) --format=npy / text (goal: CPU at most 0.2):  $(summary "$work/cn.rounds")"
  sort -n -k3,3 "$work/c.rounds" | awk -v a="$(sort -n -k1,1 "$work/plain.a" | awk '{ t[NR] = $3 } END { print t[int((NR + 1) / 2)] }')" \
    '{ c[NR] = $3 } END { exact = a / 401 * 1000000; printf "  (c) exact evaluation, %.0f s by (a) per line, / fast: %.0f\n", exact / 1000, exact / c[int((NR + 1) / 2)] }'
  awk 'BEGIN { srand(7); t = 0; for (k = 0; k < 1000000; ++k) { t += rand() * 0.002; printf "%.9g %.9g\n", t, rand() * 2 - 1 } }' > "$work/m.txt"
  hyperfine -N --style none --warmup 1 --runs 3 --export-csv "$work/d.csv" \
    "$tool --max-samples=1000000 -e 1e-12 $work/m.txt 0 400 100000" > /dev/null 2>> "$work/warnings"
  awk -F, 'NR == 2 { printf "  (d) 1000000 x 100000 at 1e-12, one thread: %.0f ms wall\n", $4 * 1000 }' "$work/d.csv"
  # (d) with two threads, .npy out of the measurement: one block shared by both.
  args_d=(--format=npy --max-samples=1000000 -e 1e-6 "$work/m.txt" 0 400 100000)
  cmp <("$tool" "${args_d[@]}") <("$tool" --jobs=2 "${args_d[@]}") || { echo "(d): --jobs=2 differs" >&2; exit 1; }
  : > "$work/dj.rounds"
  for round in $(seq "$repeats"); do
    round_of "$work/dj.rounds" 3 "$tool ${args_d[*]}" "$tool --jobs=2 ${args_d[*]}"
  done
  echo "  (d) at 1e-6, --jobs=1 / --jobs=2 (the speed-up):  $(summary "$work/dj.rounds")"
  echo "  peak memory, fast: count 10: $(peak -e 1e-12 "$work/a.txt" 0 400 10) KiB, count 3000000: $(peak -e 1e-12 "$work/a.txt" 0 400 3000000) KiB"
fi

if [ -s "$work/warnings" ]; then echo "(hyperfine warned of outliers: the machine was busy)"; fi

echo "peak memory: count 10: $(peak "$work/b.txt" 0 1000 10) KiB, count 3000000: $(peak "$work/b.txt" 0 1000 3000000) KiB"
echo "  --jobs=2: count 10: $(peak --jobs=2 "$work/b.txt" 0 1000 10) KiB, count 3000000: $(peak --jobs=2 "$work/b.txt" 0 1000 3000000) KiB"
for format in csv npy; do
  echo "  --format=$format: count 10: $(peak --format=$format "$work/b.txt" 0 1000 10) KiB, count 3000000: $(peak --format=$format "$work/b.txt" 0 1000 3000000) KiB"
done
