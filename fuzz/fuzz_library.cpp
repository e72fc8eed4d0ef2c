// The library formats' byte source (xz, lzma, lzip, Zstandard, lz4) over a
// file of arbitrary bytes. The first byte picks the format, the second the
// read size. Whatever the input, reads end in 0, damage or truncation, and
// that ending stays; the output is bounded by the libraries' own limits.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "harness.h"
#include "stream/library_source.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::InitProgram();
  if (size < 2) return 0;
  const auto format = static_cast<LibraryFormat>(data[0] % 5);
  const int32_t piece = 1 + data[1] * 257;
  const std::string input = fuzz::WriteInput("in", data + 2, size - 2);
  LibrarySource source(format);
  if (source.Open(fuzz::ProgramForm(input).c_str())) {
    std::vector<uint8_t> buffer(static_cast<size_t>(piece));
    uint64_t total = 0;
    int32_t n = 0;
    while (total < (64u << 20) && (n = source.Read(buffer.data(), piece)) > 0) {
      if (n > piece) abort();
      total += static_cast<uint64_t>(n);
    }
    if (n <= 0 && source.Read(buffer.data(), piece) != n) abort();  // the end stays
    if (n != 0 && n != kSourceDamaged && n != kSourceTruncated) abort();
  }
  fuzz::CheckAndClean();
  return 0;
}
