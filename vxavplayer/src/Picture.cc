#include <algorithm>
#include <cctype>

#include "platform/system/FileWriter.h"
#include "vxavplayer/src/StreamPlayer.h"

namespace vxav {

namespace {

std::string Extension(const std::string& path) {
  const auto dot = path.find_last_of('.');
  const auto slash = path.find_last_of("/\\");
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
  std::string ext = path.substr(dot + 1);
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
  return ext;
}

}  // namespace

int WritePicture(const AVFrame* picture, const std::string& path) {
  const std::string ext = Extension(path);
  AVCodecID id;
  AVPixelFormat format;
  if (ext == "jpg" || ext == "jpeg") {
    id = AV_CODEC_ID_MJPEG;
    format = AV_PIX_FMT_YUVJ420P;
  } else if (ext == "png") {
    id = AV_CODEC_ID_PNG;
    format = AV_PIX_FMT_RGB24;
  } else if (ext == "bmp") {
    id = AV_CODEC_ID_BMP;
    format = AV_PIX_FMT_BGR24;
  } else {
    return VX_ERR_PARAM;
  }
  const AVCodec* codec = avcodec_find_encoder(id);
  if (codec == nullptr) return VX_ERR_CODEC;
  CodecContextPtr context(avcodec_alloc_context3(codec));
  if (!context) return VX_ERR_NOMEM;
  context->width = picture->width;
  context->height = picture->height;
  context->pix_fmt = format;
  context->time_base = AVRational{1, 25};
  if (id == AV_CODEC_ID_MJPEG) {
    context->flags |= AV_CODEC_FLAG_QSCALE;
    context->global_quality = FF_QP2LAMBDA * 2;
  }
  if (avcodec_open2(context.get(), codec, nullptr) < 0) return VX_ERR_CODEC;

  FramePtr converted = MakeFrame();
  converted->width = picture->width;
  converted->height = picture->height;
  converted->format = format;
  if (av_frame_get_buffer(converted.get(), 0) < 0) return VX_ERR_NOMEM;
  SwsPtr sws(sws_getContext(picture->width, picture->height, static_cast<AVPixelFormat>(picture->format),
                            picture->width, picture->height, format, SWS_BICUBIC, nullptr, nullptr, nullptr));
  if (!sws) return VX_ERR_GENERIC;
  sws_scale(sws.get(), picture->data, picture->linesize, 0, picture->height, converted->data, converted->linesize);
  converted->pts = 0;
  converted->quality = context->global_quality;

  PacketPtr packet = MakePacket();
  if (avcodec_send_frame(context.get(), converted.get()) < 0 || avcodec_send_frame(context.get(), nullptr) < 0 ||
      avcodec_receive_packet(context.get(), packet.get()) < 0) {
    return VX_ERR_GENERIC;
  }
  // Never through a link at the name; a picture that cannot be written whole is removed.
  auto file = platform::system::FileWriter::Open(path, platform::system::FileWriter::Mode::kTruncate);
  if (!file) return VX_ERR_FILE;
  if (!file->Write(packet->data, static_cast<size_t>(packet->size))) {
    file->CloseAndRemoveIfCreated();
    return VX_ERR_FILE;
  }
  return VX_OK;
}

}  // namespace vxav
