#include "service/media/ConnectAbort.h"

namespace easywsclient {

bool ConnectAbort::Watch(platform::net::SocketHandle socket) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_socket = m_aborted ? platform::net::kInvalidSocket : socket;
  return !m_aborted;
}

void ConnectAbort::Abort() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_aborted = true;
  // Under the lock: the attempt cannot close the socket (and its number be reused) meanwhile.
  if (m_socket != platform::net::kInvalidSocket) platform::net::ShutdownBoth(m_socket);
}

}  // namespace easywsclient
