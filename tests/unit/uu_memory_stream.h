// In-memory streams for the text-decoder tests: input through fmemopen,
// output collected with open_memstream.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "stream/line_decoder.h"

namespace lines_test {

using namespace text;

// A read stream over a copy of `data`.
class InputStream {
 public:
  explicit InputStream(std::string data) : data_(std::move(data)) {
    // fmemopen needs at least one byte; an empty input reads /dev/null.
    stream_ = data_.empty() ? fopen("/dev/null", "rb") : fmemopen(&data_[0], data_.size(), "rb");
  }
  ~InputStream() { fclose(stream_); }
  FILE* get() const { return stream_; }

 private:
  std::string data_;
  FILE* stream_;
};

// A write stream whose content is read back with str().
class OutputStream {
 public:
  OutputStream() : stream_(open_memstream(&buffer_, &size_)) {}
  ~OutputStream() {
    fclose(stream_);
    free(buffer_);
  }
  FILE* get() const { return stream_; }
  std::string str() {
    fflush(stream_);
    return std::string(buffer_, size_);
  }

 private:
  char* buffer_ = nullptr;
  size_t size_ = 0;
  FILE* stream_;
};

// Runs a body decoder, called as decode(reader, line, capacity, sink), on
// the reader's next lines and returns what it wrote.
template <typename Decoder>
std::string DecodeFrom(TextLineReader& reader, Decoder decode) {
  OutputStream out;
  std::vector<char> line(1 << 16);
  {
    ByteSink sink(out.get());
    decode(reader, line.data(), line.size(), sink);
  }
  return out.str();
}

// The same over the whole of `input`.
template <typename Decoder>
std::string DecodeAll(const std::string& input, Decoder decode) {
  InputStream in(input);
  TextLineReader reader(in.get());
  return DecodeFrom(reader, decode);
}

}  // namespace lines_test
