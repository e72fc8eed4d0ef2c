#include "archive/tar/tar_handlers.h"


#include <cstring>

#include "archive/tar/tar_reader.h"
#include "core/charset.h"
#include "core/output.h"
#include "stream/bzip2_reader.h"
#include "stream/gzip_reader.h"
#include "stream/lzw_reader.h"

namespace {


// The compressed sources check the file's first ten bytes before they hand
// it to their library: all ten must be there and start with the magic.
bool StartsWith(const char* path, uint8_t first, const uint8_t* seconds, size_t secondCount) {
  FILE* file = OpenFileStream(path, "rb");
  if (file == nullptr) return false;
  uint8_t head[10];
  const bool whole = fread(head, 1, sizeof head, file) == sizeof head;
  fclose(file);
  if (!whole || head[0] != first) return false;
  return memchr(seconds, head[1], secondCount) != nullptr;
}

}  // namespace

bool TarArchiveHandler::Probe(const char* path, int32_t fileSize) { return tar::TarProbe(*this, path); }

bool TarArchiveHandler::Extract(const char* path, const char* outputFolder) {
  return tar::TarExtract(*this, path, outputFolder, g_ReadAheadBuffer, kReadAheadSize);
}

// --- plain file ---------------------------------------------------------------

bool TarHandler::MatchesExtension(const char* extension) {
  return EqualsNoCase(extension, "tar") == 0;
}

bool TarHandler::Open(const char* path) {
  Close();
  file_ = OpenFileStream(path, "rb");
  // Headers and small members come through the stream's buffer; a larger
  // one means fewer reads. Large pieces bypass it.
  if (file_ != nullptr) setvbuf(file_, nullptr, _IOFBF, 64 * 1024);
  return file_ != nullptr;
}

int32_t TarHandler::Read(void* buffer, int32_t count) {
  if (file_ == nullptr || count <= 0) return 0;
  const size_t n = fread(buffer, 1, static_cast<size_t>(count), file_);
  return n == 0 && ferror(file_) ? -1 : static_cast<int32_t>(n);
}

void TarHandler::Close() {
  if (file_ != nullptr) fclose(file_);
  file_ = nullptr;
}

// --- gzip -----------------------------------------------------------------------

bool TarGzipHandler::MatchesExtension(const char* extension) {
  return EqualsNoCase(extension, "gz") == 0 || EqualsNoCase(extension, "tgz") == 0;
}

bool TarGzipHandler::Open(const char* path) {
  Close();
  static const uint8_t kSeconds[] = {0x8B, 0x9E};
  if (!StartsWith(path, 0x1F, kSeconds, sizeof kSeconds)) return false;
  gz_ = GzipOpen(path);
  return gz_ != nullptr;
}

int32_t TarGzipHandler::Read(void* buffer, int32_t count) {
  if (gz_ == nullptr || count <= 0) return 0;
  // The reader checks each gzip member's CRC-32 and length: damage and
  // input that ends inside a member are read errors.
  const int32_t n = GzipRead(gz_, buffer, count);
  if (n < 0 || (n == 0 && GzipTruncated(gz_))) return -1;
  return n;
}

void TarGzipHandler::Close() {
  GzipClose(gz_);
  gz_ = nullptr;
}

// --- bzip2 ----------------------------------------------------------------------

bool TarBzip2Handler::MatchesExtension(const char* extension) {
  return EqualsNoCase(extension, "bz2") == 0 || EqualsNoCase(extension, "tbz") == 0;
}

bool TarBzip2Handler::Open(const char* path) {
  Close();
  bz_ = Bzip2Open(path);
  return bz_ != nullptr;
}

int32_t TarBzip2Handler::Read(void* buffer, int32_t count) {
  if (bz_ == nullptr || count <= 0) return 0;
  // libbzip2 checks the block and stream CRCs; a mismatch, bad data and a
  // cut stream are read errors.
  const int32_t n = Bzip2Read(bz_, buffer, count);
  return n < 0 ? -1 : n;
}

void TarBzip2Handler::Close() {
  Bzip2Close(bz_);
  bz_ = nullptr;
}

// --- compress -------------------------------------------------------------------

bool TarCompressHandler::MatchesExtension(const char* extension) {
  return strcmp(extension, "Z") == 0 || strcmp(extension, "taZ") == 0;
}

bool TarCompressHandler::Open(const char* path) {
  Close();
  static const uint8_t kSeconds[] = {0x9D};
  if (!StartsWith(path, 0x1F, kSeconds, sizeof kSeconds)) return false;
  lzw_ = LzwOpen(path);
  return lzw_ != nullptr;
}

int32_t TarCompressHandler::Read(void* buffer, int32_t count) {
  if (lzw_ == nullptr) return 0;
  const int32_t n = LzwRead(lzw_, buffer, count);
  return n <= 0 && LzwFailed(lzw_) ? -1 : (n < 0 ? 0 : n);
}

void TarCompressHandler::Close() {
  if (lzw_ != nullptr) LzwClose(lzw_);
  lzw_ = nullptr;
}
