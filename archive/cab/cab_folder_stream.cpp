#include "archive/cab/cab_folder_stream.h"

#include <cstdio>
#include <cstring>

#include "archive/cab/lzx_decoder.h"
#include "archive/cab/mszip_decoder.h"
#include "core/byte_order.h"

namespace cab {
namespace {

constexpr size_t kStreamBuffer = 256 * 1024;  // read buffer of the folder data stream

struct FolderStream {
  FolderRecord* folder = nullptr;  // null: the next file opens its folder afresh
  uint32_t offset = 0;             // uncompressed offset reached in the folder
  const uint8_t* pending = nullptr;
  uint32_t pendingLength = 0;
  unsigned part = 0;
  int method = kNoMethod;      // decoder of the current folder
  int lastMethod = kNoMethod;  // method of the last folder prepared
  FILE* stream = nullptr;
  CabinetRecord* streamCabinet = nullptr;
  uint8_t input[kCabInputSize + kCabInputSpare];
  uint8_t output[kCabOutputSize];
  char streamBuffer[kStreamBuffer];  // read buffer of `stream`
  MszipState mszip;
  LzxState lzx;
};
FolderStream g_Stream;

void CloseStream() {
  if (g_Stream.stream != nullptr) fclose(g_Stream.stream);
  g_Stream.stream = nullptr;
  g_Stream.streamCabinet = nullptr;
}

// Opens a folder part's cabinet at that part's data.
bool OpenPart(Run& run, FolderRecord* folder, unsigned part) {
  CloseStream();
  CabinetRecord* cab = folder->part[part];
  g_Stream.stream = OpenCabinet(run, cab->path);
  if (g_Stream.stream == nullptr) return false;
  // Data blocks are read one after another: a buffer of several blocks
  // takes them in a few large reads.
  setvbuf(g_Stream.stream, g_Stream.streamBuffer, _IOFBF, sizeof g_Stream.streamBuffer);
  g_Stream.streamCabinet = cab;
  if (fseek(g_Stream.stream, static_cast<long>(folder->offset[part]), SEEK_SET) != 0) {
    Fail(run, cab->path);
    return false;
  }
  return true;
}

// Decodes the input block; *data points at its bytes afterwards (the output
// buffer, or the LZX window, which holds them until the next block).
CabResult DecodeBlock(size_t inLength, size_t outLength, const uint8_t** data) {
  FolderStream& st = g_Stream;
  *data = st.output;
  switch (st.method) {
    case kStored:
      if (inLength != outLength) return CabResult::Corrupt;
      memcpy(st.output, st.input, outLength);
      return CabResult::Ok;
    case kMszip:
      return MszipDecodeBlock(st.mszip, st.input, inLength, st.output, outLength);
    case kLzx:
      return LzxDecodeBlockInPlace(st.lzx, st.input, inLength, st.output, outLength, data);
    default:
      return CabResult::Unsupported;
  }
}

// Reads the next whole block into the input buffer, its pieces joined when
// it is split over cabinets; *uncompressed: its declared size.
CabResult ReadBlock(Run& run, const char* memberName, bool tolerateErrors, size_t* in, uint32_t* uncompressed) {
  FolderStream& st = g_Stream;
  *in = 0;
  for (;;) {
    CabinetRecord* cab = st.streamCabinet;
    uint8_t h[DataEntry::kSize] = {};
    bool whole = BoundedRead(run, cab, st.stream, h, sizeof h);
    if (run.fatal->set) return CabResult::InputError;
    if (!whole || !Skip(run, cab, st.stream, cab->dataReserve)) return CabResult::InputError;
    const DataEntry entry = DataEntry::Load(h);
    const size_t size = entry.compressedSize;
    *uncompressed = entry.uncompressedSize;
    if (*in + size > kCabInputSize) return CabResult::InputError;
    whole = BoundedRead(run, cab, st.stream, st.input + *in, size);
    if (run.fatal->set || !whole) return CabResult::InputError;
    memset(st.input + *in + size, 0, kCabInputSpare);
    const uint32_t computed =
        entry.checksum == 0
            ? 0
            : BlockChecksum(h + DataEntry::kSummedAt, DataEntry::kSummedSize, BlockChecksum(st.input + *in, size, 0));
    if (computed != entry.checksum) {
      run.badStored = entry.checksum;
      run.badComputed = computed;
      if (!tolerateErrors || st.method != kMszip) return CabResult::Checksum;
      Show("%s: WARNING: checksum failed\n", memberName);
    }
    *in += size;
    if (*uncompressed != 0) return CabResult::Ok;
    if (++st.part > st.folder->extraParts) return CabResult::InputError;
    if (!OpenPart(run, st.folder, st.part)) return CabResult::InputError;
  }
}

CabResult Produce(Run& run, const char* memberName, uint32_t n, MemberOutput* out, bool tolerateErrors) {
  FolderStream& st = g_Stream;
  while (n > 0) {
    uint32_t use = st.pendingLength < n ? st.pendingLength : n;
    if (use > 0) {
      if (out != nullptr && !out->Write(st.pending, use)) return CabResult::OutputError;
      st.pending += use;
      st.pendingLength -= use;
      n -= use;
      if (n == 0) return CabResult::Ok;
    }
    size_t in = 0;
    uint32_t uncompressed = 0;
    CabResult r = ReadBlock(run, memberName, tolerateErrors, &in, &uncompressed);
    if (r != CabResult::Ok) return r;
    // A block may not declare more than the output buffer holds.
    const uint8_t* data = st.output;
    r = uncompressed > kCabOutputSize ? CabResult::Corrupt : DecodeBlock(in, uncompressed, &data);
    if (r != CabResult::Ok) {
      if (!tolerateErrors || st.method != kMszip) return r;
      Show("%s: WARNING: failed decrunching block\n", memberName);
    }
    st.pending = data;
    st.pendingLength = uncompressed;
  }
  return CabResult::Ok;
}

}  // namespace

FolderRecord* StreamFolder() { return g_Stream.folder; }
uint32_t StreamOffset() { return g_Stream.offset; }

CabResult StartFolder(Run& run, FolderRecord* folder) {
  FolderStream& st = g_Stream;
  const int method = FolderMethod(folder->type);
  if (st.lastMethod == kLzx && method != kLzx) LzxRelease(st.lzx);
  st.lastMethod = method;
  CabResult r = CabResult::Ok;
  if (method == kLzx) r = LzxInit(st.lzx, WindowExponent(folder->type));
  else if (method != kStored && method != kMszip) r = CabResult::Unsupported;  // Quantum too
  if (r != CabResult::Ok) return r;
  st.method = method;
  if (!OpenPart(run, folder, 0)) return CabResult::InputError;
  st.folder = folder;
  st.offset = 0;
  st.pendingLength = 0;
  st.part = 0;
  return CabResult::Ok;
}

CabResult ReadFolderData(Run& run, const char* memberName, uint32_t n, MemberOutput* out, bool tolerateErrors) {
  const CabResult r = Produce(run, memberName, n, out, tolerateErrors);
  if (r == CabResult::Ok) g_Stream.offset += n;
  return r;
}

void DropFolder() {
  CloseStream();
  g_Stream.folder = nullptr;
}

}  // namespace cab

uint32_t BlockChecksum(const uint8_t* data, size_t length, uint32_t seed) {
  // The XOR of the little-endian 32-bit groups, taken eight bytes at a time:
  // the two halves of the 64-bit XOR fold into the same value.
  uint64_t lanes[4] = {};
  size_t i = 0;
  for (; i + 32 <= length; i += 32) {
    uint64_t v[4];
    memcpy(v, data + i, 32);
    for (int k = 0; k < 4; ++k) lanes[k] ^= v[k];
  }
  uint64_t wide = lanes[0] ^ lanes[1] ^ lanes[2] ^ lanes[3];
  for (; i + 8 <= length; i += 8) {
    uint64_t v;
    memcpy(&v, data + i, 8);
    wide ^= v;
  }
  uint8_t folded[8];
  memcpy(folded, &wide, sizeof folded);
  seed ^= LoadLe32(folded) ^ LoadLe32(folded + 4);
  for (; i + 4 <= length; i += 4) seed ^= LoadLe32(data + i);
  switch (length - i) {
    case 3: seed ^= (uint32_t{data[i]} << 16) | (uint32_t{data[i + 1]} << 8) | data[i + 2]; break;
    case 2: seed ^= (uint32_t{data[i]} << 8) | data[i + 1]; break;
    case 1: seed ^= data[i]; break;
  }
  return seed;
}
