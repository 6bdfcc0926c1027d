// Digital zoom, the marks drawn over each presented frame, and the library's draw and decode
// callbacks (library threads).
#include "common/ColourText.h"
#include "service/media/PlayChannel.h"
#include "service/media/ZoomMath.h"

using platform::display::ColorRef;
using platform::display::ICanvas;
using platform::display::MakeColor;
using platform::display::Pen;
using platform::display::Point;

namespace {
constexpr ColorRef kRed = MakeColor(255, 0, 0);

VX_RECT ToVxRect(const platform::display::Rect& r) { return VX_RECT{r.left, r.top, r.right, r.bottom}; }
}  // namespace

PlayChannel::Rect PlayChannel::WholePicture() const {
  std::lock_guard<std::mutex> lock(m_descMutex);
  return Rect{0, 0, m_desc.width, m_desc.height};
}

void PlayChannel::EnableZoom(bool on) {
  const Rect whole = WholePicture();
  {
    std::lock_guard<std::mutex> lock(m_overlayMutex);
    m_bZoom = on;
    m_rcSelect.reset();
    m_rcZoom = whole;
  }
  ThreadLib::ReadLock lock(m_lockPlayer);
  if (PlayerOpen()) VX_ShowRect(m_hPlayer, nullptr);
}

void PlayChannel::SetZoomRect(const Rect* rect, int width, int height, bool apply) {
  bool zoom;
  Rect shown;
  {
    std::lock_guard<std::mutex> lock(m_overlayMutex);
    zoom = m_bZoom;
    if (zoom && !apply) {  // a drag in progress: only its mark is drawn
      m_rcSelect = rect ? std::optional<Rect>(*rect) : std::nullopt;
      return;
    }
    m_rcSelect.reset();
    shown = m_rcZoom;
  }
  if (!zoom || !rect) {
    {
      ThreadLib::ReadLock lock(m_lockPlayer);
      if (PlayerOpen()) VX_ShowRect(m_hPlayer, nullptr);
    }
    if (zoom) {
      const Rect whole = WholePicture();
      std::lock_guard<std::mutex> lock(m_overlayMutex);
      m_rcZoom = whole;
    }
    return;
  }
  const auto next = NestedZoom(shown, *rect, width, height);
  if (!next) return;  // too small a selection leaves the picture as it is
  const VX_RECT crop = ToVxRect(*next);
  int result;
  {
    ThreadLib::ReadLock lock(m_lockPlayer);
    result = PlayerOpen() ? VX_ShowRect(m_hPlayer, &crop) : VX_ERR_STATE;
  }
  if (result != VX_OK) return;
  std::lock_guard<std::mutex> lock(m_overlayMutex);
  m_rcZoom = *next;
}

void PlayChannel::SetZoomArea(const Rect& area) {
  std::lock_guard<std::mutex> lock(m_overlayMutex);
  m_rcDraw = area;
}

PlayChannel::Rect PlayChannel::ZoomArea() const {
  std::lock_guard<std::mutex> lock(m_overlayMutex);
  return m_rcDraw;
}

PlayChannel::Rect PlayChannel::ShownPart() const {
  std::lock_guard<std::mutex> lock(m_overlayMutex);
  return m_rcZoom;
}

void PlayChannel::SetDrawRect(bool show, int penWidth, const std::string& colorText) {
  std::lock_guard<std::mutex> lock(m_overlayMutex);
  if (penWidth > 0 && !colorText.empty()) {
    m_drawPen = Pen{ColourTextToValue(colorText).value_or(kRed), penWidth};
  }
  m_bDrawRect = show;
}

void PlayChannel::SetPtzRateText(const std::string& text) {
  std::lock_guard<std::mutex> lock(m_overlayMutex);
  m_strRateText = text;
}

void PlayChannel::OnDraw(std::int32_t, void* canvas, void* user) {
  if (canvas) static_cast<PlayChannel*>(user)->DrawOverlay(*static_cast<ICanvas*>(canvas));
}

void PlayChannel::OnDecoded(std::int32_t, const std::uint8_t*, std::int32_t, std::int32_t, std::int32_t, std::int32_t,
                            const std::uint32_t* info, void* user) {
  auto* self = static_cast<PlayChannel*>(user);
  if (self->m_bPlayback && info) self->m_nPlayTime = static_cast<int>(info[2]);
}

void PlayChannel::DrawOverlay(ICanvas& canvas) {
  std::optional<Rect> select;
  bool drawRect;
  Rect draw;
  Pen drawPen;
  std::string rate;
  {
    std::lock_guard<std::mutex> lock(m_overlayMutex);
    if (m_bZoom) select = m_rcSelect;
    drawRect = m_bDrawRect;
    draw = m_rcDraw;
    drawPen = m_drawPen;
    rate = m_strRateText;
  }
  const Pen red{kRed, 1};
  if (select) canvas.DrawRectangle(OrderedRect(*select), red, std::nullopt);
  const bool recording = m_bRecording;
  const bool dot = m_bDot;
  if (recording || dot || !rate.empty()) {
    // The marks belong to the pane's own size: a full-screen group shows the picture alone.
    IEvent* sink = m_pEvent.load();
    if (sink && !sink->IsPaneFullScreen(m_hWnd)) {
      const int w = m_nWidth;
      const platform::display::Font font;
      if (recording) canvas.DrawTextAt(Point{w - 40, 5}, "REC", font, kRed);
      if (dot) canvas.DrawEllipse(Rect{w - 40, 20, w - 10, 50}, red, kRed);
      if (!rate.empty()) canvas.DrawTextAt(Point{w - 90, 10}, rate + " X", font, kRed);
    }
  }
  if (drawRect) canvas.DrawRectangle(OrderedRect(draw), drawPen, std::nullopt);
}
