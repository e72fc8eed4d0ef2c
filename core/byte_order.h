// Little-endian fields of the archive formats, loaded from bytes at any
// alignment. Every format reader loads its headers through these; the
// compilers turn each into one load on little-endian machines.
#pragma once

#include <cstdint>

constexpr uint16_t LoadLe16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

constexpr uint32_t LoadLe32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

constexpr uint64_t LoadLe64(const uint8_t* p) { return LoadLe32(p) | static_cast<uint64_t>(LoadLe32(p + 4)) << 32; }
