#!/usr/bin/env bash
# Builds one fuzz target with clang, libFuzzer, ASan and UBSan, and runs it for
# a bounded time from the seed corpus in fuzz/corpus/TARGET, which it only reads.
#   fuzz/run.sh TARGET SECONDS      TARGET: load_samples, arguments, nufft or g15
# FUZZ_BUILD_DIR (default build-fuzz) holds the binary and any crashing input;
# FUZZ_CORPUS_DIR (default: a new temporary directory) receives new inputs.
set -euo pipefail
cd "$(dirname "$0")/.."

target=${1:?target}
seconds=${2:?seconds}
build=${FUZZ_BUILD_DIR:-build-fuzz}
libraries=()
case "$target" in
  load_samples) sources=(input/float_scanner.cpp input/plain_decimal.cpp input/nearest_double.cpp input/byte_reader.cpp input/parallel_read.cpp input/pairs.cpp input/load_samples.cpp spectrum/parallel.cpp) ;;
  arguments) sources=(cli/arguments.cpp input/float_scanner.cpp input/plain_decimal.cpp input/nearest_double.cpp input/byte_reader.cpp input/parallel_read.cpp input/pairs.cpp input/load_samples.cpp spectrum/parallel.cpp) ;;
  nufft) sources=(spectrum/nufft/{heuristics,kernel,transform,storage,prepare,grids,direct,stencils,evaluate,block,table_cache,interpolate}.cpp
                 spectrum/nufft/stages{,_portable,_avx2,_avx512}.cpp spectrum/instruction_set.cpp spectrum/parallel.cpp
                 spectrum/pages.cpp
                 tests/nufft_hooks.cpp)
         libraries=(-lfftw3) ;;
  g15) sources=(output/g15.cpp) ;;
  *) echo "unknown fuzz target: $target" >&2; exit 2 ;;
esac

mkdir -p "$build"
binary="$build/${target}_fuzz"
# (-Wno-psabi: the stages' vector helpers are always inlined: see CMakeLists.txt.)
clang++ -std=c++20 -O1 -g -I. -Iinclude -Itests -ffp-contract=off -fno-omit-frame-pointer \
  -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all \
  -Wall -Wextra -Wpedantic -Wconversion -Wshadow -Wno-psabi \
  -o "$binary" "fuzz/${target}_fuzz.cpp" "${sources[@]}" ${libraries[@]+"${libraries[@]}"}

corpus=${FUZZ_CORPUS_DIR:-}
if [ -z "$corpus" ]; then
  corpus=$(mktemp -d)
  trap 'rm -rf "$corpus"' EXIT
fi
mkdir -p "$corpus"

"$binary" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=4096 \
  -dict=fuzz/numbers.dict -artifact_prefix="$build/${target}-" -print_final_stats=1 \
  "$corpus" "fuzz/corpus/$target"
