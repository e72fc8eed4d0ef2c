#!/usr/bin/env bash
# Whole-process extraction of 64 MiB -lh5- and -lh7- archives (made with jlha
# from mixed text and binary data) against `lhasa x` and `7zz x`.
# Needs jlha (jlha-utils), lhasa, 7zz and hyperfine.
source "$(dirname "$0")/lib.sh"
bench_setup
for tool in jlha lhasa 7zz; do
  command -v "$tool" >/dev/null || { echo "bench: $tool is not installed" >&2; exit 1; }
done

mkdir -p "$BENCH_DIR" && cd "$BENCH_DIR"
mkdir -p src out
[ -f src/mixed.bin ] || make_mixed_data src/mixed.bin 64
for m in 5 7; do
  # jlha: a = add, o<n> = method -lh<n>-.
  [ -f lh$m.lzh ] || (cd src && jlha ao$m "$BENCH_DIR/lh$m.lzh" mixed.bin >/dev/null)
  prepare="rm -rf $BENCH_DIR/out && mkdir -p $BENCH_DIR/out"
  compare "-lh$m- 64 MiB vs lhasa x" "$prepare" \
    "$DORVANE '#P($BENCH_DIR/out)#F($BENCH_DIR/lh$m.lzh)'" \
    "sh -c 'cd $BENCH_DIR/out && lhasa x $BENCH_DIR/lh$m.lzh >/dev/null'"
  compare "-lh$m- 64 MiB vs 7zz x" "$prepare" \
    "$DORVANE '#P($BENCH_DIR/out)#F($BENCH_DIR/lh$m.lzh)'" \
    "7zz x -y -o$BENCH_DIR/out $BENCH_DIR/lh$m.lzh"
done
