#!/usr/bin/env bash
# Whole-process time and peak memory of extracting 64 MiB of mixed text and
# binary data from .xz (one block, and blocks of 8 MiB that decode on every
# core), .zst, .lz and .lz4 against each format's own tool writing to a file
# (xz -dc, xz -dc -T2, zstd -dc, lzip -dc, lz4 -dc).
source "$(dirname "$0")/lib.sh"
bench_setup
for tool in xz zstd lzip lz4; do
  command -v "$tool" >/dev/null || { echo "bench: $tool is not installed" >&2; exit 1; }
done
echo "bench: $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"
cd "$BENCH_DIR"
[ -f data64 ] || make_mixed_data data64 64
[ -f one.xz ] || xz -6 -T1 -c data64 > one.xz
[ -f blocks.xz ] || xz -6 -T2 --block-size=8MiB -c data64 > blocks.xz
[ -f data64.zst ] || zstd -q -19 -T2 -c data64 > data64.zst
[ -f data64.lz ] || lzip -6 -c data64 > data64.lz
[ -f data64.lz4 ] || lz4 -q -9 -c data64 > data64.lz4

clean="rm -rf $BENCH_DIR/out $BENCH_DIR/tool.out"
ours() { echo "$DORVANE -q -o $BENCH_DIR/out $BENCH_DIR/$1"; }
compare_fastest "one.xz" "$clean" "$(ours one.xz)" \
  "xz -dc=sh -c 'xz -dc $BENCH_DIR/one.xz > $BENCH_DIR/tool.out'"
compare_fastest "blocks.xz" "$clean" "$(ours blocks.xz)" \
  "xz -dc -T2=sh -c 'xz -dc -T2 $BENCH_DIR/blocks.xz > $BENCH_DIR/tool.out'"
compare_fastest "data64.zst" "$clean" "$(ours data64.zst)" \
  "zstd -dc=sh -c 'zstd -qdc $BENCH_DIR/data64.zst > $BENCH_DIR/tool.out'"
compare_fastest "data64.lz" "$clean" "$(ours data64.lz)" \
  "lzip -dc=sh -c 'lzip -dc $BENCH_DIR/data64.lz > $BENCH_DIR/tool.out'"
compare_fastest "data64.lz4" "$clean" "$(ours data64.lz4)" \
  "lz4 -dc=sh -c 'lz4 -qdc $BENCH_DIR/data64.lz4 > $BENCH_DIR/tool.out'"
