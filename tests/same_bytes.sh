#!/usr/bin/env bash
# Compares a program's lines with the tool's:
# same_bytes.sh PROGRAM TOOL FILE START END COUNT [TOLERANCE [PART PARTS]]
# runs PROGRAM FILE START END COUNT TOLERANCE PART PARTS against the tool with
# the same sweep (a tolerance of 0 is the exact evaluation).
set -euo pipefail
program=$1 tool=$2 file=$3 start=$4 end=$5 count=$6 tolerance=${7:-0} part=${8:-1} parts=${9:-1}
options=(--part="$part/$parts")
[ "$tolerance" = 0 ] || options+=(--tolerance="$tolerance")
cmp <("$program" "$file" "$start" "$end" "$count" "$tolerance" "$part" "$parts") \
    <("$tool" "${options[@]}" -- "$file" "$start" "$end" "$count")
echo "the same $(wc -l < <("$tool" "${options[@]}" -- "$file" "$start" "$end" "$count")) lines as the tool"
