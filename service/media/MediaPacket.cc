#include "service/media/MediaPacket.h"

MediaPacket MakeMediaPacket(const StreamDescription& description, const uint8_t* payload, size_t size) {
  MediaPacket p;
  p.videoCodec = description.videoCodec;
  p.audioCodec = description.audioCodec;
  p.frameRate = description.frameRate;
  p.frameType = description.frameType;
  p.secondFrame = description.secondFrame;
  p.kind = description.kind;
  p.frameTime = description.frameTime;
  p.payload.assign(payload, payload + size);
  return p;
}

StreamDescription MakeFrameDescription(const MediaPacket& packet) {
  StreamDescription d{};
  d.kind = packet.kind;
  d.frameTime = packet.frameTime;
  if (packet.kind == 0) {
    d.videoCodec = packet.videoCodec;
    d.frameRate = packet.frameRate;
    d.frameType = packet.frameType;
    d.secondFrame = packet.frameType == 0 ? 1 : 0;
  } else {
    d.audioCodec = packet.audioCodec;
  }
  return d;
}
