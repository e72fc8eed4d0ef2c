// libbzip2's one-call compressor (the same encoder as `bzip2 -1` .. `-9`),
// for the tests and fuzz targets that make bzip2 files of a given content.
#pragma once

#include <bzlib.h>

#include <cstddef>
#include <cstdlib>

namespace testutil {

// `Out` is a byte container (std::string, std::vector<uint8_t>).
template <typename Out>
Out Bzip2Compress(const void* data, size_t size, int level) {
  unsigned length = static_cast<unsigned>(size + size / 50 + 1024);
  Out out(length, 0);
  if (BZ2_bzBuffToBuffCompress(reinterpret_cast<char*>(&out[0]), &length,
                               static_cast<char*>(const_cast<void*>(data)), static_cast<unsigned>(size), level, 0,
                               0) != BZ_OK) {
    abort();
  }
  out.resize(length);
  return out;
}

}  // namespace testutil
