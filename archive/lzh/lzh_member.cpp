#include "archive/lzh/lzh_member.h"

namespace lzh {

void EndDecodedMember(MemberOutput& out, LzhDecodeResult result) {
  switch (result) {
    case LzhDecodeResult::Ok:
      out.End(MemberEnd::kComplete);
      return;
    case LzhDecodeResult::InputEnded:
      out.End(MemberEnd::kTruncated);
      return;
    case LzhDecodeResult::WriteFailed:
      // The output has named the member and counted the failure already.
      out.End(MemberEnd::kDamaged);
      return;
    case LzhDecodeResult::NoMemory:
      out.Fail("not enough memory to decode");
      return;
    case LzhDecodeResult::UnknownMethod:
      out.Fail("unsupported compression method; skipped");
      return;
  }
}

}  // namespace lzh
