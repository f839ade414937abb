// The drive link's receiving side on arbitrary bytes: the frame decoder, fed in pieces of the
// sizes the input itself chooses, and every frame it accepts read as each answer and request
// kind. Nothing may crash or read out of bounds; the decoder must never hold more than a frame.
#include <cstddef>
#include <cstdint>
#include <string>

#include "host/link/frame_codec.h"
#include "host/link/link_protocol.h"
#include "host/scope_frame.h"

using namespace axis::link;

namespace {

void ReadEveryWay(const Frame& frame) {
  const auto& p = frame.payload;
  {
    PayloadReader r(p);
    r.I64();
    r.Text();
    r.F64();
  }
  {
    PayloadReader r(p);
    ReadUserVariables(r);
    ReadLogRequest(r);
  }
  {
    PayloadReader r(p);
    ReadScopeRequest(r);
  }
  {
    PayloadReader r(p);
    ReadLog(r);
  }
  {
    PayloadReader r(p);
    const axis::UnsolicitedMessage words = ReadWords(r);
    axis::ScopeFrame scope;
    std::string error;
    if (words.size() >= 3) axis::DecodeScopeFrame(p.data() + 6, p.size() - 6, scope, error);
  }
  KindName(frame.kind);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FrameDecoder decoder;
  Frame frame;
  std::string error;
  size_t at = 0;
  while (at < size) {
    const size_t piece = 1 + data[at] % 64;
    const size_t n = std::min(piece, size - at);
    decoder.Feed(data + at, n);
    at += n;
    for (FrameDecoder::Status s;
         (s = decoder.Next(frame, error)) != FrameDecoder::Status::kNeedMore;) {
      if (s == FrameDecoder::Status::kFrame) ReadEveryWay(frame);
      if (s != FrameDecoder::Status::kFrame && error.empty()) __builtin_trap();
    }
    if (decoder.Buffered() > kHeaderBytes + kMaxPayload + kTrailerBytes) __builtin_trap();
  }
  return 0;
}
