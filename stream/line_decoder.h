// Line machinery shared by the text decoders (uuencode, Base64/MIME, yEnc),
// and the line-decoder handler that the uuencode handler is built on.
//
// The decoders read their input one text line at a time with the rules of
// ReadTextLine (core/output.h), but through TextLineReader, which takes the
// stream in large blocks instead of one fgetc per byte, and they write their
// output through ByteSink, which hands the stream large pieces.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "core/handler.h"
#include "core/output.h"

namespace text {

// Text lines from a byte stream, with exactly the rules of ReadTextLine:
// LF, CR LF or CR ends a line, 0x00 ends it and is dropped, at most
// capacity-1 bytes are stored (a longer line comes in pieces) and the stored
// text is terminated with 0x00.
class TextLineReader {
 public:
  explicit TextLineReader(FILE* stream) : stream_(stream) {}
  TextLineReader(const TextLineReader&) = delete;
  TextLineReader& operator=(const TextLineReader&) = delete;

  // Reads one line into `line` and its length (without terminator) into
  // *length. False when the end of the stream was met during the call, as
  // ReadTextLine's null; the buffer still holds what was read.
  bool ReadLine(char* line, size_t capacity, size_t* length);
  // The end-of-file indicator: set once a read met the end of the stream.
  bool AtEnd() const { return atEnd_; }
  // True when at least one more byte can be read (reading ahead if needed;
  // when none is left this sets the indicator).
  bool MoreData() { return pos_ < end_ || Refill(); }
  // Drops the buffered bytes and the indicator after the caller moved the
  // stream's position.
  void Restart();

 private:
  static constexpr size_t kBlockSize = 0x10000;
  bool Refill();

  FILE* stream_;
  size_t pos_ = 0;      // next unread byte in block_
  size_t end_ = 0;      // bytes of block_ that hold data
  bool atEnd_ = false;  // a read found no more bytes
  uint8_t block_[kBlockSize];
};

// A file opened for reading by lines (the text decoders' input), closed
// when it goes.
class TextFile {
 public:
  explicit TextFile(const char* path) : stream_(OpenFileStream(path, "rb")), reader_(stream_) {}
  ~TextFile() {
    if (stream_ != nullptr) fclose(stream_);
  }
  TextFile(const TextFile&) = delete;
  TextFile& operator=(const TextFile&) = delete;

  bool IsOpen() const { return stream_ != nullptr; }
  TextLineReader& Reader() { return reader_; }
  // Back to the first line; false when the file cannot seek there.
  bool Rewind() {
    if (fseek(stream_, 0, SEEK_SET) != 0) return false;
    reader_.Restart();
    return true;
  }

 private:
  FILE* stream_;
  TextLineReader reader_;
};

// Collects decoded bytes and writes them to the output stream (a member
// output's Stream()) in large pieces. Without a stream the bytes are dropped
// (a part whose output is refused is still read to its end).
class ByteSink {
 public:
  static constexpr size_t kSize = 0x10000;

  explicit ByteSink(FILE* stream) : stream_(stream) {}
  ~ByteSink() { Flush(); }
  ByteSink(const ByteSink&) = delete;
  ByteSink& operator=(const ByteSink&) = delete;

  void Put(uint8_t byte) {
    if (used_ == kSize) Flush();
    buffer_[used_++] = byte;
  }
  // At least n (at most kSize) free bytes to write into; Advance commits them.
  uint8_t* Room(size_t n) {
    if (kSize - used_ < n) Flush();
    return buffer_ + used_;
  }
  void Advance(size_t n) { used_ += n; }
  // Writes what was collected. False once any write has failed.
  bool Flush();
  uint64_t Total() const { return total_ + used_; }
  // The errno of the first failed write (0: none).
  int Error() const { return error_; }

 private:
  FILE* stream_;
  size_t used_ = 0;
  uint64_t total_ = 0;  // bytes handed to the stream so far
  bool failed_ = false;
  int error_ = 0;
  uint8_t buffer_[kSize];
};

// Probe scans over the read-ahead bytes: calls found(position) at position 0
// and directly after every CR or LF byte at a position below `limit`; a zero
// byte ends the scan. True as soon as found() says so. Callers keep `limit`
// far enough from the end of the data that found() may read its keyword.
template <typename Found>
bool AnyLineStart(const uint8_t* data, size_t limit, Found found) {
  if (limit == 0) return false;
  if (found(size_t{0})) return true;
  for (size_t i = 0; i < limit && data[i] != 0; ++i) {
    if ((data[i] == '\r' || data[i] == '\n') && found(i + 1)) return true;
  }
  return false;
}

// The bytes a probe may examine: the file size, at most the read-ahead size.
size_t ProbeExtent(int32_t fileSize);

// Parses a header line in the form "<keyword> <number> <name>" the way
// sscanf("<keyword> %o %s") (base 8) or "%d %s" (base 10) would: the number
// is read and dropped, the name runs to the first white space. True with the
// name's start and length when both a number and a name follow the keyword.
bool ParseBeginLine(const char* line, const char* keyword, int base, const char** name,
                    size_t* nameLength);

// How a name taken from the encoded text fared.
enum class NameState { kNone, kFound, kTooLong };

// Decodes `length` bytes of name text into `out` (kPathBufferSize bytes),
// as an unmarked stored name (UTF-8 when it is well-formed UTF-8). kTooLong,
// and `out` empty, when it does not fit: a name is refused, never cut into
// a different name.
NameState CopyName(char* out, const char* text, size_t length);

// What a handler of named sections (uuencode, yEnc) extracts with: the
// file's lines, the line buffer (the read-ahead buffer) and the name of the
// section last found, with how it fared.
struct SectionInput {
  static constexpr size_t kLineCapacity = kReadAheadSize;

  explicit SectionInput(const char* path) : file(path) {}

  TextFile file;
  char* const line = reinterpret_cast<char*>(g_ReadAheadBuffer);
  char name[kPathBufferSize];
  NameState state = NameState::kNone;
};

// Reads lines up to the first that starts with "begin" and takes the name
// from it (into `name`, kPathBufferSize bytes; *state tells whether there was
// one). False when no such line comes before the last line of the input: a
// "begin" line that ends the input has no section after it.
bool FindBeginLine(TextLineReader& reader, char* line, size_t capacity, char* name,
                   NameState* state);

// True when a line of `length` characters fits the count its first
// character gives (see DecodeLengthPrefixedLines); a count of 0 never fits.
bool FitsItsCount(const uint8_t table[128], const char* line, size_t length);

// Where a uuencoded text starts, and what marks it as one part of several.
enum class UuStart {
  kNone,   // no "begin" line before the last line, and no encoded line
  kBegin,  // a "begin" line (its name taken)
  kBody,   // an encoded line without "begin" before it (a later part); it is
           // in the line buffer
};
struct UuPartMark {
  unsigned number = 0;  // "_=_ Part 002 of 003 of file x.bin": 2 (0: no mark)
  unsigned total = 0;
  char name[kPathBufferSize] = "";
  NameState state = NameState::kNone;
};

// Reads lines up to a "begin" line, or up to the first full encoded line
// ('M', 45 bytes) when that follows a part mark, or is the first line read
// and `atStart` says that is the input's first line. A part mark on the
// way is taken into *mark.
UuStart FindUuStart(TextLineReader& reader, const uint8_t table[128], char* line, size_t capacity, char* name,
                    NameState* state, UuPartMark* mark, size_t* bodyLength, bool atStart);

// How the body of a uuencoded section ended.
enum class UuBodyEnd {
  kEnd,      // a line with a count of 0 that is, or is followed by, "end"
  kNoEnd,    // the input ended first, or no "end" line came: the text was cut
  kDamaged,  // a line whose length does not fit its count: not a body line
};

// The body of a uuencoded section: each line starts with a character whose
// table value is the count of bytes it carries; a count of 0 (the "end"
// line, an empty line, a blank or grave accent) ends the body, and so does
// the end of the input. Characters missing from a short line count as 0
// (encoders that drop trailing blanks make such lines); a line shorter by
// more than three characters or longer by more than two (a check character
// and a stray one) than its count needs is no body line: decoding stops
// before it.
UuBodyEnd DecodeLengthPrefixedLines(TextLineReader& reader, const uint8_t table[128], char* line,
                                    size_t capacity, ByteSink& sink);
// The same, with its first line already in `line` (`length` characters).
UuBodyEnd DecodeLengthPrefixedLines(TextLineReader& reader, const uint8_t table[128], char* line,
                                    size_t capacity, ByteSink& sink, size_t length);

}  // namespace text

// A handler for text-encoded files whose extension is made of one letter
// ("uu", "uue" for the letter u) and whose body is decoded through a
// 128-entry character table that the subclass fills.
class LineDecoderHandler : public FormatHandler {
 public:
  LineDecoderHandler(const char* displayName, char lowerLetter, char upperLetter)
      : FormatHandler(displayName), lowerLetter_(lowerLetter), upperLetter_(upperLetter) {}

  bool MatchesExtension(const char* extension) override;
  bool Probe(const char* path, int32_t fileSize) override;
  // Any file with a "begin <mode> <name>" line followed by an encoded line.
  bool ProbeContent(const char* path, int32_t fileSize) override;
  bool Extract(const char* path, const char* outputFolder) override;
  virtual void FillDecodeTable(uint8_t table[128]) = 0;

  // The output name for a "begin" line that names no file. False when it
  // does not fit.
  [[nodiscard]] bool DefaultOutputName(char* out, const char* path) const;
  // True for the extension letters twice, optionally followed by 'e'/'E'.
  bool IsOwnExtension(const char* extension) const;

 protected:
  // Decodes one section whose start was found: a whole file is written, a
  // part recorded for the end of the run. False when the file cannot go on.
  bool ExtractSection(text::TextLineReader& reader, text::SectionInput& in, text::UuStart start,
                      const text::UuPartMark& mark, size_t bodyLength, const char* path,
                      const char* outputFolder);

 private:
  bool IsLetter(char c) const { return c == lowerLetter_ || c == upperLetter_; }

  char lowerLetter_;
  char upperLetter_;
  uint8_t decodeTable_[128] = {};
};
