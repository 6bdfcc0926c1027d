#pragma once
// Decodes the talk audio a viewer sends, as a device's speaker would, so a test can tell audio
// that decodes from bytes that merely arrive. G.711 (wire 16/17, or the viewer's own 1/2) and
// AAC in ADTS frames (21, or 39); other codes are counted as undecodable. One per connection,
// used on its strand.

#include <cstdint>
#include <string_view>

#include "AvPointers.h"

namespace source {

class TalkDecoder {
public:
    // Decoded samples (per channel) of one message's payload; 0 when it did not decode.
    std::int64_t Decode(int codec, std::string_view payload);

private:
    int m_codec = -1;
    CodecContextPtr m_context;
    PacketPtr m_packet{av_packet_alloc()};
    FramePtr m_frame{av_frame_alloc()};
};

}  // namespace source
