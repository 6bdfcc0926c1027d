// Two-way audio: the microphone's blocks go to the source behind talk headers; the source's
// own audio comes back through the receive path and plays without a window.
#include "service/media/PlayChannel.h"
#include "service/media/SourceText.h"
#include "service/media/StreamClient.h"
#include "service/media/TalkCapture.h"

namespace {
// The source reads one message into a buffer of this size: header and audio together.
constexpr std::size_t kTalkMessageBytes = 9600;
constexpr std::size_t kTalkAudioBytes = kTalkMessageBytes - kMediaHeaderSize;
}  // namespace

int PlayChannel::StartTalk(const std::string& url, const std::string& requestJson, int audioCodec,
                           const std::string& key) {
  auto capture = std::make_shared<TalkCapture>();
  const int opened = capture->Open(audioCodec);
  if (opened != 0) return opened;  // the channel is left as it was
  m_talk = std::move(capture);
  m_strKey = key;
  m_mode = Mode::kTalk;
  m_strRequest = requestJson;
  {
    std::lock_guard<std::mutex> lock(m_descMutex);
    m_desc.audioCodec = static_cast<std::uint16_t>(audioCodec);
  }
  m_nChannel = ReadStartFields(requestJson).channel.value_or(0);
  m_bClosing = false;
  if (url.empty()) return -1;
  ConnectSource(url);
  return 0;
}

void PlayChannel::StartCapture() {
  if (!m_talk) return;
  m_talk->Start([this](const std::uint8_t* data, std::size_t length) { OnCapturedAudio(data, length); },
                [this] { Notify("startTalk", "-3", m_nChannel, 0); });
}

void PlayChannel::OnCapturedAudio(const std::uint8_t* data, std::size_t length) {
  // A block beyond the source's buffer is cut rather than overrunning it.
  const std::size_t audio = std::min(length, kTalkAudioBytes);
  // Labelled with the codec the microphone encodes in; the description follows the device's own
  // audio coming back, which may be another.
  std::vector<std::uint8_t> message = BuildTalkHeader(m_talk->Codec(), static_cast<std::uint16_t>(audio));
  message.insert(message.end(), data, data + audio);
  std::lock_guard<std::mutex> lock(m_clientMutex);
  if (m_pClient) m_pClient->SendBinary(message);
}

int PlayChannel::StopTalk(const std::string& message) {
  // The microphone first, so nothing more is sent or reported once the message goes out.
  if (m_talk) m_talk->Stop();
  return StopStream(message);
}
