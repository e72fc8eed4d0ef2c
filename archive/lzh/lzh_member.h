// The end of an LZH-family member (LZH methods, ARJ methods 0 to 4): the
// decoders write to a stdio stream over the member output, and their result
// says how the member ended.
#pragma once

#include <cstdio>

#include "archive/lzh/lzh_decoder.h"
#include "core/member_output.h"

namespace lzh {

// Ends the member by the decoder's result: complete (the stored checksum is
// then compared), cut short, or not decodable at all.
void EndDecodedMember(MemberOutput& out, LzhDecodeResult result);

// Runs `decode(FILE* output)` into the member's stream and ends the member
// by its result.
template <typename Decode>
void DecodeInto(MemberOutput& out, Decode decode) {
  FILE* stream = out.Stream();
  if (stream == nullptr) {
    out.Fail("not enough memory for the output");
    return;
  }
  EndDecodedMember(out, decode(stream));
}

}  // namespace lzh
