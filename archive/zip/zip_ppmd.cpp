#include "archive/zip/zip_ppmd.h"

#include <algorithm>

#include "codec/ppmd_i.h"
#include "core/byte_order.h"
#include "core/handler.h"

namespace zip {

using namespace codec;

namespace {

// The model's block is freed on every way out.
struct Model {
  Model() { ClearPpmdI(p); }
  ~Model() { FreePpmdI(p); }
  Model(const Model&) = delete;
  Model& operator=(const Model&) = delete;
  PpmdI p;
};

}  // namespace

MemberEnd DecodePpmd(ZipMemberIo& io, uint64_t size, const char** refusal, size_t* unused) {
  *refusal = nullptr;
  *unused = 0;
  uint8_t word[2];
  if (io.ReadMember(word, sizeof word) != sizeof word) return MemberEnd::kTruncated;
  const unsigned parameters = LoadLe16(word);
  const unsigned order = (parameters & 0x0F) + 1;
  const uint32_t memory = (((parameters >> 4) & 0xFF) + 1) << 20;
  const unsigned restore = parameters >> 12;
  if (order < kPpmdIMinOrder) {
    *refusal = "its PPMd model order (1) is not valid; skipped";
    return MemberEnd::kDamaged;
  }
  if (restore > kPpmdICutOff) {
    *refusal = restore == 2 ? "PPMd with the model frozen when full (restore method 2) is not supported; skipped"
                            : "its PPMd restore method is not valid; skipped";
    return MemberEnd::kDamaged;
  }
  ZipMemberInput input(io);
  Model model;
  if (!StartPpmdI(model.p, order, memory, restore, &input)) {
    *refusal = "there is not enough memory for its PPMd model; skipped";
    return MemberEnd::kDamaged;
  }
  // Output in the read-ahead buffer, handed on as each part fills.
  uint8_t* const out = g_ReadAheadBuffer;
  uint64_t left = size;
  for (;;) {
    const size_t room = static_cast<size_t>(std::min<uint64_t>(left, kReadAheadSize));
    size_t made = 0;
    const PpmdIStatus status = room == 0 ? PpmdIStatus::kFull : DecodePpmdI(model.p, out, room, &made);
    if (made != 0) io.WriteMember(out, made);
    if (size != UINT64_MAX) left -= made;
    *unused = PpmdIUnused(model.p);
    // What was decoded from past the end of the data is not the member's.
    if (model.p.dry) return MemberEnd::kTruncated;
    if (status == PpmdIStatus::kBadData) return MemberEnd::kDamaged;
    // An end mark before the size is reached leaves the size check to say so.
    if (status == PpmdIStatus::kEnd) return MemberEnd::kComplete;
    if (left == 0) return MemberEnd::kComplete;
  }
}

}  // namespace zip
