#include "FaultRig.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

#include <rapidjson/document.h>

namespace fs = std::filesystem;

namespace {
std::string ReadText(const std::string& path) {
  std::ifstream in(path);
  std::string text;
  std::getline(in, text);
  return text;
}

long IntField(const rapidjson::Document& d, const char* key) {
  return d.HasMember(key) && d[key].IsInt64() ? static_cast<long>(d[key].GetInt64()) : -1;
}

std::string TextField(const rapidjson::Document& d, const char* key) {
  return d.HasMember(key) && d[key].IsString() ? d[key].GetString() : "";
}

// Each parsed event line of the source, until `visit` returns false.
void ForEachEvent(sourcetest::SourceProcess& source, const std::function<bool(const rapidjson::Document&)>& visit) {
  for (const std::string& line : source.Lines()) {
    rapidjson::Document d;
    d.Parse(line.c_str());
    if (d.HasParseError() || !d.IsObject()) continue;
    if (!visit(d)) return;
  }
}
}  // namespace

PrivateXServer::PrivateXServer() {
  m_dir = (fs::temp_directory_path() / ("nimbrel_x_" + std::to_string(std::random_device{}()))).string();
  fs::create_directories(m_dir);
  // -displayfd: the server picks a free display and writes its number once it accepts clients.
  RunCommand("Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>'" + m_dir + "/display' >/dev/null 2>&1 & echo $! >'" +
             m_dir + "/pid'");
  m_pid = std::atoi(ReadText(m_dir + "/pid").c_str());
  WaitUntil(
      [&] {
        std::string n = ReadText(m_dir + "/display");
        if (!n.empty()) m_display = ":" + n;
        return !m_display.empty();
      },
      std::chrono::seconds(10));
}

PrivateXServer::~PrivateXServer() {
  if (m_pid > 0) RunCommand("kill -KILL " + std::to_string(m_pid) + " 2>/dev/null");
  std::error_code ec;
  fs::remove_all(m_dir, ec);
}

void PrivateXServer::Signal(const std::string& signal) {
  if (m_pid > 0) RunCommand("kill -" + signal + " " + std::to_string(m_pid) + " 2>/dev/null");
}

BrowserWindow::BrowserWindow(const std::string& display, const std::string& uuid) {
  const std::string title = "Page " + uuid + " - Chromium";
  m_pid = std::atoi(RunCommand("DISPLAY=" + display + " xmessage -geometry 1000x700+0+0 -title '" + title +
                               "' page >/dev/null 2>&1 & echo $!")
                        .c_str());
  // xdotool takes the name for a regular expression: the id without its braces.
  const std::string plain = uuid.size() > 2 ? uuid.substr(1, uuid.size() - 2) : uuid;
  m_shown = WaitUntil(
      [&] { return !RunCommand("DISPLAY=" + display + " xdotool search --name '" + plain + "' 2>/dev/null").empty(); },
      std::chrono::seconds(10));
}

BrowserWindow::~BrowserWindow() {
  if (m_pid > 0) RunCommand("kill " + std::to_string(m_pid) + " >/dev/null 2>&1");
}

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

std::unique_ptr<GroupPage> OpenGroupPage(int port, const std::string& display, int panes) {
  auto group = std::make_unique<GroupPage>();
  if (!group->page.Open(port)) {
    ADD_FAILURE() << "no page on port " << port;
    return nullptr;
  }
  group->browser = std::make_unique<BrowserWindow>(display, group->page.Uuid());
  if (!group->browser->Shown()) {
    ADD_FAILURE() << "no browser window on " << display << ": "
                  << RunCommand("DISPLAY=" + display + " xdotool search --name . getwindowname %@ 2>&1 | head -5");
    return nullptr;
  }
  const std::string made = group->page.Command(
      "createWnd", R"({"rect":{"left":0,"top":0,"width":960,"height":640,"bodyHeight":700}})");
  if (DataInt(made, "errorCode") != 0) {
    ADD_FAILURE() << "createWnd: " << made;
    return nullptr;
  }
  const std::string arranged = group->page.Command("arrangeWnd", "{\"arrangeType\":" + std::to_string(panes) + "}");
  if (DataInt(arranged, "errorCode") != 0) {
    ADD_FAILURE() << "arrangeWnd: " << arranged;
    return nullptr;
  }
  return group;
}

std::string PlayData(const std::string& url, int pane) {
  return R"({"url":)" + Quoted(url) + R"(,"wndIndex":)" + std::to_string(pane) +
         R"(,"playParam":{"videoCoder":96,"audioCoder":0,"frameRate":25,"bitRate":0,"width":352,"height":288},)"
         R"("requestJson":{"action":"play","data":{"channel":)" +
         std::to_string(pane + 1) + R"(,"sessionID":"p)" + std::to_string(pane) + "\"}}}";
}

std::string StopData(int pane) {
  return R"({"channel":)" + std::to_string(pane + 1) + R"(,"requestJson":{"action":"stop"}})";
}

bool PaneShowsNewPictures(PageClient& page, int pane, const std::string& folder) {
  static int shots = 0;
  auto shot = [&] {
    const std::string path = folder + "/shot" + std::to_string(++shots) + ".bmp";
    const std::string data = R"({"wndIndex":)" + std::to_string(pane) + R"(,"fileName":)" + Quoted(path) + "}";
    // The capture works once the pane's player is open.
    if (!WaitUntil([&] { return DataInt(page.Command("capture", data), "errorCode") == 0; }, std::chrono::seconds(10)))
      return std::string();
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  };
  const std::string first = shot();
  return !first.empty() && WaitUntil(
                               [&] {
                                 const std::string next = shot();
                                 return !next.empty() && next != first;
                               },
                               std::chrono::seconds(10));
}

int CountSourceEvents(sourcetest::SourceProcess& source, const std::string& event, const std::string& part) {
  int n = 0;
  for (const std::string& line : source.Lines()) {
    if (line.find("\"event\":\"" + event + "\"") != std::string::npos && line.find(part) != std::string::npos) ++n;
  }
  return n;
}

std::vector<long> SourceConnections(sourcetest::SourceProcess& source, const std::string& part) {
  std::vector<long> found;
  ForEachEvent(source, [&](const rapidjson::Document& d) {
    const std::string event = TextField(d, "event");
    const long conn = IntField(d, "conn");
    if ((event == "connect" || event == "refused" || event == "fault") &&
        TextField(d, "target").find(part) != std::string::npos &&
        std::find(found.begin(), found.end(), conn) == found.end())
      found.push_back(conn);
    return true;
  });
  return found;
}

bool SourceConnectionEnded(sourcetest::SourceProcess& source, long conn) {
  bool ended = false;
  ForEachEvent(source, [&](const rapidjson::Document& d) {
    const std::string event = TextField(d, "event");
    ended = (event == "close" || event == "dropped" || event == "refused") && IntField(d, "conn") == conn;
    return !ended;
  });
  return ended;
}

long SourceCloseField(sourcetest::SourceProcess& source, long conn, const char* key) {
  long value = -1;
  ForEachEvent(source, [&](const rapidjson::Document& d) {
    if (TextField(d, "event") == "close" && IntField(d, "conn") == conn) value = IntField(d, key);
    return value == -1;
  });
  return value;
}

long ResidentKiB(int pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  }
  return -1;
}

int OpenDescriptors(int pid) {
  std::error_code ec;
  int n = 0;
  for (auto it = fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec); !ec && it != fs::directory_iterator();
       it.increment(ec))
    ++n;
  return n;
}

std::string DescriptorList(int pid) {
  return RunCommand("ls -l /proc/" + std::to_string(pid) + "/fd 2>/dev/null | awk '{print $9, $10, $11}'");
}

bool ProcessRuns(int pid) {
  // A zombie has ended: only its exit status waits to be collected.
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string stat;
  std::getline(in, stat);
  const size_t close = stat.rfind(')');
  return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] != 'Z';
}

int ProbeFrames(const std::string& path) {
  const std::string out = RunCommand("ffprobe -v error -count_frames -select_streams v:0 -show_entries "
                                     "stream=nb_read_frames -of default=nw=1:nk=1 '" + path + "' 2>/dev/null");
  return std::atoi(out.c_str());
}

std::vector<std::string> FilesUnder(const std::string& folder, const std::string& suffix) {
  std::vector<std::string> files;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(folder, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    const std::string path = it->path().string();
    if (it->is_regular_file() && path.size() >= suffix.size() &&
        path.compare(path.size() - suffix.size(), suffix.size(), suffix) == 0)
      files.push_back(path);
  }
  return files;
}

WatchedService::WatchedService(ServiceProcess& service, const std::string& environment, int periodMs)
    : m_service(service) {
  const std::string dir = service.Dir();
  fs::copy_file(WATCHDOG_BIN, fs::path(dir) / "nimbrelwd", fs::copy_options::overwrite_existing);
  std::ofstream(fs::path(dir) / "config.ini", std::ios::app)
      << "ServiceWatchName=faultwd" << std::random_device{}() << "\nServiceProcessName=nimbrelsvc\n";
  const std::string command = "cd '" + dir + "' && export PATH=\"$PWD/bin:$PATH\" HOME=\"$PWD\" XDG_DATA_HOME=\"$PWD/appdata\" " +
                              "NIMBREL_TEST_WATCHDOG_PERIOD_MS=" + std::to_string(periodMs) + " " + environment +
                              " && { ./nimbrelwd >watchdog.log 2>&1 & echo $!; }";
  m_watchdog = std::atoi(RunCommand(command).c_str());
}

WatchedService::~WatchedService() {
  if (m_watchdog <= 0) return;
  RunCommand("kill -KILL " + std::to_string(m_watchdog) + " 2>/dev/null");
  for (int pid : ServicePids()) RunCommand("kill -KILL " + std::to_string(pid) + " 2>/dev/null");
}

std::string WatchedService::Output() const { return m_service.ReadFile("watchdog.log"); }

std::vector<int> WatchedService::ServicePids() const {
  std::vector<int> pids;
  const std::string out = Output();
  const std::string marker = "ID\xE5\x8F\xB7";  // the "ID number" words of the start line
  for (size_t at = out.find(marker); at != std::string::npos; at = out.find(marker, at + 1))
    pids.push_back(std::atoi(out.c_str() + at + marker.size()));
  return pids;
}

int WatchedService::WaitForStart(size_t n, std::chrono::milliseconds limit) {
  int pid = 0;
  WaitUntil(
      [&] {
        auto pids = ServicePids();
        if (pids.size() >= n) pid = pids[n - 1];
        return pid != 0;
      },
      limit);
  return pid;
}

void ServiceOnXTest::SetUpRig(bool start, const std::string& shellSetup) {
  ASSERT_FALSE(m_x.Display().empty()) << "Xvfb did not start";
  ASSERT_TRUE(m_source.Started()) << "nimbrel-source did not start";
  if (!start) return;
  m_service.SetEnvironment(Environment());
  ASSERT_TRUE(m_service.Start(shellSetup)) << "the service did not start";
}

std::string ServiceOnXTest::Url(const std::string& query) const {
  return "ws://127.0.0.1:" + std::to_string(m_source.Port()) + "/cam?" + query;
}
