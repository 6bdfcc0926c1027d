#include "vxavplayer/src/VideoDecoder.h"

extern "C" {
#include <libavutil/hwcontext.h>
}

#include "vxavplayer/src/CodecCodes.h"

namespace vxav {

namespace {

AVPixelFormat PickVaapi(AVCodecContext* context, const AVPixelFormat* formats) {
  for (const AVPixelFormat* f = formats; *f != AV_PIX_FMT_NONE; ++f) {
    if (*f == AV_PIX_FMT_VAAPI) return *f;
  }
  // The hardware cannot take this stream: decode in software.
  return avcodec_default_get_format(context, formats);
}

}  // namespace

bool VideoDecoder::Open(int codecCode) {
  m_context.reset();
  m_hardwareActive = false;
  m_code = 0;
  const AVCodec* codec = avcodec_find_decoder(VideoCodecId(codecCode));
  if (codec == nullptr) return false;
  CodecContextPtr context(avcodec_alloc_context3(codec));
  if (!context) return false;
  // One thread per stream: many panes decode at once, and frame threads add latency.
  context->thread_count = 1;
  if (m_wantHardware && codecCode != 26) {
    if (!m_device) {
      AVBufferRef* device = nullptr;
      if (av_hwdevice_ctx_create(&device, AV_HWDEVICE_TYPE_VAAPI, nullptr, nullptr, 0) == 0) {
        m_device.reset(device);
      } else {
        m_wantHardware = false;  // no device here: stay in software from now on
      }
    }
    if (m_device) {
      context->hw_device_ctx = av_buffer_ref(m_device.get());
      context->get_format = PickVaapi;
    }
  }
  if (avcodec_open2(context.get(), codec, nullptr) < 0) {
    if (!context->hw_device_ctx) return false;
    // Hardware set-up refused the stream: fall back to software.
    m_wantHardware = false;
    return Open(codecCode);
  }
  m_hardwareActive = context->hw_device_ctx != nullptr;
  m_context = std::move(context);
  m_code = codecCode;
  return true;
}

void VideoDecoder::Receive(const FrameSink& sink) {
  while (avcodec_receive_frame(m_context.get(), m_frame.get()) == 0) {
    AVFrame* out = m_frame.get();
    if (m_frame->hw_frames_ctx != nullptr) {
      av_frame_unref(m_softFrame.get());
      if (av_hwframe_transfer_data(m_softFrame.get(), m_frame.get(), 0) < 0) {
        av_frame_unref(m_frame.get());
        m_hardwareFailed = true;
        return;
      }
      av_frame_copy_props(m_softFrame.get(), m_frame.get());
      out = m_softFrame.get();
    }
    out->pts = m_frame->pts != AV_NOPTS_VALUE ? m_frame->pts : m_frame->best_effort_timestamp;
    sink(out);
    av_frame_unref(m_frame.get());
    av_frame_unref(m_softFrame.get());
  }
}

bool VideoDecoder::Decode(int codecCode, const std::uint8_t* data, int size, std::int64_t tag,
                          const FrameSink& sink) {
  if (codecCode != m_code || !m_context) {
    Drain(sink);
    if (!Open(codecCode)) return false;
  }
  m_packet->data = const_cast<std::uint8_t*>(data);
  m_packet->size = size;
  m_packet->pts = tag;
  m_packet->dts = AV_NOPTS_VALUE;
  int result = avcodec_send_packet(m_context.get(), m_packet.get());
  if (result == AVERROR(EAGAIN)) {
    Receive(sink);
    result = avcodec_send_packet(m_context.get(), m_packet.get());
  }
  m_packet->data = nullptr;
  m_packet->size = 0;
  // Corrupt data is the stream's fault; any other refusal of a hardware decoder is the device's.
  if (m_hardwareActive && result < 0 && result != AVERROR(EAGAIN) && result != AVERROR_INVALIDDATA) {
    m_hardwareFailed = true;
  }
  if (!m_hardwareFailed) Receive(sink);
  if (m_hardwareFailed) FallBackToSoftware();
  return true;
}

void VideoDecoder::FallBackToSoftware() {
  m_hardwareFailed = false;
  m_wantHardware = false;
  av_frame_unref(m_softFrame.get());
  m_context.reset();
  m_device.reset();
  Open(m_code);
}

void VideoDecoder::Drain(const FrameSink& sink) {
  if (!m_context) return;
  if (avcodec_send_packet(m_context.get(), nullptr) == 0) Receive(sink);
  avcodec_flush_buffers(m_context.get());
}

}  // namespace vxav
