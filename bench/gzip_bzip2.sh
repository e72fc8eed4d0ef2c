#!/usr/bin/env bash
# Whole-process time and peak memory of extracting a .gz (48 MiB of mixed text
# and binary data, and 128 MiB) and a 64 MiB .bz2 against the usual and the
# fastest tools for each, all writing to a file: gzip -dc, igzip -dc
# (ISA-L) and libdeflate-gunzip; bzip2 -dc and lbzip2 -dc (every core).
source "$(dirname "$0")/lib.sh"
bench_setup
for tool in gzip igzip libdeflate-gunzip bzip2 lbzip2; do
  command -v "$tool" >/dev/null || { echo "bench: $tool is not installed" >&2; exit 1; }
done
echo "bench: $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"
cd "$BENCH_DIR"
[ -f data128 ] || make_mixed_data data128 128
[ -f data48 ] || head -c $((48 << 20)) data128 > data48
[ -f data64 ] || head -c $((64 << 20)) data128 > data64
[ -f data48.gz ] || gzip -6 -n -c data48 > data48.gz
[ -f data128.gz ] || gzip -6 -n -c data128 > data128.gz
[ -f data64.bz2 ] || bzip2 -9 -c data64 > data64.bz2

clean="rm -rf $BENCH_DIR/out $BENCH_DIR/tool.out"
for gz in data48.gz data128.gz; do
  compare_fastest "$gz" "$clean" "$DORVANE '#P($BENCH_DIR/out)#F($BENCH_DIR/$gz)'" \
    "gzip -dc=sh -c 'gzip -dc $BENCH_DIR/$gz > $BENCH_DIR/tool.out'" \
    "igzip -dc=sh -c 'igzip -dc $BENCH_DIR/$gz > $BENCH_DIR/tool.out'" \
    "libdeflate-gunzip -c=sh -c 'libdeflate-gunzip -c $BENCH_DIR/$gz > $BENCH_DIR/tool.out'"
done
compare_fastest "data64.bz2" "$clean" "$DORVANE '#P($BENCH_DIR/out)#F($BENCH_DIR/data64.bz2)'" \
  "bzip2 -dc=sh -c 'bzip2 -dc $BENCH_DIR/data64.bz2 > $BENCH_DIR/tool.out'" \
  "lbzip2 -dc=sh -c 'lbzip2 -dc $BENCH_DIR/data64.bz2 > $BENCH_DIR/tool.out'"
