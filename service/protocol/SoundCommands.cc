// Sound of the panes. openSound often comes right after a start, before the pane's player is
// open; it is then tried again every 200 ms, up to 10 more times, on the timer thread rather than
// on the command thread, so that other pages' commands are not held for those 2 s. Its reply
// carries the final result and goes out when it is known; replies of later commands of the same
// page may go out before it (the page matches replies by their sequence).
#include <map>
#include <memory>
#include <mutex>

#include "platform/timer/PeriodicTimer.h"
#include "service/media/PlayChannel.h"
#include "service/protocol/ChannelLookup.h"
#include "service/protocol/StreamCommandParts.h"

namespace {

constexpr int kRetryPeriodMs = 200;
constexpr int kRetryLimit = 10;

// Sound on in the channel of `pane`: 0, or -1 when the pane has no open player (yet).
int TryOpenSound(CSession& session, int pane) {
  PlayChannel* channel = ChannelOfPane(session, pane);
  return channel ? channel->OpenSound() : -1;
}

// The openSound commands still waiting for their pane's player. Owned by the command table; its
// destruction ends every wait without a reply.
class SoundRetries {
 public:
  ~SoundRetries() {
    std::map<platform::timer::TimerId, std::shared_ptr<Retry>> pending;
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      pending.swap(m_pending);
    }
    for (auto& entry : pending) platform::timer::KillTimer(entry.first);
  }

  // Command thread: keeps trying for `call`'s pane and answers the page once it is known.
  void Start(CommandCall& call) {
    auto retry = std::make_shared<Retry>(Retry{call.service, call.session.m_socket, call.session.m_serial,
                                               call.request.wndIndex.value_or(-1), call.reply});
    retry->reply.cmd = call.request.cmd;
    retry->reply.sequence = call.request.sequence;
    retry->reply.uuid = call.session.m_strId;
    std::lock_guard<std::mutex> lock(m_mutex);
    platform::timer::TimerId id = platform::timer::StartPeriodicTimer(kRetryPeriodMs, [this, retry] { Attempt(*retry); });
    retry->id = id;
    m_pending[id] = retry;
  }

 private:
  struct Retry {
    ServiceContext& service;
    platform::net::SocketHandle socket;
    std::uint64_t serial;
    int pane;
    CommandReply reply;
    int attempts = 0;
    platform::timer::TimerId id = 0;
  };

  // Timer thread. The session and its channel table cannot change while m_sessionsMutex is held.
  void Attempt(Retry& retry) {
    bool done = false;
    {
      SessionTable& table = retry.service.sessions;
      std::lock_guard<std::mutex> lock(table.m_sessionsMutex);
      auto it = table.m_sessions.find(retry.socket);
      CSession* session = it == table.m_sessions.end() ? nullptr : it->second.get();
      if (!session || session->m_serial != retry.serial) {
        done = true;  // the page has gone: nobody to answer
      } else {
        int result = TryOpenSound(*session, retry.pane);
        if (result == 0 || ++retry.attempts >= kRetryLimit) {
          retry.reply.errorCode = result;
          std::string text = BuildReplyText(retry.reply);
          if (!text.empty()) retry.service.writer.SendText(*session, text);
          done = true;
        }
      }
    }
    if (!done) return;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_pending.erase(retry.id)) platform::timer::KillTimer(retry.id);
  }

  std::mutex m_mutex;  // guards m_pending; never held while m_sessionsMutex is taken
  std::map<platform::timer::TimerId, std::shared_ptr<Retry>> m_pending;
};

}  // namespace

void RegisterSoundCommands(CommandTable& table) {
  auto retries = std::make_shared<SoundRetries>();
  table.Register("openSound", [retries](CommandCall& call) {
    int pane = call.request.wndIndex.value_or(-1);
    if (!ChannelOfPane(call.session, pane)) return 0;
    int result = TryOpenSound(call.session, pane);
    if (result != 0) {
      retries->Start(call);
      call.replyLater = true;
    }
    return result;
  });
  table.Register("closeSound", [](CommandCall& call) {
    for (auto& entry : call.session.m_channels) entry.second->CloseSound();
    return 0;
  });
}
