#include "service/protocol/Session.h"

#include "service/media/PlayChannel.h"
#include "service/windows/CPlayWnd.h"

CSession::~CSession() {
  delete m_pWnd;
  m_pWnd = nullptr;
  for (auto it = m_channels.begin(); it != m_channels.end();) {
    it->second->StopStream("");
    delete it->second;
    it = m_channels.erase(it);
  }
  if (m_pDownload) {
    m_pDownload->StopDownload("");
    delete m_pDownload;
    m_pDownload = nullptr;
  }
  if (m_pTalk) {
    m_pTalk->StopTalk("");
    delete m_pTalk;
    m_pTalk = nullptr;
  }
  m_strWebVersion.clear();
  m_strId.clear();
}
