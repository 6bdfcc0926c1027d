#include "service/protocol/Session.h"

#include "service/media/PlayChannel.h"
#include "service/windows/CPlayWnd.h"

CSession::CSession() = default;

CSession::~CSession() {
  m_pWnd.reset();
  for (auto it = m_channels.begin(); it != m_channels.end();) {
    if (it->second) it->second->StopStream("");
    it = m_channels.erase(it);
  }
  if (m_pDownload) {
    m_pDownload->StopDownload("");
    m_pDownload.reset();
  }
  if (m_pTalk) {
    m_pTalk->StopTalk("");
    m_pTalk.reset();
  }
  m_strWebVersion.clear();
  m_strId.clear();
}
