// Raw deflate decoding: the one road to inflate for ZIP deflate members,
// gzip members (stream/gzip_reader.h) and TAR inside gzip. Two backends
// give the same bytes and the same verdicts: ISA-L, the default when the
// build found it, and zlib.
#pragma once

#include <cstddef>
#include <cstdint>

namespace flate {

enum class InflateBackend { kIsal, kZlib };

// ISA-L when it is built in, zlib otherwise.
InflateBackend DefaultInflateBackend();
// Whether this build holds the backend (zlib always).
bool HasInflateBackend(InflateBackend backend);

enum class InflateResult {
  kMore,   // give more input (all was taken) or more room (the output is full)
  kEnd,    // the final block is complete and all its output delivered
  kError,  // damaged data: what was delivered is valid up to the damage
};

class Inflater {
 public:
  // A backend this build lacks falls back to zlib.
  explicit Inflater(InflateBackend backend = DefaultInflateBackend());
  ~Inflater();
  Inflater(const Inflater&) = delete;
  Inflater& operator=(const Inflater&) = delete;

  // False when the decoder state could not be allocated.
  [[nodiscard]] bool ok() const { return state_ != nullptr; }
  // Forgets the stream so far: the next Run starts a new one.
  void Reset();
  // Decodes from in[0, inSize) into out[0, outSize), moving both pointers
  // and sizes past what was taken and given. After kEnd the input behind
  // the stream's last byte is Leftover() followed by in[0, inSize); it
  // belongs to the caller. After kError every later call gives kError until
  // Reset. When the input has ended, call with inSize 0 until a call gives
  // nothing: only then is the verdict on a cut-off stream final.
  [[nodiscard]] InflateResult Run(const uint8_t*& in, size_t& inSize, uint8_t*& out, size_t& outSize);

  // After kEnd: bytes (at most 8) the decoder had taken in but the stream
  // did not use, the last bytes taken; they come before `in`. Empty
  // otherwise.
  size_t Leftover(const uint8_t** bytes) const;

 private:
  struct State;
  State* state_;
};

}  // namespace flate
