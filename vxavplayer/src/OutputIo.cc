#include "vxavplayer/src/OutputIo.h"

namespace vxav {

namespace {
constexpr int kBufferSize = 64 * 1024;
}

std::unique_ptr<OutputIo> OutputIo::Open(const std::string& path) {
  auto file = platform::system::FileWriter::Open(path, platform::system::FileWriter::Mode::kKeep);
  if (!file) return nullptr;
  return std::unique_ptr<OutputIo>(new OutputIo(std::move(file)));
}

OutputIo::~OutputIo() { Finish(); }

AVIOContext* OutputIo::Begin() {
  if (m_io != nullptr || !m_file) return m_io;
  if (!m_file->Truncate(0) || m_file->Seek(0, 0) != 0) return nullptr;
  auto* buffer = static_cast<unsigned char*>(av_malloc(kBufferSize));
  if (buffer == nullptr) return nullptr;
  m_io = avio_alloc_context(buffer, kBufferSize, 1, this, nullptr, &OutputIo::WritePacket, &OutputIo::SeekTo);
  if (m_io == nullptr) av_free(buffer);
  return m_io;
}

int OutputIo::WritePacket(void* opaque, std::uint8_t* data, int size) {
  auto* self = static_cast<OutputIo*>(opaque);
  if (self->m_failed) return AVERROR(EIO);
  if (!self->m_file->Write(data, static_cast<size_t>(size))) {
    self->m_failed = true;
    return self->m_file->LastFailure() == platform::system::FileWriter::Failure::kNoSpace ? AVERROR(ENOSPC)
                                                                                           : AVERROR(EIO);
  }
  return size;
}

std::int64_t OutputIo::SeekTo(void* opaque, std::int64_t offset, int whence) {
  auto* self = static_cast<OutputIo*>(opaque);
  if (whence == AVSEEK_SIZE) return self->m_file->Size();
  const std::int64_t at = self->m_file->Seek(offset, whence & ~AVSEEK_FORCE);
  if (at < 0) self->m_failed = true;
  return at < 0 ? AVERROR(EIO) : at;
}

void OutputIo::Finish() {
  if (m_io != nullptr) {
    avio_flush(m_io);
    if (m_io->error < 0) m_failed = true;
    av_freep(&m_io->buffer);
    avio_context_free(&m_io);
  }
  m_file.reset();
}

void OutputIo::Discard() {
  if (m_io != nullptr) {
    av_freep(&m_io->buffer);
    avio_context_free(&m_io);
  }
  if (m_file) m_file->CloseAndRemoveIfCreated();
  m_file.reset();
}

}  // namespace vxav
