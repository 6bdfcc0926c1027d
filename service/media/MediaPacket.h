#pragma once
// One received media frame on its way from the client thread to the feed thread. Owned by
// whoever holds it (the receive path, then the queue, then the feed thread).
#include <cstddef>
#include <cstdint>
#include <vector>

#include "service/media/StreamDescriptionLayout.h"

struct MediaPacket {
  uint16_t videoCodec = 0;
  uint16_t audioCodec = 0;
  uint16_t frameRate = 0;
  uint16_t frameType = 0;
  uint16_t secondFrame = 0;  // video: 1 unless the frame stands alone (a key frame)
  uint16_t kind = 0;  // 0 video, 1 audio
  uint32_t frameTime = 0;
  std::vector<uint8_t> payload;  // the frame after its header, an owned copy

  size_t PayloadSize() const { return payload.size(); }
};

// A packet stamped from the channel's description at the time of receipt.
MediaPacket MakeMediaPacket(const StreamDescription& description, const uint8_t* payload, size_t size);

// What the AV library is told about one frame as it is fed.
StreamDescription MakeFrameDescription(const MediaPacket& packet);
