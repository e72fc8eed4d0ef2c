#include "stream/inflate.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#ifdef DORVANE_HAVE_ISAL
#include <isa-l/igzip_lib.h>
#endif

namespace flate {

namespace {

// Both libraries count in 32 bits; longer spans go through in pieces.
constexpr size_t kMaxPiece = 0x40000000;
// ISA-L and zlib agree on every sound stream, but on damaged data ISA-L
// may stop a few bytes later or earlier than zlib. While a stream's input
// fits here it is kept, and when ISA-L finds damage zlib decodes the kept
// input again and has the last word on the bytes and the verdict.
constexpr size_t kRefereeWindow = 1 << 20;

enum class Phase { kRunning, kEnded, kFailed };

}  // namespace

struct Inflater::State {
  InflateBackend backend;
  Phase phase = Phase::kRunning;
  z_stream zlib{};
  bool zlibReady = false;
  const uint8_t* leftover = nullptr;
  size_t leftoverLength = 0;
#ifdef DORVANE_HAVE_ISAL
  inflate_state isal;
  // The last input bytes taken: ISA-L reads ahead into a bit buffer and
  // keeps what the stream did not use there.
  uint8_t recent[8] = {};
  size_t recentLength = 0;
  std::vector<uint8_t> kept;  // input taken since the stream began
  bool keptWhole = true;      // false once it outgrew kRefereeWindow
  uint64_t delivered = 0;     // output given so far
  bool refereed = false;      // zlib took over this stream
  size_t pending = 0;         // first byte of `kept` zlib has not taken
#endif

  // One zlib step over in[0, inSize) into out[0, outSize).
  int ZlibStep(const uint8_t* in, size_t& inSize, uint8_t* out, size_t& outSize) {
    zlib.next_in = const_cast<Bytef*>(in);
    zlib.avail_in = static_cast<uInt>(inSize);
    zlib.next_out = out;
    zlib.avail_out = static_cast<uInt>(outSize);
    const int result = inflate(&zlib, Z_NO_FLUSH);
    inSize = zlib.avail_in;
    outSize = zlib.avail_out;
    return result;
  }
};

InflateBackend DefaultInflateBackend() {
#ifdef DORVANE_HAVE_ISAL
  return InflateBackend::kIsal;
#else
  return InflateBackend::kZlib;
#endif
}

bool HasInflateBackend(InflateBackend backend) {
  return backend == InflateBackend::kZlib || DefaultInflateBackend() == InflateBackend::kIsal;
}

Inflater::Inflater(InflateBackend backend) : state_(new (std::nothrow) State) {
  if (state_ == nullptr) return;
  state_->backend = HasInflateBackend(backend) ? backend : InflateBackend::kZlib;
  // The version string is the interface the program was written against;
  // the installed library accepts it.
  if (inflateInit2_(&state_->zlib, -15, "1.1.4", static_cast<int>(sizeof state_->zlib)) != Z_OK) {
    delete state_;
    state_ = nullptr;
    return;
  }
  state_->zlibReady = true;
  Reset();
}

Inflater::~Inflater() {
  if (state_ == nullptr) return;
  if (state_->zlibReady) inflateEnd(&state_->zlib);
  delete state_;
}

void Inflater::Reset() {
  if (state_ == nullptr) return;
  State& st = *state_;
  st.phase = Phase::kRunning;
  st.leftover = nullptr;
  st.leftoverLength = 0;
  inflateReset(&st.zlib);
#ifdef DORVANE_HAVE_ISAL
  if (st.backend == InflateBackend::kIsal) {
    isal_inflate_init(&st.isal);
    st.isal.crc_flag = ISAL_DEFLATE;  // raw deflate, no check value
    st.isal.hist_bits = 0;            // the full 32 KiB window
    st.recentLength = 0;
    st.kept.clear();
    st.keptWhole = true;
    st.delivered = 0;
    st.refereed = false;
    st.pending = 0;
  }
#endif
}

InflateResult Inflater::Run(const uint8_t*& in, size_t& inSize, uint8_t*& out, size_t& outSize) {
  if (state_ == nullptr || state_->phase == Phase::kFailed) return InflateResult::kError;
  if (state_->phase == Phase::kEnded) return InflateResult::kEnd;
  State& st = *state_;
  const size_t inPiece = std::min(inSize, kMaxPiece);
  const size_t outPiece = std::min(outSize, kMaxPiece);
  size_t inLeft = inPiece;
  size_t outLeft = outPiece;
  int result = Z_OK;  // in zlib's terms, whichever backend ran

  bool useZlib = st.backend == InflateBackend::kZlib;
#ifdef DORVANE_HAVE_ISAL
  useZlib = useZlib || st.refereed;
  if (st.refereed && st.pending < st.kept.size()) {
    // zlib first works through the kept input ISA-L had already taken.
    size_t keptLeft = st.kept.size() - st.pending;
    result = st.ZlibStep(st.kept.data() + st.pending, keptLeft, out, outLeft);
    st.pending = st.kept.size() - keptLeft;
    if (result == Z_STREAM_END) {
      st.leftover = st.kept.data() + st.pending;
      st.leftoverLength = keptLeft;
    }
    useZlib = false;  // this call is done
  }
#endif
  if (useZlib) result = st.ZlibStep(in, inLeft, out, outLeft);
#ifdef DORVANE_HAVE_ISAL
  if (st.backend == InflateBackend::kIsal && !st.refereed) {
    inflate_state& s = st.isal;
    s.next_in = const_cast<uint8_t*>(in);
    s.avail_in = static_cast<uint32_t>(inPiece);
    s.next_out = out;
    s.avail_out = static_cast<uint32_t>(outPiece);
    const int isalResult = isal_inflate(&s);
    // After damage ISA-L's input count is not to be trusted: the whole piece
    // counts as taken (the referee below keeps it all).
    inLeft = isalResult < 0 ? 0 : std::min<size_t>(s.avail_in, inPiece);
    outLeft = std::min<size_t>(s.avail_out, outPiece);
    const size_t taken = inPiece - inLeft;
    if (st.keptWhole || isalResult < 0) {
      if (st.keptWhole && st.kept.size() + taken > kRefereeWindow && isalResult >= 0) {
        st.keptWhole = false;
        std::vector<uint8_t>().swap(st.kept);
      } else {
        st.kept.insert(st.kept.end(), in, in + taken);
      }
    }
    const size_t keep = std::min(taken, sizeof st.recent);
    const size_t old = std::min(st.recentLength, sizeof st.recent - keep);
    memmove(st.recent, st.recent + st.recentLength - old, old);
    memcpy(st.recent + old, in + taken - keep, keep);
    st.recentLength = old + keep;
    // Without input and without progress the input has ended: ISA-L may
    // still hold a block header it has not judged, or bits it decodes only
    // with more behind them; zlib has the last word then too.
    const bool stalled = isalResult >= 0 && s.block_state != ISAL_BLOCK_FINISH && inPiece == 0 &&
                         outLeft == outPiece && outPiece > 0;
    if ((isalResult < 0 || stalled) && st.keptWhole) {
      // zlib decodes the stream again from its start: the output given
      // before this call is passed over, the rest lands in this call's room.
      st.refereed = true;
      inflateReset(&st.zlib);
      uint8_t scratch[4096];
      uint64_t skip = st.delivered;
      size_t keptLeft = st.kept.size();
      result = Z_OK;
      while (skip > 0 && result == Z_OK) {
        size_t room = static_cast<size_t>(std::min<uint64_t>(skip, sizeof scratch));
        const size_t wanted = room;
        result = st.ZlibStep(st.kept.data() + st.kept.size() - keptLeft, keptLeft, scratch, room);
        skip -= wanted - room;
        if (room != 0 && result == Z_OK) result = Z_BUF_ERROR;  // ran dry before the given output
      }
      outLeft = outPiece;
      if (skip == 0 && result == Z_OK)
        result = st.ZlibStep(st.kept.data() + st.kept.size() - keptLeft, keptLeft, out, outLeft);
      else if (skip > 0)
        result = Z_DATA_ERROR;  // zlib stops short of output already given
      st.pending = st.kept.size() - keptLeft;
      if (result == Z_STREAM_END) {
        st.leftover = st.kept.data() + st.pending;
        st.leftoverLength = keptLeft;
      }
    } else if (isalResult < 0) {
      result = Z_DATA_ERROR;
    } else if (s.block_state == ISAL_BLOCK_FINISH) {
      result = Z_STREAM_END;
      // Whole bytes left in the bit buffer go back from the last bytes taken.
      st.leftoverLength = std::min(static_cast<size_t>(s.read_in_length / 8), st.recentLength);
      st.leftover = st.recent + st.recentLength - st.leftoverLength;
    }
  }
  st.delivered += outPiece - outLeft;
#endif
  in += inPiece - inLeft;
  inSize -= inPiece - inLeft;
  out += outPiece - outLeft;
  outSize -= outPiece - outLeft;
  if (result == Z_STREAM_END) {
    st.phase = Phase::kEnded;
    return InflateResult::kEnd;
  }
  if (result != Z_OK && result != Z_BUF_ERROR) {
    st.phase = Phase::kFailed;
    return InflateResult::kError;
  }
  return InflateResult::kMore;
}

size_t Inflater::Leftover(const uint8_t** bytes) const {
  if (state_ == nullptr || state_->phase != Phase::kEnded) return 0;
  *bytes = state_->leftover;
  return state_->leftoverLength;
}

}  // namespace flate
