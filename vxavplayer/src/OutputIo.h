#pragma once
// An FFmpeg output context over a platform::system::FileWriter, so recordings and downloads are
// written without following a link at the file's name, and a failed write (a full disk) is
// seen. Used by its recorder's thread only.
#include <memory>
#include <string>

#include "platform/system/FileWriter.h"
#include "vxavplayer/src/AvPtr.h"

namespace vxav {

class OutputIo {
 public:
  // Opens (or creates) `path` without emptying an existing file yet; null when it cannot be
  // opened for writing.
  static std::unique_ptr<OutputIo> Open(const std::string& path);
  ~OutputIo();

  // Empties the file and gives the context to write through (owned by this object); null on
  // failure.
  AVIOContext* Begin();
  // True once a write or seek failed.
  bool Failed() const { return m_failed; }
  // Flushes what the context holds and closes the file.
  void Finish();
  // Drops what is buffered, closes, and removes the file when Open made it.
  void Discard();

 private:
  explicit OutputIo(std::unique_ptr<platform::system::FileWriter> file) : m_file(std::move(file)) {}
  static int WritePacket(void* opaque, std::uint8_t* data, int size);
  static std::int64_t SeekTo(void* opaque, std::int64_t offset, int whence);

  std::unique_ptr<platform::system::FileWriter> m_file;
  AVIOContext* m_io = nullptr;
  bool m_failed = false;
};

}  // namespace vxav
