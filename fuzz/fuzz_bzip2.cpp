// The block-parallel bzip2 reader against libbzip2's file reader: every
// read must give the same count and bytes. The first byte picks the mode,
// the read size, the pool size and the output cap. In one mode the rest of
// the input is the file as it stands; in the other it is stretched to a few
// hundred kB, compressed into several blocks, and then damaged at places the
// last input bytes name.
#include <bzlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "harness.h"
#include "stream/bzip2_reader.h"

namespace {

constexpr size_t kOutputLimit = 4u << 20;

std::vector<uint8_t> Compressed(const uint8_t* data, size_t size) {
  std::vector<uint8_t> text;
  for (uint32_t round = 0; text.size() < 250000; ++round) {
    for (size_t i = 0; i < size; ++i) text.push_back(static_cast<uint8_t>(data[i] + (round & 3)));
    if (size == 0) text.push_back(static_cast<uint8_t>(round));
    text.push_back(static_cast<uint8_t>(round >> 2));
  }
  unsigned length = static_cast<unsigned>(text.size() + text.size() / 50 + 1024);
  std::vector<uint8_t> out(length);
  if (BZ2_bzBuffToBuffCompress(reinterpret_cast<char*>(out.data()), &length, reinterpret_cast<char*>(text.data()),
                               static_cast<unsigned>(text.size()), 1, 0, 0) != BZ_OK)
    abort();
  out.resize(length);
  return out;
}

template <typename Read>
std::vector<std::pair<int, std::vector<uint8_t>>> Trace(Read read, int piece) {
  std::vector<std::pair<int, std::vector<uint8_t>>> t;
  std::vector<uint8_t> buffer(static_cast<size_t>(piece));
  size_t total = 0;
  while (total < kOutputLimit) {
    const int n = read(buffer.data(), piece);
    t.emplace_back(n, std::vector<uint8_t>(buffer.begin(), buffer.begin() + (n > 0 ? n : 0)));
    if (n <= 0) break;
    total += static_cast<size_t>(n);
  }
  return t;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::InitProgram();
  if (size < 1) return 0;
  const uint8_t mode = data[0];
  std::vector<uint8_t> file;
  if (mode & 1) {
    file = Compressed(data + 1, size - 1 > 64 ? 64 : size - 1);
    // Damage: each pair of input bytes from the 66th on flips one byte.
    for (size_t i = 65; i + 1 < size; i += 2) {
      const size_t at = (static_cast<size_t>(data[i]) * 977 + i * 131) % file.size();
      file[at] = static_cast<uint8_t>(file[at] ^ (data[i + 1] | 1));
    }
  } else {
    file.assign(data + 1, data + size);
  }
  const std::string path = fuzz::WriteInput("in.bz2", file.data(), file.size());
  const int piece = (mode & 2) ? 1 << 20 : 1 + (mode >> 2) * 997;

  BZFILE* bz = BZ2_bzopen(path.c_str(), "rb");
  if (bz == nullptr) abort();
  const auto expected = Trace([bz](uint8_t* b, int n) { return BZ2_bzread(bz, b, n); }, piece);
  BZ2_bzclose(bz);

  Bzip2Options options;
  options.threads = 2 + (mode >> 6);
  options.blockOutputLimit = (mode & 4) ? 64 * 1024 : 0;
  Bzip2Reader* reader = Bzip2Open(path.c_str(), options);
  if (reader == nullptr) abort();
  const auto got = Trace([reader](uint8_t* b, int n) { return Bzip2Read(reader, b, n); }, piece);
  Bzip2Close(reader);
  if (got != expected) abort();
  fuzz::CheckAndClean();
  return 0;
}
