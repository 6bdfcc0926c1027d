#pragma once
// The media side of one pane of a session's window group, or the session's download or talk
// channel. Owns its stream client, packet queue, feed thread and player handle. Modes: live,
// playback, download, talk (chosen by the start operation).
//
// Threads: the command thread runs the operations marked "command thread"; the channel's client
// thread runs OnSourceMessage and the receive path; its feed thread runs FeedLoop; the AV library
// calls the draw and decode callbacks on its own threads; window threads and timers reach it
// through the server's IEvent walks (marked "any thread").
//
// Locks: m_lockPlayer guards the player handle and every call that uses it; m_lockQueue guards
// the queue pointer; the two are never held together. m_lockSeek guards the seek fields;
// m_pendingMutex the packets held while paused; m_overlayMutex what the overlay draws.
//
// Destruction: after StopStream / StopTalk / StopDownload, which end both threads; destroying a
// running channel stops it first. Never destroy it holding a lock a notice takes
// (m_sessionsMutex): the stop waits for threads that may be raising one.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "libthread/ThreadLib.h"
#include "platform/display/Display.h"
#include "platform/display/WindowId.h"
#include "service/events/IEvent.h"
#include "service/media/BitRateMeter.h"
#include "service/media/MediaHeader.h"
#include "service/media/MediaPacket.h"
#include "service/media/StreamDescriptionLayout.h"

class StreamClient;
class PacketQueue;
class TalkCapture;
struct DownloadState;

class PlayChannel {
 public:
  using WindowHandle = platform::display::WindowId;
  using Rect = platform::display::Rect;

  // What tests shorten or replace; the defaults are the service's.
  struct Options {
    std::chrono::milliseconds reconnectDelay{1000};
    // Monotonic milliseconds for the bit-rate periods (the platform's clock when empty).
    std::function<std::uint64_t()> tickMs;
    // Told of every frame the library accepted, on the feed thread (kind 0 video, 1 audio); for
    // a download, of every frame handed to its writer.
    std::function<void(std::uint32_t frameTime, int kind)> onFed;
  };

  PlayChannel();
  explicit PlayChannel(Options options);
  virtual ~PlayChannel();
  PlayChannel(const PlayChannel&) = delete;
  PlayChannel& operator=(const PlayChannel&) = delete;

  // ---- Live and playback (command thread) ----
  // Stores the start values and connects to the source (replacing any previous connection); the
  // first media frame opens the player into `window`. Returns 0, or -1 when the URL is empty.
  int StartStream(const std::string& url, const std::string& requestJson, WindowHandle window,
                  const StreamDescription& description, bool playback, int paneIndex,
                  const std::string& key, int paneCount, bool dxva);
  // Sends `message` (when not empty) to the source, then stops everything: client, queue, feed
  // thread, recording, sound, player. Returns promptly even while the receive path is held back
  // by a full queue or a pause. Returns 0.
  int StopStream(const std::string& message);
  // Stores the speed, sends `message` when not empty, then applies it to an open player.
  int SetPlaySpeed(int speed, const std::string& message);
  // Keeps the current speed and only sends `message` (a setPlaybackSpeed without "data").
  int SendSpeedMessage(const std::string& message);
  // Sends `message`, drops queued and held packets, remembers the "data"."seekTime" target for
  // ReportPlayTime, and resumes the player.
  int SeekPlayback(const std::string& message);
  // The play time for getOSDTime; reports a fresh seek's target until the picture gets there.
  int ReportPlayTime();
  // pausePlayBack (true) / resumePlayBack (false): sets the paused flag and sends `message`; the
  // receive path acts on the next packet.
  int SetPaused(bool paused, const std::string& message);
  // Sends a text on the stream connection; false when there is no open connection. Any thread.
  bool SendText(const std::string& text);

  // ---- Sound (command thread) ----
  // VX_OpenSound on the open player; 0 on success (the sound flag is then set), -1 without player.
  int OpenSound();
  // VX_CloseSound on the open player; 0 on success (the sound flag is then cleared).
  int CloseSound();

  // ---- Zoom and overlay ----
  // Command thread: zoom on/off, showing the whole picture again.
  void EnableZoom(bool on);
  // Window thread (mouse drags, through IEvent::OnWndMouse): `rect` in window pixels of a
  // window `width` x `height`; without `apply` only the selection mark is drawn; with it the
  // shown part narrows (nested), unless the result is under 5 pixels either way.
  void SetZoomRect(const Rect* rect, int width, int height, bool apply);
  // Any thread: the part of the picture shown, as the window layer's zoom record holds it.
  void SetZoomArea(const Rect& area);
  Rect ZoomArea() const;
  // The part of the picture shown now (picture pixels).
  Rect ShownPart() const;
  // Command thread: the extra rectangle, its pen (width > 0 and a colour text replace it).
  void SetDrawRect(bool show, int penWidth, const std::string& colorText);
  // Command thread: shown in the overlay followed by " X"; empty hides it.
  void SetPtzRateText(const std::string& text);

  // ---- Set by the dispatcher right after a start (command thread) ----
  void SetEventSink(IEvent& sink);
  void SetPaneWidth(int width);
  void SetPaneHeight(int height);

  // ---- Reached through the server's IEvent walks (any thread) ----
  // Pane count of the group's layout: a playback outside it holds its source and pauses.
  void SetPaneCount(int count);
  // Desktop locked (true): drops the player and data until unlocked.
  void SetSuspended(bool suspended);
  // The group was recreated: play into its new pane window.
  void SetWindow(WindowHandle window);
  // Re-presents the last picture of a paused playback (after the container painted).
  void RefreshIfPaused();

  // ---- Files and talk (command thread; the files engineer fills these in) ----
  int CapturePicture(const std::wstring& path);
  int StartRecord(const std::wstring& path);
  int StopRecord();
  int StartDownload(const std::string& url, const std::string& requestJson, const std::string& downloadId,
                    const std::string& startTime, const std::string& endTime, const std::wstring& fileName,
                    const std::wstring& fileSize, const std::string& key);
  int StopDownload(const std::string& message);
  int StartTalk(const std::string& url, const std::string& requestJson, int audioCodec, const std::string& key);
  int StopTalk(const std::string& message);

  // ---- Getters (any thread) ----
  const std::string& ChannelKey() const { return m_strKey; }
  int CameraChannel() const { return m_nChannel; }
  int PaneIndex() const { return m_nPaneIndex; }
  // The open player's handle, 0 when none (what IEvent::GetPlayerHandle answers).
  int PlayerHandle() const;
  int BitRate() const { return m_nBitRate.load(); }
  bool IsPlayback() const { return m_bPlayback; }
  bool IsPaused() const { return m_bPaused.load(); }
  bool SoundOn() const { return m_bSound.load(); }
  bool IsRecording() const { return m_bRecording.load(); }
  WindowHandle Window() const { return m_hWnd.load(); }
  // Packets waiting in the queue, and held while paused.
  std::size_t QueuedPackets();
  std::size_t HeldPackets();

 protected:
  // Set at the start, read by notices and the dispatcher's lookups.
  std::string m_strKey;
  int m_nChannel = -1;
  int m_nPaneIndex = -1;

 private:
  enum class Mode { kLive, kPlayback, kDownload, kTalk };

  // ---- Source side (client thread, inside the client's deliveries) ----
  static void OnSourceMessageThunk(const std::vector<std::uint8_t>& message, void* user);
  void OnSourceMessage(const std::vector<std::uint8_t>& message);
  void OnSourceCode(int code);
  void StopClientFromSource();  // flags the client's stop; it ends after this delivery
  void ReceiveMedia(const MediaHeader& header, const std::uint8_t* payload, std::size_t size);
  // Waits while a playback's pane is outside the layout; false when the channel is stopping.
  bool HoldWhileOutsideLayout();
  // Takes a changed codec or size into the description; true when the player must re-open.
  bool DescriptionChanged(const MediaHeader& header);
  // Opens the player (or writer) on the first frame; false when it failed and the frame is gone.
  bool OpenPlayerIfClosed(const MediaHeader& header);
  void ReopenPlayer();
  // Into the queue; playback holds packets while paused and releases them in order on resume.
  void Deliver(std::unique_ptr<MediaPacket> packet, PacketQueue& queue);
  // m_pendingMutex held: waits while paused playback holds kMaxHeld packets; false when the
  // packet is to be dropped (stopping, suspended).
  bool WaitForHeldRoom(std::unique_lock<std::mutex>& lock);
  // Drops queue, feed thread, player and held packets (suspension, failed open).
  void ReleaseMedia();

  // ---- Player (m_lockPlayer write held) ----
  int OpenPlayerLocked(const StreamDescription& description);
  int OpenTalkPlayerLocked(const StreamDescription& description);
  void ClosePlayerLocked();
  // Client thread, or the command thread once the client has ended; never the feed thread.
  void StartFeedThread();
  void StopFeedThread();
  // Stops and joins the client thread, taking it out under m_clientMutex; never from that thread.
  void EndClient();

  // ---- Feed thread ----
  void FeedLoop();
  // m_feedMutex held.
  void FeedPacket(const MediaPacket& packet);
  // One try to hand a live or playback packet to the library: its answer (onFed told of an
  // accepted one), or none when no player is open and the packet is dropped.
  std::optional<int> InputOnce(const MediaPacket& packet, const StreamDescription& frame);
  void MeasureLocked(const MediaPacket& packet);
  std::uint64_t NowMs() const;
  // Client thread, live only: hands `packet` to the library at once when nothing waits before it,
  // saving the feed thread's wake-up. False when it must be queued instead.
  bool FeedPastQueue(const MediaPacket& packet, PacketQueue& queue);
  void CheckPlaybackDrained();

  // ---- Library callbacks (library threads) ----
  static void OnDraw(std::int32_t reserved, void* canvas, void* user);
  static void OnDecoded(std::int32_t handle, const std::uint8_t* data, std::int32_t size, std::int32_t width,
                        std::int32_t height, std::int32_t reserved, const std::uint32_t* info, void* user);
  void DrawOverlay(platform::display::ICanvas& canvas);

  // ---- Helpers (any thread) ----
  void Notify(const std::string& event, const std::string& value, int camera, int pane);
  std::shared_ptr<PacketQueue> Queue();
  // Empties m_pQueue; the queue is cleared and stopped, so a push waiting for room returns.
  std::shared_ptr<PacketQueue> TakeQueue();
  void DropHeld();
  bool PlayerOpen() const { return m_hPlayer.load() > 0; }
  Rect WholePicture() const;

  // ---- Hooks of files and talk, called by the receive path and the feed ----
  // Download step of the receive path; true when the packet was consumed there.
  bool ReceiveDownload(const MediaHeader& header, const std::uint8_t* payload, std::size_t size);
  // The download writer may open now (until then packets are only queued).
  bool DownloadWriterReady(const MediaHeader& header);
  int OpenDownloadWriterLocked();
  void ReopenDownloadWriterLocked();
  void WriteReceivedFrames();
  void CloseDownloadWriterLocked(VX_HANDLE handle);
  void FeedDownloadLocked(const std::uint8_t* data, std::size_t size, const StreamDescription& frame);
  // The source accepted the talk (code 0): start capturing.
  void StartCapture();
  // The player re-opened while recording: continue into a new file.
  void RestartRecordingLocked();
  // Files and talk (PlayChannelFiles.cc, PlayChannelDownload.cc, PlayChannelTalk.cc).
  // Creates the client of a download or talk (command thread).
  void ConnectSource(const std::string& url);
  // A recording ended by itself (its file takes no more); the library's decode thread.
  static void OnRecordEnded(std::int32_t handle, std::int32_t code, void* user);
  // One encoded microphone block to the source (capture thread).
  void OnCapturedAudio(const std::uint8_t* data, std::size_t length);
  // Closes the whole-file download and seals every file written (command thread, after the stop).
  void SealDownloadFiles();

  const Options m_options;
  Mode m_mode = Mode::kLive;  // set by the start operation, before the client runs

  // Start values (command thread before the client starts; read-only afterwards).
  std::string m_strRequest;
  std::string m_strEndTime;
  std::atomic<int> m_nSpeed{0};
  bool m_bPlayback = false;
  bool m_bDxva = false;
  std::atomic<WindowHandle> m_hWnd{0};
  std::atomic<int> m_nPaneCount{0};
  std::atomic<int> m_nWidth{0};
  std::atomic<int> m_nHeight{0};
  std::atomic<IEvent*> m_pEvent{nullptr};

  // Stream description: written by the client thread under m_descMutex.
  mutable std::mutex m_descMutex;
  StreamDescription m_desc{};

  // Source connection. m_clientMutex guards the pointer; the client is stopped and destroyed
  // outside it (its thread may be waiting for the mutex in a callback).
  std::mutex m_clientMutex;
  std::unique_ptr<StreamClient> m_pClient;

  // Player: handle changes and the calls that need it open under m_lockPlayer.
  ThreadLib::ReadWriteMutex m_lockPlayer;
  std::atomic<int> m_hPlayer{-1};

  // Queue: the pointer under m_lockQueue; users take a reference and work outside the lock, so a
  // push waiting for room never holds the lock a stop needs.
  ThreadLib::ReadWriteMutex m_lockQueue;
  std::shared_ptr<PacketQueue> m_pQueue;

  // Packets held while playback is paused (client thread; emptied by seek and stop).
  static constexpr std::size_t kMaxHeld = 500;
  std::mutex m_pendingMutex;
  std::condition_variable m_pendingCv;
  std::deque<std::unique_ptr<MediaPacket>> m_pending;

  // Feed thread: started on the client thread, joined by the stop or before a new one starts.
  std::thread m_feedThread;
  std::atomic<bool> m_bFeedStop{true};
  // Held while a packet goes to the library, by the feed thread or by the client thread passing
  // the queue, so a packet never overtakes one taken before it. Guards m_meter.
  std::mutex m_feedMutex;
  std::optional<BitRateMeter> m_meter;

  // Flags read across threads.
  std::atomic<bool> m_bClosing{false};
  std::atomic<bool> m_bSuspended{false};
  std::atomic<bool> m_bEndOfFile{false};
  std::atomic<bool> m_bEndNoticeSent{false};
  std::atomic<bool> m_bPaused{false};
  std::atomic<bool> m_bSound{false};
  std::atomic<bool> m_bDot{false};
  std::atomic<int> m_nBitRate{0};
  std::atomic<int> m_nPlayTime{0};

  // Seek reported by ReportPlayTime (m_lockSeek).
  ThreadLib::ReadWriteMutex m_lockSeek;
  bool m_bSeekPending = false;
  int m_nSeekTime = 0;
  int m_nSeekReports = 0;

  // What the overlay draws, and the zoom (m_overlayMutex).
  mutable std::mutex m_overlayMutex;
  bool m_bZoom = false;
  std::optional<Rect> m_rcSelect;
  Rect m_rcZoom;
  bool m_bDrawRect = false;
  Rect m_rcDraw;
  platform::display::Pen m_drawPen{platform::display::MakeColor(255, 0, 0), 1};
  std::string m_strRateText;

  // Recording (files): the flag is read by the overlay; the rest under m_lockPlayer.
  std::atomic<bool> m_bRecording{false};
  std::wstring m_strRecordPath;
  std::wstring m_strFolder;

  // Download: set by its start; then the client thread's, the writer's file names under
  // m_lockPlayer; the stop reads it once the threads ended. Shared so it may stay incomplete here.
  std::shared_ptr<DownloadState> m_download;
  // Talk: the microphone and its no-audio check. Last, so it is stopped first when the channel
  // goes: its callbacks reach the client and the sink.
  std::shared_ptr<TalkCapture> m_talk;
};
