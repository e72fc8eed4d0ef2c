#!/usr/bin/env bash
# Whole-process time of the options form's pipes: a 128 MiB .tar.gz read
# from a pipe ("-", read as it comes) against `tar -xzf -`, the same
# archive by its path against the pipe, and one 128 MiB member written to standard output (-c)
# against `gzip -dc`. Inputs are generated under /tmp.
source "$(dirname "$0")/lib.sh"
bench_setup

cd "$BENCH_DIR"
if [ ! -f pipe.tar.gz ]; then
  make_mixed_data big.bin 128
  tar -cf pipe.tar big.bin
  gzip -c pipe.tar > pipe.tar.gz
  gzip -c big.bin > big.bin.gz
  rm -f pipe.tar big.bin
fi
clean="rm -rf $BENCH_DIR/out"
compare "tar.gz from a pipe vs tar -xzf -" "$clean" \
  "sh -c 'cat $BENCH_DIR/pipe.tar.gz | $DORVANE -q -o $BENCH_DIR/out -'" \
  "sh -c 'mkdir -p $BENCH_DIR/out && cat $BENCH_DIR/pipe.tar.gz | tar -xzf - -C $BENCH_DIR/out'"
compare "tar.gz from a pipe vs by its path" "$clean" \
  "sh -c 'cat $BENCH_DIR/pipe.tar.gz | $DORVANE -q -o $BENCH_DIR/out -'" \
  "$DORVANE -q -o $BENCH_DIR/out $BENCH_DIR/pipe.tar.gz"
compare "gzip -c to a pipe vs gzip -dc" "true" \
  "sh -c '$DORVANE -c $BENCH_DIR/big.bin.gz | cat > /dev/null'" \
  "sh -c 'gzip -dc $BENCH_DIR/big.bin.gz | cat > /dev/null'"
