// What the instrument link makes of a byte stream from the instrument: the
// stream cut into blocks as it arrives in pieces, each block decoded into
// packets, parameter answers read value by value, and the check a block
// passes before it is sent on.
#include <algorithm>

#include "FuzzSupport.h"
#include "InstrumentProtocol.h"

using namespace vkinstrument;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vkfuzz::SilenceReports();
  if (size == 0) return 0;
  // The first byte sets how the stream is split into arrivals.
  const size_t piece = 1 + data[0] * 7u;
  CBlockReader reader;
  volatile double sink = 0;
  for (size_t at = 1; at < size; at += piece) {
    reader.Feed(data + at, std::min(piece, size - at));
    for (;;) {
      std::unique_ptr<CDevCommand> block;
      const auto result = reader.Next(block);
      if (result == CBlockReader::Result::BadSignature) return 0;  // the link hangs up
      if (result != CBlockReader::Result::Block) break;
      OutgoingBlockFault(*block);
      CDevParameter parameter(block.get());
      for (int i = 0; i < parameter.FlagA(); ++i) sink += parameter.Value(i);
      TDecodedBlock decoded = DecodeBlock(std::move(block));
      if (decoded.kind == TDecodedBlock::Kind::Data)
        for (auto& channel : decoded.channels)
          for (unsigned i = 0; i < channel->Size(); ++i) sink += (*channel)[i];
    }
  }
  return 0;
}
