#include "service/host/ServiceWiring.h"

#include "service/protocol/CommandParser.h"

namespace {

// Stands in until the protocol's router is wired here: notices are dropped.
class NoEvents : public IEvent {
 public:
  void OnWndSelected(WindowHandle, int) override {}
  void OnWndMouse(WindowHandle, int, int, int, const DragRect*, bool) override {}
  void OnZoomRectChanged(WindowHandle, int, const ZoomRect*) override {}
  void OnWndDoubleClick(WindowHandle, int) override {}
  int GetPlayerHandle(WindowHandle, int) override { return 0; }
  void OnChannelEvent(const std::string&, const std::string&, const std::string&, int, int) override {}
  void RequestPaneRepaint(WindowHandle) override {}
  void OnWndPainted(WindowHandle) override {}
  bool IsPaneFullScreen(WindowHandle) override { return false; }
  void OnWndHidden(WindowHandle, int) override {}
  void OnWndRecreated(WindowHandle) override {}
  void OnPaneCountChanged(WindowHandle, int) override {}
  void OnTextMessage(const std::string&) override {}
};

}  // namespace

std::unique_ptr<IEvent> MakeServiceEvents(SessionTable&, IConnectionWriter&) { return std::make_unique<NoEvents>(); }

HttpServices MakeHttpServices() {
  HttpServices services;
  services.parseCommand = [](const std::string& json, PictureUpload& upload) {
    CommandRequest request;
    int result = ParseCommand(json, request);
    upload.cmd = request.cmd;
    upload.fileName = request.fileName;
    upload.fileBase64 = request.fileBase64;
    return result;
  };
  return services;
}
