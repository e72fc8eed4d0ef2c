// The single-stream handlers of the library formats (library_source.h):
// one file decoded into one output file, named as the gzip and bzip2
// handlers name theirs.
#pragma once

#include "core/handler.h"
#include "stream/library_source.h"

class LibraryStreamHandler final : public FormatHandler {
 public:
  LibraryStreamHandler(LibraryFormat format, const char* displayName)
      : FormatHandler(displayName), format_(format) {
    readsInOrder = true;
  }
  // By the stream's magic number. An lzma file has none: it is taken only
  // when its extension says lzma and its header fields are sane.
  bool Probe(const char* path, int32_t fileSize) override;
  bool Extract(const char* path, const char* outputFolder) override;

 private:
  LibraryFormat format_;
};
