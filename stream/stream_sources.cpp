#include "stream/stream_sources.h"

#include "core/output.h"
#include "stream/bzip2_reader.h"
#include "stream/gzip_reader.h"
#include "stream/lzw_reader.h"

bool FileSource::Open(const char* path) {
  Close();
  file_ = OpenFileStream(path, "rb");
  // Headers and small members come through the stream's buffer; a larger
  // one means fewer reads. Large pieces bypass it.
  if (file_ != nullptr) setvbuf(file_, nullptr, _IOFBF, 64 * 1024);
  return file_ != nullptr;
}

int32_t FileSource::Read(void* buffer, int32_t count) {
  if (file_ == nullptr || count <= 0) return 0;
  const size_t n = fread(buffer, 1, static_cast<size_t>(count), file_);
  return n == 0 && ferror(file_) ? kSourceDamaged : static_cast<int32_t>(n);
}

void FileSource::Close() {
  if (file_ != nullptr) fclose(file_);
  file_ = nullptr;
}

bool GzipSource::Open(const char* path) {
  Close();
  reader_ = gzip::GzipOpen(path);
  return reader_ != nullptr;
}

int32_t GzipSource::Read(void* buffer, int32_t count) {
  if (reader_ == nullptr || count <= 0) return 0;
  const int32_t n = gzip::GzipRead(reader_, buffer, count);
  if (n < 0) return kSourceDamaged;
  if (n == 0 && gzip::GzipTruncated(reader_)) return kSourceTruncated;
  return n;
}

void GzipSource::Close() {
  gzip::GzipClose(reader_);
  reader_ = nullptr;
}

bool Bzip2Source::Open(const char* path) {
  Close();
  reader_ = bzip2::Bzip2Open(path);
  return reader_ != nullptr;
}

int32_t Bzip2Source::Read(void* buffer, int32_t count) {
  if (reader_ == nullptr || count <= 0) return 0;
  const int32_t n = bzip2::Bzip2Read(reader_, buffer, count);
  if (n >= 0) return n;
  return bzip2::Bzip2Truncated(reader_) ? kSourceTruncated : kSourceDamaged;
}

int64_t GzipSource::TrailingAt() const { return gzip::GzipTrailingAt(reader_); }

int64_t Bzip2Source::TrailingAt() const { return bzip2::Bzip2TrailingAt(reader_); }

void Bzip2Source::Close() {
  bzip2::Bzip2Close(reader_);
  reader_ = nullptr;
}

bool CompressSource::Open(const char* path) {
  Close();
  reader_ = lzw::LzwOpen(path);
  return reader_ != nullptr;
}

int32_t CompressSource::Read(void* buffer, int32_t count) {
  if (reader_ == nullptr) return 0;
  const int32_t n = lzw::LzwRead(reader_, buffer, count);
  if (n <= 0 && lzw::LzwFailed(reader_)) return kSourceDamaged;
  return n < 0 ? 0 : n;
}

void CompressSource::Close() {
  if (reader_ != nullptr) lzw::LzwClose(reader_);
  reader_ = nullptr;
}
