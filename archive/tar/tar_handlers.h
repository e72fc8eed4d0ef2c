// The four TAR handlers. They share the TAR walk and differ only in the
// source through which it gets the archive's bytes (stream_sources.h): a
// plain file, a gzip stream, a bzip2 stream or a compress (.Z) stream.
#pragma once

#include <cstdint>

#include "core/handler.h"
#include "stream/byte_source.h"
#include "stream/library_source.h"
#include "stream/stream_sources.h"

// Probe and Extract through the handler's source, which the TAR walk opens
// and closes.
class TarArchiveHandler : public FormatHandler {
 public:
  // A whole first block through the source, with a right checksum. The
  // read-ahead buffer is not consulted, so compressed archives are
  // decompressed for the test.
  bool Probe(const char* path, int32_t fileSize) final;
  // False only when the source does not open.
  bool Extract(const char* path, const char* outputFolder) final;

 protected:
  // `source` is a member of the derived handler: only kept here, not used
  // before the handler is whole.
  TarArchiveHandler(const char* name, ByteSource& source) : FormatHandler(name), source_(source) {
    readsInOrder = true;
  }

  // A compressed source opened only for a file that starts with its magic
  // (`first`, then one of `seconds`) and is at least ten bytes long; the
  // library never sees any other file.
  class MagicChecked final : public ByteSource {
   public:
    MagicChecked(ByteSource& inner, uint8_t first, const uint8_t* seconds, size_t secondCount)
        : inner_(inner), first_(first), seconds_(seconds), secondCount_(secondCount) {}
    bool Open(const char* path) override;
    int32_t Read(void* buffer, int32_t count) override { return inner_.Read(buffer, count); }
    void Close() override { inner_.Close(); }

   private:
    ByteSource& inner_;
    uint8_t first_;
    const uint8_t* seconds_;
    size_t secondCount_;
  };

 private:
  ByteSource& source_;
};

class TarHandler final : public TarArchiveHandler {
 public:
  TarHandler() : TarArchiveHandler("Tar" EXTRACT_SUFFIX, file_) {}
  bool MatchesExtension(const char* extension) override;

 private:
  FileSource file_;
};

class TarGzipHandler final : public TarArchiveHandler {
 public:
  TarGzipHandler() : TarArchiveHandler("Tar+Gzip" EXTRACT_SUFFIX, checked_) {}
  bool MatchesExtension(const char* extension) override;

 private:
  static constexpr uint8_t kSeconds[] = {0x8B, 0x9E};
  GzipSource gzip_;
  MagicChecked checked_{gzip_, 0x1F, kSeconds, sizeof kSeconds};
};

class TarBzip2Handler final : public TarArchiveHandler {
 public:
  TarBzip2Handler() : TarArchiveHandler("Tar+Bzip2" EXTRACT_SUFFIX, bzip2_) {}
  bool MatchesExtension(const char* extension) override;

 private:
  Bzip2Source bzip2_;
};

class TarCompressHandler final : public TarArchiveHandler {
 public:
  TarCompressHandler() : TarArchiveHandler("Tar+Compress" EXTRACT_SUFFIX, checked_) {}
  // "Z" and "taZ", letter case included.
  bool MatchesExtension(const char* extension) override;

 private:
  static constexpr uint8_t kSeconds[] = {0x9D};
  CompressSource compress_;
  MagicChecked checked_{compress_, 0x1F, kSeconds, sizeof kSeconds};
};

// TAR inside a stream of a library format (xz, lzma, lzip, Zstandard, lz4):
// claims the format's extension and its short TAR extension ("txz").
class TarLibraryHandler final : public TarArchiveHandler {
 public:
  TarLibraryHandler(LibraryFormat format, const char* displayName)
      : TarArchiveHandler(displayName, source_), source_(format), format_(format) {}
  bool MatchesExtension(const char* extension) override;

 private:
  LibrarySource source_;
  LibraryFormat format_;
};
