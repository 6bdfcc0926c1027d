#include "VXAVPlayer.h"
#include "vxavplayer/src/Recorder.h"

namespace vxav {

namespace {

// Calls `visit(type, begin, end)` per NAL unit of an Annex B buffer; begin includes the start code.
template <typename Visit>
void ForEachNal(int videoCode, const std::uint8_t* d, int size, Visit visit) {
  int i = 0;
  int start = -1;
  int payload = -1;
  auto emit = [&](int end) {
    if (payload < 0 || payload >= end) return;
    const int type = videoCode == VX_CODEC_H265 ? (d[payload] >> 1) & 0x3F : d[payload] & 0x1F;
    visit(type, start, end);
  };
  while (i + 3 <= size) {
    if (d[i] == 0 && d[i + 1] == 0 && d[i + 2] == 1) {
      const int codeStart = (i > 0 && d[i - 1] == 0) ? i - 1 : i;
      emit(codeStart);
      start = codeStart;
      payload = i + 3;
      i += 3;
    } else {
      ++i;
    }
  }
  emit(size);
}

}  // namespace

bool IsKeyFrame(int videoCode, const std::uint8_t* data, int size) {
  if (videoCode == VX_CODEC_MJPEG) return size > 2 && data[0] == 0xFF && data[1] == 0xD8;
  bool key = false;
  ForEachNal(videoCode, data, size, [&](int type, int, int) {
    if (videoCode == VX_CODEC_H265 ? (type >= 16 && type <= 21) : type == 5) key = true;
  });
  return key;
}

std::vector<std::uint8_t> ParameterSets(int videoCode, const std::uint8_t* data, int size) {
  std::vector<std::uint8_t> out;
  if (videoCode == VX_CODEC_MJPEG) return out;
  ForEachNal(videoCode, data, size, [&](int type, int begin, int end) {
    const bool set = videoCode == VX_CODEC_H265 ? (type >= 32 && type <= 34) : (type == 7 || type == 8);
    if (set) out.insert(out.end(), data + begin, data + end);
  });
  return out;
}

}  // namespace vxav
