#!/usr/bin/env bash
# Whole-process extraction time of cabinets against the usual tools:
#   - a 128 MiB MSZIP cabinet made by gcab, against `gcab -x` and `7zz x -y`;
#   - a 64 MiB LZX cabinet (window 2^21) made by the tests' LZX encoder,
#     against `7zz x -y`.
# Needs gcab, 7zz, hyperfine, g++ and a built build/ (its libraries link the
# encoder). Inputs are made under /tmp and removed at the end.
source "$(dirname "$0")/lib.sh"
bench_setup
for tool in gcab 7zz g++; do
  command -v "$tool" >/dev/null || { echo "bench: $tool is not installed" >&2; exit 1; }
done
trap 'rm -rf "$BENCH_DIR"' EXIT
cd "$BENCH_DIR"

# The encoder is test code; build a small maker around it.
cat >make_lzx.cpp <<'CPP'
#include <cstdio>
#include <fstream>
#include <iterator>
#include "cab_builder.h"
int main(int argc, char** argv) {
  std::ifstream in(argv[1], std::ios::binary);
  std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)), {});
  cabtest::LzxOptions o;
  o.windowBits = 21;
  cabtest::Cabinet c;
  c.folders.push_back({static_cast<uint16_t>(3 | 21 << 8), cabtest::MakeBlocks(3, data, o)});
  c.files.push_back({"data.bin", static_cast<uint32_t>(data.size()), 0, 0});
  std::vector<uint8_t> cab = cabtest::Build(c);
  FILE* f = fopen(argv[2], "wb");
  return f && fwrite(cab.data(), 1, cab.size(), f) == cab.size() && fclose(f) == 0 ? 0 : 1;
}
CPP
B=$BENCH_ROOT/build
isal=()
grep -q '^DORVANE_ISAL:BOOL=ON' "$B/CMakeCache.txt" && isal=(-lisal)
g++ -std=c++17 -O2 -I"$BENCH_ROOT" -I"$BENCH_ROOT/tests/unit" make_lzx.cpp \
  "$BENCH_ROOT/tests/unit/cab_builder.cpp" "$BENCH_ROOT/tests/unit/cab_lzx_writer.cpp" \
  "$B/libdorvane_archive.a" "$B/libdorvane_stream.a" "$B/libdorvane_codec.a" \
  "$B/libdorvane_core.a" "$B/libdorvane_platform.a" "${isal[@]}" -lncursesw -lz -lbz2 -pthread \
  -o make_lzx

make_mixed_data data.bin 128
gcab -c -z mszip.cab data.bin
head -c $((64 << 20)) data.bin >lzx.bin
./make_lzx lzx.bin lzx.cab
rm -f lzx.bin data.bin

clean='rm -rf out'
compare_with_cpu "MSZIP 128 MiB vs gcab -x" "$clean" "$DORVANE '#P($BENCH_DIR/out)#F($BENCH_DIR/mszip.cab)'" \
  "sh -c 'mkdir -p out && cd out && gcab -x ../mszip.cab'"
compare_with_cpu "MSZIP 128 MiB vs 7zz x -y" "$clean" "$DORVANE '#P($BENCH_DIR/out)#F($BENCH_DIR/mszip.cab)'" \
  "7zz x -y -oout mszip.cab"
compare_with_cpu "LZX 64 MiB (2^21) vs 7zz x -y" "$clean" "$DORVANE '#P($BENCH_DIR/out)#F($BENCH_DIR/lzx.cab)'" \
  "7zz x -y -oout lzx.cab"
