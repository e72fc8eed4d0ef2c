#!/usr/bin/env bash
# Whole-process time of extracting a 256 MiB TAR archive of many files
# against GNU tar, bsdtar and 7-Zip, of its .tar.gz against `tar -xzf`, and
# of its .tar.xz (xz -T2: several blocks) and .tar.zst against `tar -xJf`
# and `tar --zstd -xf`.
# Inputs are generated under /tmp.
source "$(dirname "$0")/lib.sh"
bench_setup

cd "$BENCH_DIR"
if [ ! -f data.tar ]; then
  make_mixed_data mixed.bin 64
  # 256 MiB in files of 1 KiB to 1 MiB (most of them small), in nested
  # folders, cut from the mixed data at varying offsets.
  python3 - <<'PY'
import os, random
rng = random.Random(99)
src = open("mixed.bin", "rb").read()
total, n = 0, 0
while total < 256 << 20:
    size = min(int(rng.paretovariate(1.2) * 4096), 1 << 20)
    folder = "tree/d%02d/e%02d" % (n % 37, n % 11)
    os.makedirs(folder, exist_ok=True)
    start = rng.randrange(0, len(src) - size)
    open("%s/f%06d.dat" % (folder, n), "wb").write(src[start:start + size])
    total += size
    n += 1
print("files:", n)
PY
  tar -cf data.tar tree
  gzip -c data.tar > data.tar.gz
  rm -rf tree mixed.bin
fi
[ -f data.tar.xz ] || xz -T2 -6 -c data.tar > data.tar.xz
[ -f data.tar.zst ] || zstd -q -T2 -c data.tar > data.tar.zst
echo "input: $(du -h data.tar | cut -f1) tar, $(du -h data.tar.gz | cut -f1) tar.gz"

clean="rm -rf $BENCH_DIR/out"
for how in aside removed; do
  # "aside": the last output is moved away (removed at the end), as on a
  # file system where no mass deletion just happened; so this runs first.
  # "removed": each run starts after the last run's 15,000 files were
  # deleted; for minutes after that, ext4 searches past the freed inodes on
  # every file it creates, and file creation dominates every tool's time.
  prepare=$clean
  if [ "$how" = aside ]; then
    mkdir -p "$BENCH_DIR/aside"
    prepare="sh -c 'if [ -d $BENCH_DIR/out ]; then mv $BENCH_DIR/out $BENCH_DIR/aside/\$\$; fi'"
  fi
  compare_fastest "tar.gz, output $how" "$prepare" "$DORVANE '#P($BENCH_DIR/out)#F($BENCH_DIR/data.tar.gz)'" \
    "tar -xzf=tar -xzf $BENCH_DIR/data.tar.gz --one-top-level=$BENCH_DIR/out" \
    "bsdtar -xzf=sh -c 'mkdir -p $BENCH_DIR/out && bsdtar -xzf $BENCH_DIR/data.tar.gz -C $BENCH_DIR/out'"
done
rm -rf "$BENCH_DIR/aside"
for kind in xz:J zst:--zstd; do
  ext=${kind%%:*} flag=${kind#*:}
  [ "$flag" = J ] && flag=-J
  compare_fastest "tar.$ext" "$clean" "$DORVANE -q -o $BENCH_DIR/out $BENCH_DIR/data.tar.$ext" \
    "tar $flag -xf=tar $flag -xf $BENCH_DIR/data.tar.$ext --one-top-level=$BENCH_DIR/out"
done
ours="$DORVANE '#P($BENCH_DIR/out)#F($BENCH_DIR/data.tar)'"
compare "tar vs tar -xf" "$clean" "$ours" "tar -xf $BENCH_DIR/data.tar --one-top-level=$BENCH_DIR/out"
compare "tar vs bsdtar -xf" "$clean" "$ours" "sh -c 'mkdir -p $BENCH_DIR/out && bsdtar -xf $BENCH_DIR/data.tar -C $BENCH_DIR/out'"
compare "tar vs 7zz x" "$clean" "$ours" "7zz x -y -bd -o$BENCH_DIR/out $BENCH_DIR/data.tar"

