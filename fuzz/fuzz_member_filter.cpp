// The member patterns of -i and -x over arbitrary text. The input is a
// pattern and a name separated by the first NUL. Invariants: no crash or
// runaway time; a pattern selects exactly what it selects as an include,
// and never when it is the only exclude; a literal pattern (no wildcard)
// selects its own name.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/charset.h"
#include "core/member_filter.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = (BuildLeadByteTable(), true);
  (void)ready;
  if (size > 2048) return 0;
  const std::string input(reinterpret_cast<const char*>(data), size);
  const size_t cut = input.find('\0');
  if (cut == std::string::npos) return 0;
  const std::string pattern = input.substr(0, cut);
  const std::string name = input.substr(cut + 1, input.find('\0', cut + 1) - cut - 1);

  ClearMemberPatterns();
  AddMemberPattern(pattern.c_str(), pattern, true);
  const bool included = MemberSelected(name.c_str());
  ClearMemberPatterns();
  AddMemberPattern(pattern.c_str(), pattern, false);
  if (MemberSelected(name.c_str()) == included) abort();
  ClearMemberPatterns();
  if (!pattern.empty() && pattern.find_first_of("*?[") == std::string::npos) {
    AddMemberPattern(pattern.c_str(), pattern, true);
    if (!MemberSelected(pattern.c_str())) abort();
    ClearMemberPatterns();
  }
  return 0;
}
