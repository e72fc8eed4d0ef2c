// The block-parallel bzip2 reader against its serial path (libbzip2's
// reader, stream after stream): every read must give the same count and
// bytes, and both must end the same way (damage, truncation, trailing data
// at the same offset). The first byte picks the mode, the read size, the
// pool size and the output cap. In one mode the rest of the input is the
// file as it stands; in the other it is stretched to a few hundred kB,
// compressed into two streams of several blocks (cut where the second byte
// says, the second at another level), followed by the input's last bytes
// when the third byte is odd, and then damaged at places the last input
// bytes name.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "harness.h"
#include "stream/bzip2_reader.h"
#include "support/bzip2_compress.h"

using namespace bzip2;

namespace {

constexpr size_t kOutputLimit = 4u << 20;

std::vector<uint8_t> Compress(const uint8_t* text, size_t size, int level) {
  return testutil::Bzip2Compress<std::vector<uint8_t>>(text, size, level);
}

std::vector<uint8_t> Compressed(const uint8_t* data, size_t size, uint8_t cut) {
  std::vector<uint8_t> text;
  for (uint32_t round = 0; text.size() < 250000; ++round) {
    for (size_t i = 0; i < size; ++i) text.push_back(static_cast<uint8_t>(data[i] + (round & 3)));
    if (size == 0) text.push_back(static_cast<uint8_t>(round));
    text.push_back(static_cast<uint8_t>(round >> 2));
  }
  const size_t first = text.size() * cut / 255;
  std::vector<uint8_t> out = Compress(text.data(), first, 1);
  const std::vector<uint8_t> second = Compress(text.data() + first, text.size() - first, 2);
  out.insert(out.end(), second.begin(), second.end());
  return out;
}

constexpr size_t kMaxReads = 1u << 14;

// The reads: each one's count, and all the bytes given, in one vector (a
// vector per read would cost a heap block per byte when reads are of one
// byte). At most kOutputLimit bytes and kMaxReads reads, the same for both
// paths, so a unit's time and memory stay small whatever the read size.
struct Trace {
  std::vector<int> counts;
  std::vector<uint8_t> bytes;
  bool operator==(const Trace& o) const { return counts == o.counts && bytes == o.bytes; }
  bool operator!=(const Trace& o) const { return !(*this == o); }
};

template <typename Read>
Trace Collect(Read read, int piece) {
  Trace t;
  std::vector<uint8_t> buffer(static_cast<size_t>(piece));
  while (t.bytes.size() < kOutputLimit && t.counts.size() < kMaxReads) {
    const int n = read(buffer.data(), piece);
    t.counts.push_back(n);
    if (n <= 0) break;
    t.bytes.insert(t.bytes.end(), buffer.begin(), buffer.begin() + n);
  }
  return t;
}

struct Ending {
  bool truncated;
  int64_t trailingAt;
};

Trace ReadAll(const std::string& path, Bzip2Options options, int piece, Ending& ending) {
  Bzip2Reader* reader = Bzip2Open(path.c_str(), options);
  if (reader == nullptr) abort();
  const Trace t = Collect([reader](uint8_t* b, int n) { return Bzip2Read(reader, b, n); }, piece);
  ending = {Bzip2Truncated(reader), Bzip2TrailingAt(reader)};
  Bzip2Close(reader);
  return t;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::InitProgram();
  if (size < 3) return 0;
  const uint8_t mode = data[0];
  std::vector<uint8_t> file;
  if (mode & 1) {
    file = Compressed(data + 3, size - 3 > 64 ? 64 : size - 3, data[1]);
    if (data[2] & 1) file.insert(file.end(), data + size - (size > 8 ? 8 : size), data + size);
    // Damage: each pair of input bytes from the 68th on flips one byte.
    for (size_t i = 67; i + 1 < size; i += 2) {
      const size_t at = (static_cast<size_t>(data[i]) * 977 + i * 131) % file.size();
      file[at] = static_cast<uint8_t>(file[at] ^ (data[i + 1] | 1));
    }
  } else {
    file.assign(data + 1, data + size);
  }
  const std::string path = fuzz::WriteInput("in.bz2", file.data(), file.size());
  const int piece = (mode & 2) ? 1 << 20 : 1 + (mode >> 2) * 997;

  Bzip2Options serial;
  serial.threads = 1;
  Ending expectedEnding;
  const auto expected = ReadAll(path, serial, piece, expectedEnding);

  Bzip2Options options;
  options.threads = 2 + (mode >> 6);
  options.blockOutputLimit = (mode & 4) ? 64 * 1024 : 0;
  Ending ending;
  const auto got = ReadAll(path, options, piece, ending);
  if (got != expected) abort();
  // (Compared only after the last read: each path tells at its own end.)
  const bool ended = got.counts.back() <= 0;  // not cut by the caps
  if (ended && ending.truncated != expectedEnding.truncated) abort();
  if (got.counts.back() == 0 && ending.trailingAt != expectedEnding.trailingAt) abort();
  fuzz::CheckAndClean();
  return 0;
}
