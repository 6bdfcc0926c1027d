#include "service/media/StreamClient.h"

#include "service/media/WsOutput.h"

using easywsclient::OutputStream;
using easywsclient::WebSocket;
using easywsclient::WsPrint;

namespace {
// How long our close frame may take to go out after a stop before the connection is dropped.
constexpr std::chrono::milliseconds kCloseTimeout{1000};
// The client whose thread is running here, so Stop can tell a call from its own callback.
thread_local const StreamClient* t_runningClient = nullptr;
}  // namespace

StreamClient::StreamClient(const std::string& url, StreamCallback callback, void* user,
                           std::chrono::milliseconds reconnectDelay)
    : m_url(url), m_callback(callback), m_user(user), m_reconnectDelay(reconnectDelay) {
  m_thread = std::thread(&StreamClient::Run, this);
}

StreamClient::~StreamClient() {
  Stop();
  if (m_thread.joinable()) m_thread.join();
}

void StreamClient::Stop() {
  if (t_runningClient == this) {
    m_stop.store(true);
    return;
  }
  if (auto socket = CurrentSocket()) socket->setDiscard(true);
  m_abort.Abort();  // an attempt still waiting for its upgrade answer gives up now
  {
    std::lock_guard<std::mutex> lock(m_dispatchMutex);
    m_stop.store(true);
  }
  m_waker.Wake();
  std::lock_guard<std::mutex> lock(m_waitMutex);
  m_waitCv.notify_all();
}

std::shared_ptr<easywsclient::_RealWebSocket> StreamClient::CurrentSocket() {
  std::lock_guard<std::mutex> lock(m_socketMutex);
  return m_socket;
}

bool StreamClient::SendText(const std::string& text) {
  auto socket = CurrentSocket();
  if (!socket || socket->readyState() != WebSocket::OPEN) return false;
  socket->sendText(text);
  m_waker.Wake();  // the client thread sends it now rather than after its wait
  return true;
}

bool StreamClient::SendBinary(const std::vector<uint8_t>& bytes) {
  auto socket = CurrentSocket();
  if (!socket || socket->readyState() != WebSocket::OPEN) return false;
  socket->sendByteVector(bytes);
  m_waker.Wake();
  return true;
}

bool StreamClient::WaitOrStop(std::chrono::milliseconds delay) {
  std::unique_lock<std::mutex> lock(m_waitMutex);
  return m_waitCv.wait_for(lock, delay, [this] { return m_stop.load(); });
}

void StreamClient::Serve(const std::shared_ptr<easywsclient::_RealWebSocket>& socket) {
  {
    std::lock_guard<std::mutex> lock(m_dispatchMutex);
    if (!m_stop.load()) m_callback(std::vector<uint8_t>(), m_user);
  }
  bool closeSent = false;
  std::chrono::steady_clock::time_point closeDeadline;
  auto deliver = [this](const std::vector<uint8_t>& message) { m_callback(message, m_user); };
  while (socket->readyState() != WebSocket::CLOSED) {
    if (m_stop.load()) {
      if (!closeSent) {
        WsPrint(OutputStream::kOut, "Get stop command and send close data\n");
        socket->startClose();
        closeSent = true;
        closeDeadline = std::chrono::steady_clock::now() + kCloseTimeout;
      } else if (std::chrono::steady_clock::now() >= closeDeadline) {
        socket->forceClose();
        break;
      }
      socket->pumpIo(static_cast<int>(kPollInterval.count()));
      continue;
    }
    // Returns as soon as bytes arrive, a send is queued or a stop comes.
    const auto waker = m_waker.Handle();
    const auto bound = waker == platform::net::kInvalidSocket ? kPollInterval : kWakerPollInterval;
    if (socket->pumpIoUntil(static_cast<int>(bound.count()), waker)) m_waker.Drain();
    if (m_stop.load()) continue;
    std::lock_guard<std::mutex> lock(m_dispatchMutex);
    // A stop that slipped in since the check above has already returned to its caller.
    if (!m_stop.load()) socket->dispatchBinary(deliver);
  }
}

void StreamClient::Run() {
  t_runningClient = this;
  for (int attempts = 0; !m_stop.load();) {
    auto socket = easywsclient::connectReal(m_url, std::string(), &m_abort);
    {
      std::lock_guard<std::mutex> lock(m_socketMutex);
      m_socket = socket;
      // A stop that came while connecting must still keep deliveries away.
      if (socket && m_stop.load()) socket->setDiscard(true);
    }
    if (socket) {
      Serve(socket);
      if (m_stop.load()) {
        WsPrint(OutputStream::kOut, "Quit webSocket thread\n");
        break;
      }
      WsPrint(OutputStream::kOut, "Ws disconnect\n");
    } else {
      WsPrint(OutputStream::kOut, "Link false, reconnect after %u ms\n",
              static_cast<unsigned>(m_reconnectDelay.count()));
      if (WaitOrStop(m_reconnectDelay)) break;
    }
    if (++attempts >= kAttemptLimit) {
      WsPrint(OutputStream::kOut, "Link err over %u times, stop\n", static_cast<unsigned>(kAttemptLimit));
      break;
    }
  }
  {
    std::lock_guard<std::mutex> lock(m_waitMutex);
    m_ended.store(true);
  }
  m_waitCv.notify_all();
}

bool StreamClient::WaitEnded(std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(m_waitMutex);
  return m_waitCv.wait_for(lock, timeout, [this] { return m_ended.load(); });
}
