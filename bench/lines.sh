#!/usr/bin/env bash
# Text decoders against the usual tools on 64 MiB of decoded data:
# uuencoded text against uudecode, bare base64 against `base64 -d`, a
# "begin-base64" file against uudecode, and yEnc against uudeview (when
# installed). Prints dorvane time / tool time.
source "$(dirname "$0")/lib.sh"
bench_setup

data=$BENCH_DIR/data.bin
out=$BENCH_DIR/out
[ -f "$data" ] || head -c $((64 << 20)) /dev/urandom > "$data"
uuencode "$data" data.bin > "$BENCH_DIR/data.uu"
base64 "$data" > "$BENCH_DIR/data.b64"
uuencode -m "$data" data.bin > "$BENCH_DIR/section.b64"
prepare="sh -c 'rm -rf $out && mkdir -p $out'"

compare "uuencode 64 MiB vs uudecode" "$prepare" \
  "$DORVANE '#P($out)#F($BENCH_DIR/data.uu)'" \
  "uudecode -o $out/data.bin $BENCH_DIR/data.uu"
compare "base64 64 MiB vs base64 -d" "$prepare" \
  "$DORVANE '#P($out)#F($BENCH_DIR/data.b64)'" \
  "sh -c 'base64 -d $BENCH_DIR/data.b64 > $out/data'"
compare "begin-base64 64 MiB vs uudecode" "$prepare" \
  "$DORVANE '#P($out)#F($BENCH_DIR/section.b64)'" \
  "uudecode -o $out/data.bin $BENCH_DIR/section.b64"
if command -v uuenview >/dev/null && command -v uudeview >/dev/null; then
  uuenview -y "$data" > "$BENCH_DIR/data.ntx" 2>/dev/null
  compare "yEnc 64 MiB vs uudeview" "$prepare" \
    "$DORVANE '#P($out)#F($BENCH_DIR/data.ntx)'" \
    "uudeview -i -q -p $out $BENCH_DIR/data.ntx"
fi
# The decoded files must equal the data.
for input in data.uu data.b64 section.b64 data.ntx; do
  [ -f "$BENCH_DIR/$input" ] || continue
  rm -rf "$out" && mkdir -p "$out"
  "$DORVANE" "#P($out)#F($BENCH_DIR/$input)"
  for f in "$out"/*; do cmp -s "$f" "$data" || echo "bench: $input gave $f, not the data" >&2; done
done
