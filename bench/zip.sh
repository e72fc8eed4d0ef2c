#!/usr/bin/env bash
# Whole-process extraction of deflated ZIP archives, against unzip, bsdtar and
# 7zz: a 256 MiB archive of many files and one member of 128 MiB. Prints each
# tool's time and peak memory and the ratio dorvane / fastest tool.
#   bench/zip.sh            (BENCH_RUNS=5 by default)
source "$(dirname "$0")/lib.sh"
bench_setup
for tool in zip unzip bsdtar 7zz; do
  command -v "$tool" >/dev/null || { echo "bench: $tool is not installed" >&2; exit 1; }
done

cd "$BENCH_DIR"
if [ ! -f many.zip ]; then
  make_mixed_data mixed.bin 256
  mkdir -p many
  # 2048 files of 128 KiB in 32 folders.
  split -b 131072 -a 4 -d mixed.bin many/part
  for i in $(seq 0 31); do mkdir -p "many/dir$i"; done
  n=0
  for f in many/part*; do mv "$f" "many/dir$((n % 32))/"; n=$((n + 1)); done
  zip -q -r many.zip many
  rm -rf many
  head -c $((128 << 20)) mixed.bin > one.bin
  zip -q one.zip one.bin
  rm -f mixed.bin one.bin
fi

run() {
  local archive=$1 label=$2
  # Quoted so that hyperfine runs it alike with and without a shell.
  local prep="bash -c 'rm -rf $BENCH_DIR/out && mkdir -p $BENCH_DIR/out'"
  compare_fastest "$label" "$prep" "$DORVANE '#P($BENCH_DIR/out)#F($BENCH_DIR/$archive)'" \
    "unzip -o -q=unzip -o -q $BENCH_DIR/$archive -d $BENCH_DIR/out" \
    "bsdtar -xf=bsdtar -xf $BENCH_DIR/$archive -C $BENCH_DIR/out" \
    "7zz x -y=7zz x -y -o$BENCH_DIR/out $BENCH_DIR/$archive"
}
echo "bench: $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"
run many.zip "256 MiB, 2048 files"
run one.zip "one 128 MiB member"
