#include "platform/display/headless/HeadlessDisplay.h"

#include <algorithm>
#include <cstring>
#include <future>

namespace platform::display {

// A window's last picture: BGRA pixels as presented, or the planes of a YUV picture.
struct HeadlessDisplay::Picture {
  HeadlessFrame frame;               // frame.bgra stays empty for a YUV picture
  std::vector<std::uint8_t> planes;  // a YUV picture's planes, one after the other, rows tight
  YuvFrameView yuv;                  // their layout; the plane pointers are set when read
  size_t offsets[3] = {0, 0, 0};

  void KeepYuv(const YuvFrameView& from);
  YuvFrameView YuvView() const;
};

void HeadlessDisplay::Picture::KeepYuv(const YuvFrameView& from) {
  const int planeCount = from.layout == YuvLayout::NV12 ? 2 : 3;
  const int chromaBytes = (from.width + 1) / 2 * (from.layout == YuvLayout::NV12 ? 2 : 1);
  const int rows[3] = {from.height, (from.height + 1) / 2, (from.height + 1) / 2};
  const int bytes[3] = {from.width, chromaBytes, chromaBytes};
  size_t total = 0;
  for (int i = 0; i < planeCount; ++i) {
    offsets[i] = total;
    total += static_cast<size_t>(rows[i]) * bytes[i];
  }
  planes.resize(total);
  yuv = from;
  for (int i = 0; i < 3; ++i) {
    yuv.planes[i] = nullptr;
    yuv.strides[i] = i < planeCount ? bytes[i] : 0;
  }
  for (int i = 0; i < planeCount; ++i)
    for (int y = 0; y < rows[i]; ++y)
      std::memcpy(&planes[offsets[i] + static_cast<size_t>(y) * bytes[i]],
                  from.planes[i] + static_cast<size_t>(y) * from.strides[i], static_cast<size_t>(bytes[i]));
}

YuvFrameView HeadlessDisplay::Picture::YuvView() const {
  YuvFrameView view = yuv;
  for (int i = 0; i < 3; ++i)
    if (view.strides[i] > 0) view.planes[i] = planes.data() + offsets[i];
  return view;
}

struct HeadlessDisplay::Window {
  HeadlessWindowState state;
  IWindowDelegate* delegate = nullptr;
  std::thread::id ownerThread;
  std::vector<WindowId> children;  // top first
  bool invalid = false;
  bool paintPosted = false;
  std::optional<Picture> picture;
  Picture spare;  // the picture before the last one, its buffers reused by the next
};

struct HeadlessDisplay::Loop {
  std::deque<std::function<void()>> tasks;
  std::condition_variable wake;
  bool quit = false;
};

// Records what is drawn; the caller stores the calls into the window afterwards.
class HeadlessDisplay::RecordingCanvas : public ICanvas {
 public:
  std::vector<DrawCall> calls;

  void FillRect(const Rect& rect, ColorRef color) override {
    DrawCall& c = Add(DrawCall::Kind::Fill);
    c.rect = rect;
    c.brush = color;
  }
  void DrawRectangle(const Rect& rect, const std::optional<Pen>& pen,
                     const std::optional<ColorRef>& brush) override {
    AddShape(DrawCall::Kind::Rectangle, rect, pen, brush);
  }
  void DrawLine(Point from, Point to, const Pen& pen) override {
    DrawCall& c = Add(DrawCall::Kind::Line);
    c.from = from;
    c.to = to;
    c.pen = pen;
  }
  void DrawEllipse(const Rect& box, const std::optional<Pen>& pen,
                   const std::optional<ColorRef>& brush) override {
    AddShape(DrawCall::Kind::Ellipse, box, pen, brush);
  }
  void DrawTextCentered(const Rect& box, const std::string& text, const Font& font,
                        ColorRef color) override {
    DrawCall& c = AddText(DrawCall::Kind::TextCentered, text, font, color);
    c.rect = box;
  }
  void DrawTextAt(Point origin, const std::string& text, const Font& font, ColorRef color) override {
    DrawCall& c = AddText(DrawCall::Kind::TextAt, text, font, color);
    c.from = origin;
  }

 private:
  DrawCall& Add(DrawCall::Kind kind) {
    calls.emplace_back();
    calls.back().kind = kind;
    return calls.back();
  }
  void AddShape(DrawCall::Kind kind, const Rect& rect, const std::optional<Pen>& pen,
                const std::optional<ColorRef>& brush) {
    DrawCall& c = Add(kind);
    c.rect = rect;
    c.pen = pen;
    c.brush = brush;
  }
  DrawCall& AddText(DrawCall::Kind kind, const std::string& text, const Font& font, ColorRef color) {
    DrawCall& c = Add(kind);
    c.text = text;
    c.font = font;
    c.brush = color;
    return c;
  }
};

HeadlessDisplay::HeadlessDisplay() {
  Monitor m;
  m.id = 1;
  m.rect = m.workRect = Rect{0, 0, 1920, 1080};
  m.name = "headless-0";
  m.primary = true;
  m_monitors.push_back(m);
  SetVideoOutput(this);
}

HeadlessDisplay::~HeadlessDisplay() {
  if (GetVideoOutput() == this) SetVideoOutput(nullptr);
}

std::shared_ptr<HeadlessDisplay::Loop> HeadlessDisplay::LoopOf(std::thread::id thread) {
  auto& loop = m_loops[thread];
  if (!loop) loop = std::make_shared<Loop>();
  return loop;
}

std::vector<TopLevelWindow> HeadlessDisplay::ListTopLevelWindows() {
  std::lock_guard<std::mutex> lock(m_mutex);
  std::vector<TopLevelWindow> out;
  for (WindowId id : m_topOrder) {
    const auto& s = m_windows.at(id)->state;
    out.push_back(TopLevelWindow{id, s.caption, s.className, s.enabled, s.visible, s.rect});
  }
  return out;
}

std::vector<WindowId> HeadlessDisplay::ListChildren(WindowId parent) {
  std::lock_guard<std::mutex> lock(m_mutex);
  auto it = m_windows.find(parent);
  if (it == m_windows.end()) return {};
  return it->second->children;
}

std::optional<Rect> HeadlessDisplay::GetWindowRect(WindowId window) {
  std::lock_guard<std::mutex> lock(m_mutex);
  auto it = m_windows.find(window);
  if (it == m_windows.end()) return std::nullopt;
  Rect r = it->second->state.rect;
  for (WindowId p = it->second->state.parent; p != 0;) {
    const auto& ps = m_windows.at(p)->state;
    r = MakeRect(r.left + ps.rect.left, r.top + ps.rect.top, r.Width(), r.Height());
    p = ps.parent;
  }
  return r;
}

std::optional<std::string> HeadlessDisplay::GetCaption(WindowId window) {
  std::lock_guard<std::mutex> lock(m_mutex);
  auto it = m_windows.find(window);
  if (it == m_windows.end()) return std::nullopt;
  return it->second->state.caption;
}

std::optional<std::string> HeadlessDisplay::GetClassName(WindowId window) {
  std::lock_guard<std::mutex> lock(m_mutex);
  auto it = m_windows.find(window);
  if (it == m_windows.end()) return std::nullopt;
  return it->second->state.className;
}

bool HeadlessDisplay::IsVisible(WindowId window) {
  std::lock_guard<std::mutex> lock(m_mutex);
  for (WindowId w = window; w != 0;) {
    auto it = m_windows.find(w);
    if (it == m_windows.end() || !it->second->state.visible) return false;
    w = it->second->state.parent;
  }
  return true;
}

WindowId HeadlessDisplay::Create(WindowId parent, WindowId owner, bool topmost, const Rect& rect,
                                 IWindowDelegate* delegate) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (parent != 0 && m_windows.count(parent) == 0) return 0;
  auto w = std::make_unique<Window>();
  WindowId id = ++m_nextId;
  w->state.id = id;
  w->state.parent = parent;
  w->state.owner = owner;
  w->state.topmost = topmost;
  w->state.rect = rect;
  w->state.visible = parent != 0;
  w->delegate = delegate;
  w->ownerThread = std::this_thread::get_id();
  LoopOf(w->ownerThread);
  if (parent != 0) {
    auto& siblings = m_windows.at(parent)->children;
    siblings.insert(siblings.begin(), id);
  } else {
    m_topOrder.insert(m_topOrder.begin(), id);
  }
  m_windows[id] = std::move(w);
  return id;
}

WindowId HeadlessDisplay::CreateContainer(WindowId owner, const Rect& rect, IWindowDelegate* delegate) {
  return Create(0, owner, false, rect, delegate);
}

WindowId HeadlessDisplay::CreateChild(WindowId parent, const Rect& rect, IWindowDelegate* delegate) {
  return Create(parent, 0, false, rect, delegate);
}

WindowId HeadlessDisplay::CreateTopmost(const Rect& rect, IWindowDelegate* delegate) {
  return Create(0, 0, true, rect, delegate);
}

WindowId HeadlessDisplay::CreateForeignWindow(const std::string& caption, const std::string& className,
                                              const Rect& rect, bool visible, bool enabled) {
  WindowId id = Create(0, 0, false, rect, nullptr);
  std::lock_guard<std::mutex> lock(m_mutex);
  auto& s = m_windows.at(id)->state;
  s.foreign = true;
  s.caption = caption;
  s.className = className;
  s.visible = visible;
  s.enabled = enabled;
  return id;
}

WindowId HeadlessDisplay::CreateForeignChild(WindowId parent, const Rect& rect,
                                             const std::string& className, const std::string& caption,
                                             bool visible) {
  WindowId id = Create(parent, 0, false, rect, nullptr);
  if (id == 0) return 0;
  std::lock_guard<std::mutex> lock(m_mutex);
  auto& s = m_windows.at(id)->state;
  s.foreign = true;
  s.caption = caption;
  s.className = className;
  s.visible = visible;
  return id;
}

bool HeadlessDisplay::SetForeignRect(WindowId window, const Rect& rect) {
  std::lock_guard<std::mutex> lock(m_mutex);
  auto it = m_windows.find(window);
  if (it == m_windows.end()) return false;
  it->second->state.rect = rect;
  return true;
}

bool HeadlessDisplay::SetForeignCaption(WindowId window, const std::string& caption) {
  std::lock_guard<std::mutex> lock(m_mutex);
  auto it = m_windows.find(window);
  if (it == m_windows.end()) return false;
  it->second->state.caption = caption;
  return true;
}

void HeadlessDisplay::SetMonitors(std::vector<Monitor> monitors) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_monitors = std::move(monitors);
}

void HeadlessDisplay::SetDesktopSize(Size size) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_desktop = size;
}

bool HeadlessDisplay::Post(WindowId window, std::function<void()> task) {
  std::lock_guard<std::mutex> lock(m_mutex);
  auto it = m_windows.find(window);
  if (it == m_windows.end()) return false;
  auto loop = LoopOf(it->second->ownerThread);
  loop->tasks.push_back(std::move(task));
  loop->wake.notify_all();
  return true;
}

void HeadlessDisplay::Send(WindowId window, std::function<void()> task) {
  std::thread::id owner;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_windows.find(window);
    if (it == m_windows.end()) return;
    owner = it->second->ownerThread;
  }
  if (owner == std::this_thread::get_id()) {
    Pump();
    task();
    return;
  }
  auto done = std::make_shared<std::promise<void>>();
  auto future = done->get_future();
  if (!Post(window, [task, done] {
        task();
        done->set_value();
      }))
    return;
  future.wait();
}

void HeadlessDisplay::RunTasks(Loop& loop, bool untilQuit) {
  std::unique_lock<std::mutex> lock(m_mutex);
  for (;;) {
    if (untilQuit && loop.quit) break;
    if (loop.tasks.empty()) {
      if (!untilQuit) break;
      loop.wake.wait(lock);
      continue;
    }
    auto task = std::move(loop.tasks.front());
    loop.tasks.pop_front();
    lock.unlock();
    task();
    lock.lock();
  }
}

void HeadlessDisplay::RunLoop() {
  std::shared_ptr<Loop> loop;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    loop = LoopOf(std::this_thread::get_id());
    loop->quit = false;
  }
  RunTasks(*loop, true);
  std::lock_guard<std::mutex> lock(m_mutex);
  loop->quit = false;
}

void HeadlessDisplay::PostQuit() {
  std::lock_guard<std::mutex> lock(m_mutex);
  auto loop = LoopOf(std::this_thread::get_id());
  loop->quit = true;
  loop->wake.notify_all();
}

void HeadlessDisplay::Pump() {
  std::shared_ptr<Loop> loop;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    loop = LoopOf(std::this_thread::get_id());
  }
  RunTasks(*loop, false);
}

bool HeadlessDisplay::Move(WindowId window, const Rect& rect) {
  bool resized = false;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_windows.find(window);
    if (it == m_windows.end()) return false;
    auto& s = it->second->state;
    resized = s.rect.Width() != rect.Width() || s.rect.Height() != rect.Height();
    s.rect = rect;
    ++s.moveCount;
  }
  if (resized) {
    Post(window, [this, window, rect] {
      IWindowDelegate* d = nullptr;
      {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_windows.find(window);
        if (it == m_windows.end()) return;
        d = it->second->delegate;
      }
      if (d) d->OnSize(window, rect.Width(), rect.Height());
    });
    Invalidate(window);
  }
  return true;
}

bool HeadlessDisplay::Show(WindowId window, bool show) {
  std::vector<WindowId> repaint;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_windows.find(window);
    if (it == m_windows.end()) return false;
    it->second->state.visible = show;
    if (show) {
      std::vector<WindowId> all;
      Collect(window, &all);
      for (WindowId w : all)
        if (m_windows.at(w)->invalid) repaint.push_back(w);
    }
  }
  for (WindowId w : repaint) {
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_windows.at(w)->invalid = false;
    }
    Invalidate(w);
  }
  return true;
}

bool HeadlessDisplay::Activate(WindowId window) {
  std::lock_guard<std::mutex> lock(m_mutex);
  auto it = m_windows.find(window);
  if (it == m_windows.end()) return false;
  auto pos = std::find(m_topOrder.begin(), m_topOrder.end(), window);
  if (pos != m_topOrder.end()) {
    m_topOrder.erase(pos);
    m_topOrder.insert(m_topOrder.begin(), window);
  }
  m_focus = window;
  return true;
}

bool HeadlessDisplay::SetFocus(WindowId window) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_windows.count(window) == 0) return false;
  m_focus = window;
  return true;
}

bool HeadlessDisplay::SetRegion(WindowId window, const std::vector<Point>& polygon) {
  std::lock_guard<std::mutex> lock(m_mutex);
  auto it = m_windows.find(window);
  if (it == m_windows.end()) return false;
  it->second->state.region = polygon;
  return true;
}

bool HeadlessDisplay::Invalidate(WindowId window) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_windows.find(window);
    if (it == m_windows.end()) return false;
    Window& w = *it->second;
    w.invalid = true;
    if (w.paintPosted) return true;
    w.paintPosted = true;
  }
  return Post(window, [this, window] { PaintNow(window); });
}

void HeadlessDisplay::KeepDrawCalls(HeadlessWindowState& state, std::vector<DrawCall> calls) {
  auto& kept = state.drawCalls;
  kept.insert(kept.end(), std::make_move_iterator(calls.begin()), std::make_move_iterator(calls.end()));
  // A service that runs headless paints for hours and nobody clears the record: the oldest calls
  // go, so the record stays bounded (the latest are what tests look at).
  if (kept.size() > kMaxDrawCalls) kept.erase(kept.begin(), kept.end() - kMaxDrawCalls);
}

void HeadlessDisplay::PaintNow(WindowId window) {
  IWindowDelegate* delegate = nullptr;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_windows.find(window);
    if (it == m_windows.end()) return;
    Window& w = *it->second;
    w.paintPosted = false;
    // Hidden windows keep their invalid mark and paint when shown.
    for (WindowId p = window; p != 0; p = m_windows.at(p)->state.parent)
      if (!m_windows.at(p)->state.visible) return;
    w.invalid = false;
    delegate = w.delegate;
  }
  if (!delegate) return;
  RecordingCanvas canvas;
  delegate->OnPaint(window, canvas);
  std::lock_guard<std::mutex> lock(m_mutex);
  auto it = m_windows.find(window);
  if (it == m_windows.end()) return;
  KeepDrawCalls(it->second->state, std::move(canvas.calls));
  ++it->second->state.paintCount;
}

bool HeadlessDisplay::Draw(WindowId window, const std::function<void(ICanvas&)>& draw) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_windows.count(window) == 0) return false;
  }
  RecordingCanvas canvas;
  draw(canvas);
  std::lock_guard<std::mutex> lock(m_mutex);
  auto it = m_windows.find(window);
  if (it == m_windows.end()) return false;
  KeepDrawCalls(it->second->state, std::move(canvas.calls));
  return true;
}

void HeadlessDisplay::Collect(WindowId window, std::vector<WindowId>* out) {
  out->push_back(window);
  for (WindowId c : m_windows.at(window)->children) Collect(c, out);
}

void HeadlessDisplay::Destroy(WindowId window) {
  auto destroy = [this, window] {
    std::vector<std::pair<WindowId, IWindowDelegate*>> doomed;
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      if (m_windows.count(window) == 0) return;
      std::vector<WindowId> all;
      Collect(window, &all);
      for (WindowId w : all) doomed.emplace_back(w, m_windows.at(w)->delegate);
    }
    for (auto& [w, d] : doomed)
      if (d) d->OnDestroy(w);
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_windows.find(window);
    if (it == m_windows.end()) return;
    if (WindowId p = it->second->state.parent) {
      auto& siblings = m_windows.at(p)->children;
      siblings.erase(std::remove(siblings.begin(), siblings.end(), window), siblings.end());
    }
    m_topOrder.erase(std::remove(m_topOrder.begin(), m_topOrder.end(), window), m_topOrder.end());
    for (auto& [w, d] : doomed) {
      m_windows.erase(w);
      if (m_focus == w) m_focus = 0;
    }
  };
  std::thread::id owner;
  bool foreign = false;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_windows.find(window);
    if (it == m_windows.end()) return;
    owner = it->second->ownerThread;
    foreign = it->second->state.foreign;
  }
  if (foreign || owner == std::this_thread::get_id())
    destroy();
  else
    Post(window, destroy);
}

bool HeadlessDisplay::WatchSessionLock(WindowId window, bool watch) {
  std::lock_guard<std::mutex> lock(m_mutex);
  auto it = m_windows.find(window);
  if (it == m_windows.end()) return false;
  it->second->state.watchesLock = watch;
  return true;
}

std::vector<Monitor> HeadlessDisplay::ListMonitors() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_monitors;
}

Size HeadlessDisplay::DesktopSize() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_desktop;
}

Size HeadlessDisplay::PrimaryScreenSize() {
  std::lock_guard<std::mutex> lock(m_mutex);
  for (const auto& m : m_monitors)
    if (m.primary) return Size{m.rect.Width(), m.rect.Height()};
  return m_desktop;
}

bool HeadlessDisplay::GetClientSize(WindowId window, int* width, int* height) {
  std::lock_guard<std::mutex> lock(m_mutex);
  auto it = m_windows.find(window);
  if (it == m_windows.end()) return false;
  *width = it->second->state.rect.Width();
  *height = it->second->state.rect.Height();
  return true;
}

bool HeadlessDisplay::Store(WindowId window, const std::function<void(Picture&)>& fill,
                            const std::function<void(void* canvas)>& overlay) {
  Picture picture;
  {
    // Every pane presents many pictures a second: they go into the buffers of an earlier
    // picture instead of new, zero-filled ones.
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_windows.find(window);
    if (it == m_windows.end()) return false;
    picture = std::move(it->second->spare);
  }
  fill(picture);
  picture.frame.overlay.clear();
  if (overlay) {
    RecordingCanvas canvas;
    overlay(static_cast<ICanvas*>(&canvas));
    picture.frame.overlay = std::move(canvas.calls);
  }
  std::lock_guard<std::mutex> lock(m_mutex);
  auto it = m_windows.find(window);
  if (it == m_windows.end()) return false;
  auto& slot = it->second->picture;
  picture.frame.presentCount = slot ? slot->frame.presentCount + 1 : 1;
  if (slot) it->second->spare = std::move(*slot);
  slot = std::move(picture);
  return true;
}

bool HeadlessDisplay::Present(WindowId window, const VideoFrameView& frame,
                              const std::function<void(void* canvas)>& overlay) {
  return Store(
      window,
      [&frame](Picture& p) {
        p.frame.width = frame.width;
        p.frame.height = frame.height;
        p.frame.yuv = false;
        p.planes.clear();
        auto& bgra = p.frame.bgra;
        if (!frame.bgra || frame.width <= 0 || frame.height <= 0) {
          bgra.clear();
          return;
        }
        bgra.resize(static_cast<size_t>(frame.width) * frame.height * 4);
        for (int y = 0; y < frame.height; ++y)
          std::memcpy(&bgra[static_cast<size_t>(y) * frame.width * 4],
                      frame.bgra + static_cast<size_t>(y) * frame.stride, static_cast<size_t>(frame.width) * 4);
      },
      overlay);
}

PresentResult HeadlessDisplay::PresentYuv(WindowId window, const YuvFrameView& frame,
                                          const std::function<void(void* canvas)>& overlay) {
  int width = 0, height = 0;
  if (!frame.Valid() || !GetClientSize(window, &width, &height)) return PresentResult::Failed;
  const bool stored = Store(
      window,
      [&](Picture& p) {
        p.frame.width = width;
        p.frame.height = height;
        p.frame.yuv = true;
        p.frame.bgra.clear();
        p.KeepYuv(frame);
      },
      overlay);
  return stored ? PresentResult::Shown : PresentResult::Failed;
}

void HeadlessDisplay::InjectMouse(WindowId window, MouseAction action, int x, int y) {
  Send(window, [this, window, action, x, y] {
    IWindowDelegate* d = nullptr;
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      auto it = m_windows.find(window);
      if (it == m_windows.end()) return;
      d = it->second->delegate;
    }
    if (d) d->OnMouse(window, action, x, y);
  });
}

void HeadlessDisplay::InjectKey(WindowId window, Key key) {
  Send(window, [this, window, key] {
    IWindowDelegate* d = nullptr;
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      auto it = m_windows.find(window);
      if (it == m_windows.end()) return;
      // Keys go to the window with the keyboard focus only.
      if (m_focus != window) return;
      d = it->second->delegate;
    }
    if (d) d->OnKey(window, key);
  });
}

void HeadlessDisplay::InjectSessionLock(bool locked) {
  std::vector<WindowId> watching;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto& [id, w] : m_windows)
      if (w->state.watchesLock) watching.push_back(id);
  }
  for (WindowId window : watching) {
    Send(window, [this, window, locked] {
      IWindowDelegate* d = nullptr;
      {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_windows.find(window);
        if (it == m_windows.end()) return;
        d = it->second->delegate;
      }
      if (d) d->OnSessionLock(window, locked);
    });
  }
}

void HeadlessDisplay::Flush(WindowId window) {
  Send(window, [] {});
}

std::optional<HeadlessWindowState> HeadlessDisplay::State(WindowId window) {
  std::lock_guard<std::mutex> lock(m_mutex);
  auto it = m_windows.find(window);
  if (it == m_windows.end()) return std::nullopt;
  return it->second->state;
}

void HeadlessDisplay::ClearDrawCalls(WindowId window) {
  std::lock_guard<std::mutex> lock(m_mutex);
  auto it = m_windows.find(window);
  if (it != m_windows.end()) it->second->state.drawCalls.clear();
}

std::optional<HeadlessFrame> HeadlessDisplay::LastFrame(WindowId window) {
  std::optional<Picture> picture;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_windows.find(window);
    if (it == m_windows.end()) return std::nullopt;
    picture = it->second->picture;
  }
  if (!picture) return std::nullopt;
  HeadlessFrame& frame = picture->frame;
  if (frame.yuv) {  // converted outside the lock: panes go on presenting meanwhile
    frame.bgra.resize(static_cast<size_t>(std::max(0, frame.width)) * std::max(0, frame.height) * 4);
    if (!ConvertYuvToBgra(picture->YuvView(), frame.width, frame.height, frame.bgra.data(), frame.width * 4))
      frame.bgra.clear();
  }
  return std::move(frame);
}

WindowId HeadlessDisplay::FocusedWindow() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_focus;
}

int HeadlessDisplay::MoveCount(WindowId window) {
  std::lock_guard<std::mutex> lock(m_mutex);
  auto it = m_windows.find(window);
  return it == m_windows.end() ? 0 : it->second->state.moveCount;
}

}  // namespace platform::display
