// The four TAR handlers. They share the TAR walk and differ only in the
// ByteSource through which it gets the archive's bytes: a plain file, a
// gzip stream, a bzip2 stream or a compress (.Z) stream.
#pragma once

#include <cstdio>

#include "stream/byte_source.h"
#include "core/handler.h"

struct Bzip2Reader;
struct GzipReader;
struct LzwReader;

// Probe and Extract through the handler's own source; the source's Open,
// Read and Close follow the FormatHandler operations.
class TarArchiveHandler : public FormatHandler, public ByteSource {
 public:
  using FormatHandler::FormatHandler;
  // A whole first block through the source, with a right checksum. The
  // read-ahead buffer is not consulted, so compressed archives are
  // decompressed for the test.
  bool Probe(const char* path, int32_t fileSize) final;
  // False only when the source does not open.
  bool Extract(const char* path, const char* outputFolder) final;
};

class TarHandler final : public TarArchiveHandler {
 public:
  TarHandler() : TarArchiveHandler("Tar" EXTRACT_SUFFIX) {}
  ~TarHandler() override { Close(); }
  bool MatchesExtension(const char* extension) override;
  bool Open(const char* path) override;
  int32_t Read(void* buffer, int32_t count) override;
  void Close() override;

 private:
  FILE* file_ = nullptr;
};

class TarGzipHandler final : public TarArchiveHandler {
 public:
  TarGzipHandler() : TarArchiveHandler("Tar+Gzip" EXTRACT_SUFFIX) {}
  ~TarGzipHandler() override { Close(); }
  bool MatchesExtension(const char* extension) override;
  bool Open(const char* path) override;
  int32_t Read(void* buffer, int32_t count) override;
  void Close() override;

 private:
  GzipReader* gz_ = nullptr;
};

class TarBzip2Handler final : public TarArchiveHandler {
 public:
  TarBzip2Handler() : TarArchiveHandler("Tar+Bzip2" EXTRACT_SUFFIX) {}
  ~TarBzip2Handler() override { Close(); }
  bool MatchesExtension(const char* extension) override;
  bool Open(const char* path) override;
  int32_t Read(void* buffer, int32_t count) override;
  void Close() override;

 private:
  Bzip2Reader* bz_ = nullptr;
};

class TarCompressHandler final : public TarArchiveHandler {
 public:
  TarCompressHandler() : TarArchiveHandler("Tar+Compress" EXTRACT_SUFFIX) {}
  ~TarCompressHandler() override { Close(); }
  // "Z" and "taZ", letter case included.
  bool MatchesExtension(const char* extension) override;
  bool Open(const char* path) override;
  int32_t Read(void* buffer, int32_t count) override;
  void Close() override;

 private:
  LzwReader* lzw_ = nullptr;
};
