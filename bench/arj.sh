#!/usr/bin/env bash
# Whole-process extraction of a 64 MiB ARJ archive, made with -m1 and with
# -m4, against `arj x -y` and `7zz x -y`; prints each time and the ratio to
# the faster of the two tools.
source "$(dirname "$0")/lib.sh"
bench_setup
command -v arj >/dev/null || { echo "bench: arj is not installed" >&2; exit 1; }
command -v 7zz >/dev/null || { echo "bench: 7zz is not installed" >&2; exit 1; }

data="$BENCH_DIR/mixed.bin"
[ -f "$data" ] || make_mixed_data "$data" 64
out="$BENCH_DIR/out"
for m in 1 4; do
  archive="$BENCH_DIR/m$m.arj"
  [ -f "$archive" ] || (cd "$BENCH_DIR" && arj a -y -m$m "m$m.arj" mixed.bin >/dev/null)
  prepare="rm -rf $out && mkdir -p $out"
  ours=$(median_seconds "$prepare" "$DORVANE '#P($out)#F($archive)'")
  arj=$(median_seconds "$prepare" "sh -c 'cd $out && arj x -y $archive >/dev/null'")
  sevenz=$(median_seconds "$prepare" "7zz x -y -o$out $archive")
  python3 -c 'import sys
m, a, b, c = sys.argv[1], *map(float, sys.argv[2:])
print(f"arj -m{m} 64 MiB: dorvane {a:7.3f}s  arj {b:7.3f}s  7zz {c:7.3f}s  ratio to the faster {a / min(b, c):5.2f}")' \
    "$m" "$ours" "$arj" "$sevenz"
done
