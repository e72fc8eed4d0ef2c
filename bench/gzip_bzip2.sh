#!/usr/bin/env bash
# Whole-process time of extracting a 128 MiB .gz and a 64 MiB .bz2 (mixed
# text and binary data) against gzip -dc and bzip2 -dc writing to a file.
source "$(dirname "$0")/lib.sh"
bench_setup
cd "$BENCH_DIR"
[ -f data128 ] || make_mixed_data data128 128
[ -f data64 ] || head -c $((64 << 20)) data128 > data64
[ -f data128.gz ] || gzip -6 -n -c data128 > data128.gz
[ -f data64.bz2 ] || bzip2 -9 -c data64 > data64.bz2
compare "gzip 128 MiB" "rm -rf out tool.out" \
  "$DORVANE '#P($BENCH_DIR/out)#F($BENCH_DIR/data128.gz)'" \
  "sh -c 'gzip -dc data128.gz > tool.out'"
compare "bzip2 64 MiB" "rm -rf out tool.out" \
  "$DORVANE '#P($BENCH_DIR/out)#F($BENCH_DIR/data64.bz2)'" \
  "sh -c 'bzip2 -dc data64.bz2 > tool.out'"
