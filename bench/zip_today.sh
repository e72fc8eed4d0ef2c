#!/usr/bin/env bash
# Whole-process extraction of one 64 MiB member (mixed text and binary data)
# in ZIP archives made by 7zz with today's methods and encryption: LZMA,
# XZ, bzip2, Deflate64, PPMd, and deflate under WinZip AES-256. Ratio
# dorvane / 7zz.
source "$(dirname "$0")/lib.sh"
bench_setup
command -v 7zz >/dev/null || { echo "bench: 7zz is not installed" >&2; exit 1; }
cd "$BENCH_DIR"
[ -f data64 ] || make_mixed_data data64 64
for method in LZMA XZ BZip2 Deflate64 PPMd; do
  [ -f "$method.zip" ] || 7zz a -tzip -mm="$method" -mmt=1 "$method.zip" data64 >/dev/null
done
[ -f aes.zip ] || 7zz a -tzip -psecret -mem=AES256 aes.zip data64 >/dev/null
echo "bench: $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"
prep="bash -c 'rm -rf $BENCH_DIR/out && mkdir -p $BENCH_DIR/out'"
for archive in LZMA.zip XZ.zip BZip2.zip Deflate64.zip PPMd.zip aes.zip; do
  compare_fastest "$archive" "$prep" "$DORVANE -q -p secret -o $BENCH_DIR/out $BENCH_DIR/$archive" \
    "7zz x -y=7zz x -y -psecret -o$BENCH_DIR/out $BENCH_DIR/$archive"
done
