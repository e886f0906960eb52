// The board reads a byte stream however the host cuts it into writes: fed whole or in
// fuzzer-chosen pieces, the same bytes give the same replies, the same flash and the same
// ignored count.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <span>
#include <vector>

#include "board/board_protocol.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider fuzz(data, size);
  const auto cuts = fuzz.ConsumeBytes<std::uint8_t>(fuzz.ConsumeIntegralInRange(0, 64));
  const auto stream = fuzz.ConsumeRemainingBytes<std::uint8_t>();

  qvx::board::BoardProtocol whole, pieces;
  const auto replies = whole.Feed(stream);
  std::vector<std::uint8_t> pieceReplies;
  std::size_t at = 0;
  for (std::size_t i = 0; at < stream.size(); ++i) {
    const std::size_t n = cuts.empty() ? stream.size() : 1 + cuts[i % cuts.size()] * 40;
    const auto part = pieces.Feed(std::span(stream).subspan(at, std::min(n, stream.size() - at)));
    pieceReplies.insert(pieceReplies.end(), part.begin(), part.end());
    at += n;
  }
  FUZZ_CHECK(pieceReplies == replies);
  FUZZ_CHECK(pieces.Flash() == whole.Flash());
  FUZZ_CHECK(pieces.IgnoredBytes() == whole.IgnoredBytes());
  return 0;
}
