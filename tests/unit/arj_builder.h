// Test-only ARJ writer: headers built field by field with correct CRCs, for
// inputs the arj program does not make (other hosts, MS-DOS time stamps,
// hostile sizes).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <zlib.h>

namespace arjtest {

using Bytes = std::vector<uint8_t>;

inline void Put16(Bytes& b, uint32_t v) {
  b.push_back(uint8_t(v));
  b.push_back(uint8_t(v >> 8));
}
inline void Put32(Bytes& b, uint32_t v) {
  Put16(b, v & 0xFFFF);
  Put16(b, v >> 16);
}

struct Fields {
  uint8_t archiverVersion = 11, extractVersion = 1, host = 0, flags = 0, method = 1, type = 0;
  uint32_t time = 0x2A216B5D, packed = 5, size = 7, crc = 0xDEADBEEF;
  uint16_t mode = 0x21;
  std::string name = "dir/file.txt";
};

// One whole header: id, size, basic header with its CRC, extended headers.
inline Bytes Header(const Fields& f, const std::vector<Bytes>& extended = {}) {
  Bytes basic = {30, f.archiverVersion, f.extractVersion, f.host, f.flags, f.method, f.type, 0};
  Put32(basic, f.time);
  Put32(basic, f.packed);
  Put32(basic, f.size);
  Put32(basic, f.crc);
  Put16(basic, 0);
  Put16(basic, f.mode);
  Put16(basic, 0);
  basic.insert(basic.end(), f.name.begin(), f.name.end());
  basic.push_back(0);
  basic.push_back(0);  // empty comment
  Bytes h = {0x60, 0xEA};
  Put16(h, uint32_t(basic.size()));
  h.insert(h.end(), basic.begin(), basic.end());
  Put32(h, uint32_t(crc32(0, basic.data(), uInt(basic.size()))));
  for (const Bytes& e : extended) {
    Put16(h, uint32_t(e.size()));
    h.insert(h.end(), e.begin(), e.end());
    Put32(h, uint32_t(crc32(0, e.data(), uInt(e.size()))));
  }
  Put16(h, 0);
  return h;
}

// A whole archive: a main header, the members (header and packed bytes), the
// end marker. Stored members get their size and CRC-32 from their data.
inline Bytes Archive(const std::vector<std::pair<Fields, std::string>>& members) {
  Fields main;
  main.type = 2;
  main.name = "test.arj";
  Bytes a = Header(main);
  for (const auto& [fields, data] : members) {
    Fields f = fields;
    f.packed = uint32_t(data.size());
    if (f.method == 0) {
      f.size = f.packed;
      f.crc = uint32_t(crc32(0, reinterpret_cast<const Bytef*>(data.data()), uInt(data.size())));
    }
    Bytes h = Header(f);
    a.insert(a.end(), h.begin(), h.end());
    a.insert(a.end(), data.begin(), data.end());
  }
  a.insert(a.end(), {0x60, 0xEA, 0, 0});
  return a;
}

}  // namespace arjtest
