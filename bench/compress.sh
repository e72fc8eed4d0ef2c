#!/usr/bin/env bash
# Whole-process time of extracting a 64 MiB .Z file, against
# `uncompress -c > file` (ncompress). Inputs are generated under /tmp.
source "$(dirname "$0")/lib.sh"
bench_setup
command -v compress >/dev/null || { echo "bench: compress (ncompress) is not installed" >&2; exit 1; }

cd "$BENCH_DIR"
[ -f data.Z ] || { make_mixed_data data.bin 64; compress -c data.bin > data.Z; rm data.bin; }
echo "input: $(du -h data.Z | cut -f1) compressed"

compare "64 MiB .Z vs uncompress" "rm -rf $BENCH_DIR/out" \
  "$DORVANE '#P($BENCH_DIR/out)#F($BENCH_DIR/data.Z)'" \
  "sh -c 'uncompress -c $BENCH_DIR/data.Z > $BENCH_DIR/out.bin'"
