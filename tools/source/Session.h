#pragma once
// One viewer connection, plain or TLS: upgrade, request text, answer, stream, control texts,
// talk audio. Every handler runs on the connection's own strand, so members need no lock.
//
// Send queue: at most kMaxQueued messages or kMaxQueuedBytes. Live and talk drop on overflow
// (video then resumes at the next key frame); playback and download wait for room instead,
// so a slow reader holds the source back and nothing is lost.

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>

#include <boost/asio/dispatch.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>
#include <boost/beast/websocket.hpp>

#include "ControlText.h"
#include "EventLog.h"
#include "MediaHeader.h"
#include "Mp4File.h"
#include "SessionContext.h"
#include "StreamCursor.h"
#include "StreamParams.h"
#include "TalkDecoder.h"

namespace source {

namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
namespace net = boost::asio;

constexpr std::size_t kMaxQueued = 64;
constexpr std::size_t kMaxQueuedBytes = 16u << 20;
constexpr std::size_t kMaxInbound = 1u << 20;
constexpr int kPumpBatch = 32;
constexpr std::size_t kFileChunk = 64 * 1024;  // whole-file downloads: bytes per message

struct TalkCounters {
    std::uint64_t messages = 0;
    std::uint64_t bytes = 0;           // audio payload bytes
    std::uint64_t badLength = 0;       // header length field disagreeing with the payload
    std::uint64_t malformed = 0;       // shorter than a header
    std::int64_t samples = 0;          // decoded, as a speaker would play them
    int codec = -1;
};

template <class NextLayer>
class Session : public std::enable_shared_from_this<Session<NextLayer>> {
public:
    static constexpr bool kTls = !std::is_same_v<NextLayer, beast::tcp_stream>;

    template <class... Args>
    Session(SessionContext& ctx, Args&&... args)
        : m_ctx(ctx), m_ws(std::forward<Args>(args)...), m_timer(m_ws.get_executor()),
          m_id(ctx.nextId.fetch_add(1)) {}

    void Run() {
        net::dispatch(m_ws.get_executor(), [self = this->shared_from_this()] { self->Start(); });
    }

private:
    using Clock = StreamCursor::Clock;

    struct Outgoing {
        std::shared_ptr<const std::string> data;
        bool binary = true;
    };

    void Start() {
        ++m_ctx.open;
        beast::get_lowest_layer(m_ws).expires_after(std::chrono::seconds(30));
        if constexpr (kTls) {
            m_ws.next_layer().async_handshake(
                net::ssl::stream_base::server,
                [self = this->shared_from_this()](beast::error_code ec) {
                    if (ec) return self->Finish("tls", ec);
                    self->ReadUpgrade();
                });
        } else {
            ReadUpgrade();
        }
    }

    void ReadUpgrade() {
        m_parser.emplace();
        m_parser->body_limit(64 * 1024);
        http::async_read(m_ws.next_layer(), m_buffer, *m_parser,
                         [self = this->shared_from_this()](beast::error_code ec, std::size_t) {
                             self->OnUpgradeRequest(ec);
                         });
    }

    void OnUpgradeRequest(beast::error_code ec) {
        if (ec) return Finish("http", ec);
        m_request = m_parser->release();
        m_target = std::string(m_request.target());
        if (!websocket::is_upgrade(m_request)) return Refuse(http::status::upgrade_required, "WebSocket only\n");
        ParseResult parsed = ParseTarget(m_target);
        if (!parsed.params) return Refuse(http::status::bad_request, parsed.error + "\n");
        m_params = *parsed.params;
        if (m_params.fault == Fault::Refuse) return Refuse(http::status::forbidden, "refused: fault=refuse\n");
        beast::get_lowest_layer(m_ws).expires_never();
        if (m_params.fault == Fault::Stall || m_params.fault == Fault::Trickle) return HoldUpgrade();
        m_ws.set_option(websocket::stream_base::timeout::suggested(beast::role_type::server));
        m_ws.set_option(websocket::stream_base::decorator([](websocket::response_type& res) {
            res.set(http::field::server, "nimbrel-source");
        }));
        m_ws.read_message_max(kMaxInbound);
        m_ws.auto_fragment(false);
        m_ws.async_accept(m_request, [self = this->shared_from_this()](beast::error_code ec) {
            if (ec) return self->Finish("accept", ec);
            self->m_open = true;
            Emit("connect", {{"conn", self->m_id}, {"target", SafeText(self->m_target)},
                             {"tls", kTls}, {"mode", ModeName(self->m_params.mode)}});
            self->Read();
        });
    }

    void Refuse(http::status status, std::string why) {
        Emit("refused", {{"conn", m_id}, {"target", SafeText(m_target)}, {"status", static_cast<int>(status)},
                         {"reason", why.substr(0, why.size() - 1)}});
        auto res = std::make_shared<http::response<http::string_body>>(status, m_request.version());
        res->set(http::field::server, "nimbrel-source");
        res->set(http::field::content_type, "text/plain");
        res->keep_alive(false);
        res->body() = std::move(why);
        res->prepare_payload();
        http::async_write(m_ws.next_layer(), *res,
                          [self = this->shared_from_this(), res](beast::error_code, std::size_t) {
                              self->Finish("refused", {});
                          });
    }

    void Read() {
        m_ws.async_read(m_readBuffer, [self = this->shared_from_this()](beast::error_code ec, std::size_t) {
            self->OnRead(ec);
        });
    }

    void OnRead(beast::error_code ec) {
        if (ec) return Finish("read", ec);
        std::string data = beast::buffers_to_string(m_readBuffer.data());
        m_readBuffer.consume(m_readBuffer.size());
        if (m_ws.got_text()) {
            OnText(data);
        } else {
            OnBinary(data);
        }
        if (!m_closed) Read();
    }

    void OnText(const std::string& text) {
        if (!m_gotRequest) {
            m_gotRequest = true;
            Emit("request", {{"conn", m_id}, {"text", SafeText(text)}});
            ApplyRequestText(text, m_params);
            if (m_params.fault != Fault::None) return PlayStreamFault();
            if (m_params.code) {
                SendText("{\"code\":" + std::to_string(*m_params.code) + "}");
                Emit("answer", {{"conn", m_id}, {"code", *m_params.code}});
                return;
            }
            LoadMedia();
            return;
        }
        const Control c = ParseControl(text);
        const bool controllable = m_params.mode == StreamMode::Playback || m_params.mode == StreamMode::Download;
        std::optional<std::uint32_t> reached;
        std::optional<double> factor;
        const auto now = Clock::now();
        if (controllable && m_cursor) {
            switch (c.kind) {
                case Control::Kind::Pause: m_cursor->Pause(now); break;
                case Control::Kind::Resume: m_cursor->Resume(now); break;
                case Control::Kind::Seek:
                    if (*c.time > 0 && *c.time <= 0xffffffffLL) {
                        reached = m_cursor->Seek(static_cast<std::uint32_t>(*c.time), now);
                        m_ended = false;  // a seek after the end plays again
                        m_waitKey = false;
                    }
                    break;
                case Control::Kind::Speed:
                    factor = SpeedFactor(*c.speed);
                    if (factor) m_cursor->SetSpeed(*factor, now);
                    break;
                default: break;
            }
        }
        if (c.kind == Control::Kind::Stop) m_ended = true;  // the viewer closes next
        Emit("text", {{"conn", m_id}, {"text", SafeText(text)}, {"action", SafeText(c.action)},
                      {"applied", controllable && m_cursor && c.kind != Control::Kind::Other &&
                                      c.kind != Control::Kind::None},
                      {"seekTo", reached ? static_cast<std::int64_t>(*reached) : std::int64_t{-1}},
                      {"speed", factor ? *factor : 0.0}});
        Pump();
    }

    void OnBinary(const std::string& data) {
        if (m_params.mode != StreamMode::Talk || !m_gotRequest) {
            ++m_unexpectedBinary;
            return;
        }
        auto header = DecodeHeader(data);
        if (!header) {
            ++m_talk.malformed;
            return;
        }
        const std::size_t payload = data.size() - kMediaHeaderSize;
        ++m_talk.messages;
        m_talk.bytes += payload;
        m_talk.codec = header->codec;
        if (header->payloadLength != payload) ++m_talk.badLength;
        m_talk.samples += m_talkDecoder.Decode(header->codec, std::string_view(data).substr(kMediaHeaderSize));
        if (m_talk.messages == 1 || m_talk.messages % 25 == 0) {
            Emit("talkAudio", {{"conn", m_id}, {"messages", m_talk.messages}, {"bytes", m_talk.bytes},
                               {"codec", m_talk.codec}, {"codecName", TalkCodecName(m_talk.codec)},
                               {"badLength", m_talk.badLength}, {"samples", m_talk.samples}});
        }
    }

    // The upgrade is never answered (stall), or its answer never ends (trickle: the status line,
    // then one header line every 500 ms). The connection lasts until the viewer gives up.
    void HoldUpgrade() {
        Emit("fault", {{"conn", m_id}, {"fault", FaultName(m_params.fault)}, {"stage", "upgrade"},
                       {"target", SafeText(m_target)}});
        if (m_params.fault == Fault::Trickle) {
            m_rawNext = std::make_shared<const std::string>("X-Wait: 1\r\n");
            WriteRaw(std::make_shared<const std::string>("HTTP/1.1 101 Switching Protocols\r\n"), 500);
        }
        WaitForPeerClose();
    }

    // After the request text: say nothing (silent), answer and then reset the connection
    // (reset), or write bytes that are no WebSocket frames (garbage) or a frame whose length
    // claims a terabyte (oversize), until the viewer closes.
    void PlayStreamFault() {
        Emit("fault", {{"conn", m_id}, {"fault", FaultName(m_params.fault)}, {"stage", "stream"},
                       {"target", SafeText(m_target)}});
        switch (m_params.fault) {
            case Fault::Reset: {
                SendText("{\"code\":0}");
                m_timer.expires_after(std::chrono::milliseconds(300));
                m_timer.async_wait([self = this->shared_from_this()](beast::error_code ec) {
                    if (ec || self->m_closed) return;
                    beast::error_code ignored;
                    auto& socket = beast::get_lowest_layer(self->m_ws).socket();
                    socket.set_option(net::socket_base::linger(true, 0), ignored);
                    socket.close(ignored);
                    self->Finish("reset", {});
                });
                return;
            }
            case Fault::Garbage: {
                auto bytes = std::make_shared<std::string>(64 * 1024, '\0');
                std::uint32_t x = 2463534242u;
                for (char& c : *bytes) {
                    x ^= x << 13, x ^= x >> 17, x ^= x << 5;
                    c = static_cast<char>(x);
                }
                m_rawNext = bytes;
                return WriteRaw(bytes, 50);
            }
            case Fault::Oversize: {
                // FIN + binary, 64-bit length 2^40, then filler that never completes the frame.
                std::string header("\x82\x7f\x00\x00\x01\x00\x00\x00\x00\x00", 10);
                m_rawNext = std::make_shared<const std::string>(64 * 1024, 'x');
                return WriteRaw(std::make_shared<const std::string>(header + *m_rawNext), 10);
            }
            default: return;  // silent: reads go on, nothing is sent
        }
    }

    // `first` straight onto the connection, past the WebSocket layer, then m_rawNext every
    // `everyMs` until the viewer goes.
    void WriteRaw(std::shared_ptr<const std::string> first, int everyMs) {
        net::async_write(m_ws.next_layer(), net::buffer(*first),
                         [self = this->shared_from_this(), first, everyMs](beast::error_code ec, std::size_t) {
                             if (ec || self->m_closed) return self->Finish("fault", ec);
                             self->m_timer.expires_after(std::chrono::milliseconds(everyMs));
                             self->m_timer.async_wait([self, everyMs](beast::error_code ec2) {
                                 if (!ec2 && !self->m_closed) self->WriteRaw(self->m_rawNext, everyMs);
                             });
                         });
    }

    void WaitForPeerClose() {
        auto sink = std::make_shared<std::array<char, 512>>();
        beast::get_lowest_layer(m_ws).socket().async_read_some(
            net::buffer(*sink), [self = this->shared_from_this(), sink](beast::error_code ec, std::size_t) {
                if (ec) return self->Finish("fault", ec);
                self->WaitForPeerClose();
            });
    }

    void LoadMedia() {
        // Encoding happens on the pool; the result comes back to this connection's strand.
        net::post(m_ctx.encoders, [self = this->shared_from_this()] {
            const StreamParams& p = self->m_params;
            Loaded<VideoLoop> video;
            Loaded<AudioLoop> audio;
            if (p.mode != StreamMode::Talk) video = self->m_ctx.cache.Video(p.codec, p.width, p.height, p.fps);
            if (p.audio != AudioKind::None) audio = self->m_ctx.cache.Audio(p.audio, p.audioRate);
            net::post(self->m_ws.get_executor(), [self, video, audio] { self->OnMediaReady(video, audio); });
        });
    }

    void OnMediaReady(const Loaded<VideoLoop>& video, const Loaded<AudioLoop>& audio) {
        if (m_closed) return;
        const bool wantVideo = m_params.mode != StreamMode::Talk;
        const bool wantAudio = m_params.audio != AudioKind::None;
        if ((wantVideo && !video.loop) || (wantAudio && !audio.loop)) {
            const std::string& why = !video.error.empty() ? video.error : audio.error;
            Emit("error", {{"conn", m_id}, {"what", why}});
            SendText("{\"code\":500}");
            m_ended = true;
            return;
        }
        const auto now = std::chrono::system_clock::now();
        const auto unixNow = static_cast<std::uint32_t>(
            std::chrono::duration_cast<std::chrono::seconds>(now.time_since_epoch()).count());
        std::uint32_t start = m_params.start.value_or(unixNow);
        std::optional<std::uint32_t> end = m_params.end;
        if (m_params.mode == StreamMode::Playback || m_params.mode == StreamMode::Download) {
            // A recording needs a range; without one, the last minute (playback) or the last
            // ten seconds (download) before now.
            const std::uint32_t span = m_params.mode == StreamMode::Playback ? 60 : 10;
            if (!m_params.start && !m_params.end) start = unixNow - span;
            if (!end) end = start + span;
            if (*end <= start) start = *end - 1;
        }
        if (m_params.mode == StreamMode::Download && m_params.wholeFile) return BuildFile(video.loop, start, *end);
        m_cursor.emplace(m_params, video.loop, audio.loop, start, end, Clock::now());
        SendText("{\"code\":0}");
        Emit("streaming", {{"conn", m_id}, {"mode", ModeName(m_params.mode)},
                           {"codec", video.loop ? CodecName(video.loop->codec) : "none"},
                           {"width", video.loop ? video.loop->width : 0},
                           {"height", video.loop ? video.loop->height : 0},
                           {"fps", video.loop ? video.loop->fps : 0}, {"audio", AudioName(m_params.audio)},
                           {"start", static_cast<std::int64_t>(start)},
                           {"end", end ? static_cast<std::int64_t>(*end) : std::int64_t{0}}});
        Pump();
    }

    // A whole-file download: the range's frames as one MP4, made on the pool, then sent in
    // pieces behind media headers (video, key frame, the range's start time).
    void BuildFile(std::shared_ptr<const VideoLoop> loop, std::uint32_t start, std::uint32_t end) {
        const std::int64_t frames = static_cast<std::int64_t>(end - start) * loop->fps;
        net::post(m_ctx.encoders, [self = this->shared_from_this(), loop, frames, start] {
            std::string error;
            auto file = BuildMp4File(*loop, frames, error);
            net::post(self->m_ws.get_executor(), [self, loop, file = std::move(file), error, start] {
                self->OnFileReady(*loop, file, error, start);
            });
        });
    }

    void OnFileReady(const VideoLoop& loop, const std::optional<std::string>& file, const std::string& error,
                     std::uint32_t start) {
        if (m_closed) return;
        if (!file) {
            Emit("error", {{"conn", m_id}, {"what", error}});
            SendText("{\"code\":500}");
            m_ended = true;
            return;
        }
        m_file = std::make_shared<const std::string>(*file);
        MediaHeader header;
        header.time = start;
        header.rate = static_cast<std::uint32_t>(loop.fps);
        header.width = static_cast<std::uint32_t>(loop.width);
        header.height = static_cast<std::uint32_t>(loop.height);
        header.codec = static_cast<std::uint8_t>(loop.codec);
        header.frameType = 1;
        m_fileHeader = EncodeHeader(header);
        // Paced, the pieces spread over the range's own duration, as a recorder sending in real time.
        const std::size_t pieces = (m_file->size() + kFileChunk - 1) / kFileChunk;
        const auto span = std::chrono::seconds(m_params.end.value_or(start) - start);
        m_filePieceInterval = std::chrono::duration_cast<Clock::duration>(span) / static_cast<long>(std::max<std::size_t>(pieces, 1));
        m_fileStarted = Clock::now();
        SendText("{\"code\":0}");
        Emit("streaming", {{"conn", m_id}, {"mode", "download"}, {"codec", CodecName(loop.codec)},
                           {"width", loop.width}, {"height", loop.height}, {"fps", loop.fps},
                           {"audio", "none"}, {"start", static_cast<std::int64_t>(start)},
                           {"end", static_cast<std::int64_t>(m_params.end.value_or(0))},
                           {"fileBytes", static_cast<std::uint64_t>(m_file->size())}});
        Pump();
    }

    void PumpFile() {
        while (m_fileOffset < m_file->size()) {
            if (QueueFull()) return;  // the write completion pumps again
            if (m_params.paced) {
                const auto due = m_fileStarted + m_filePieceInterval * static_cast<long>(m_fileOffset / kFileChunk);
                if (due > Clock::now()) return ArmTimer(due);
            }
            const std::size_t n = std::min(kFileChunk, m_file->size() - m_fileOffset);
            std::string message(reinterpret_cast<const char*>(m_fileHeader.data()), m_fileHeader.size());
            message.append(*m_file, m_fileOffset, n);
            m_fileOffset += n;
            Enqueue(std::make_shared<const std::string>(std::move(message)), true);
        }
        m_ended = true;
        SendText("{\"code\":302}");
        Emit("end", {{"conn", m_id}, {"fileBytes", static_cast<std::uint64_t>(m_fileOffset)}});
    }

    bool QueueFull() const { return m_queue.size() >= kMaxQueued || m_queuedBytes >= kMaxQueuedBytes; }

    void Pump() {
        if (m_file && !m_closed && !m_ended) return PumpFile();
        if (m_closed || !m_cursor || m_ended || m_cursor->Empty()) return;
        const bool live = m_params.mode == StreamMode::Live || m_params.mode == StreamMode::Talk;
        const bool unpaced = m_params.mode == StreamMode::Download && !m_params.paced;
        for (int budget = kPumpBatch; budget > 0; --budget) {
            if (m_cursor->Finished()) return EndOfData();
            if (m_cursor->Paused()) return;
            if (!unpaced) {
                const auto due = m_cursor->NextDue();
                if (due > Clock::now()) return ArmTimer(due);
            }
            const bool full = QueueFull();
            if (!live && full) return;  // the write completion pumps again
            StreamCursor::Item item = m_cursor->Take();
            if (live && (full || (item.video && m_waitKey && !item.key))) {
                if (m_dropped++ == 0) Emit("overflow", {{"conn", m_id}, {"queued", m_queue.size()}});
                if (item.video) m_waitKey = true;
                continue;
            }
            if (item.video) m_waitKey = false;
            Enqueue(std::move(item.message), true);
        }
        net::post(m_ws.get_executor(), [self = this->shared_from_this()] { self->Pump(); });
    }

    void ArmTimer(Clock::time_point due) {
        if (m_timerArmed && m_timerDue == due) return;
        m_timerArmed = true;
        m_timerDue = due;
        const std::uint64_t generation = ++m_timerGeneration;
        m_timer.expires_at(due);
        m_timer.async_wait([self = this->shared_from_this(), generation](beast::error_code ec) {
            if (ec || generation != self->m_timerGeneration) return;
            self->m_timerArmed = false;
            self->Pump();
        });
    }

    void EndOfData() {
        m_ended = true;
        SendText("{\"code\":302}");
        Emit("end", {{"conn", m_id}, {"videoFrames", m_cursor->VideoSent()}, {"audioBlocks", m_cursor->AudioSent()}});
    }

    void SendText(std::string text) { Enqueue(std::make_shared<const std::string>(std::move(text)), false); }

    void Enqueue(std::shared_ptr<const std::string> data, bool binary) {
        if (m_closed) return;
        m_queuedBytes += data->size();
        m_queue.push_back({std::move(data), binary});
        if (!m_writing) {
            m_writing = true;
            m_offset = 0;
            WriteFront();
        }
    }

    void WriteFront() {
        const Outgoing& out = m_queue.front();
        const std::string& data = *out.data;
        auto done = [self = this->shared_from_this()](beast::error_code ec, std::size_t n) { self->OnWritten(ec, n); };
        if (m_offset == 0) m_ws.binary(out.binary);
        if (m_params.fragment == 0) {
            m_offset = data.size();
            m_ws.async_write(net::buffer(data), std::move(done));
            return;
        }
        const std::size_t n = std::min(m_params.fragment, data.size() - m_offset);
        const bool fin = m_offset + n == data.size();
        const std::size_t at = m_offset;
        m_offset += n;
        m_ws.async_write_some(fin, net::buffer(data.data() + at, n), std::move(done));
    }

    void OnWritten(beast::error_code ec, std::size_t) {
        if (ec) return Finish("write", ec);
        if (m_offset < m_queue.front().data->size()) return WriteFront();
        m_queuedBytes -= m_queue.front().data->size();
        m_queue.pop_front();
        m_offset = 0;
        if (m_queue.empty()) {
            m_writing = false;
            Pump();
        } else {
            WriteFront();
        }
    }

    void Finish(const char* stage, beast::error_code ec) {
        if (m_closed) return;
        m_closed = true;
        --m_ctx.open;
        ++m_timerGeneration;
        m_timer.cancel();
        beast::error_code ignored;
        beast::get_lowest_layer(m_ws).socket().shutdown(net::ip::tcp::socket::shutdown_both, ignored);
        beast::get_lowest_layer(m_ws).close();
        const bool normal = !ec || ec == websocket::error::closed || ec == net::error::eof;
        if (!m_open) {
            if (ec) Emit("dropped", {{"conn", m_id}, {"stage", stage}, {"error", ec.message()}});
            return;
        }
        Emit("close", {{"conn", m_id}, {"stage", stage}, {"normal", normal}, {"error", ec ? ec.message() : ""},
                       {"videoFrames", m_cursor ? m_cursor->VideoSent() : 0},
                       {"audioBlocks", m_cursor ? m_cursor->AudioSent() : 0}, {"dropped", m_dropped},
                       {"talkMessages", m_talk.messages}, {"talkBytes", m_talk.bytes},
                       {"talkBadLength", m_talk.badLength}, {"talkMalformed", m_talk.malformed},
                       {"talkSamples", m_talk.samples},
                       {"unexpectedBinary", m_unexpectedBinary}, {"open", m_ctx.open.load()}});
    }

    SessionContext& m_ctx;
    websocket::stream<NextLayer> m_ws;
    net::steady_timer m_timer;
    const std::uint64_t m_id;

    beast::flat_buffer m_buffer;
    std::optional<http::request_parser<http::empty_body>> m_parser;
    http::request<http::empty_body> m_request;
    std::string m_target;
    beast::flat_buffer m_readBuffer;

    StreamParams m_params;
    bool m_open = false;        // WebSocket accepted
    bool m_gotRequest = false;
    bool m_closed = false;
    bool m_ended = false;       // no more media: end of data sent, refused, or stopped
    std::optional<StreamCursor> m_cursor;
    std::shared_ptr<const std::string> m_file;  // whole-file download
    std::array<std::uint8_t, kMediaHeaderSize> m_fileHeader{};
    std::size_t m_fileOffset = 0;
    Clock::time_point m_fileStarted;
    Clock::duration m_filePieceInterval{};

    std::deque<Outgoing> m_queue;
    std::size_t m_queuedBytes = 0;
    std::size_t m_offset = 0;   // bytes of the front message already handed to the socket
    bool m_writing = false;
    bool m_waitKey = false;     // live: video dropped, skip to the next key frame
    std::uint64_t m_dropped = 0;

    bool m_timerArmed = false;
    Clock::time_point m_timerDue;
    std::uint64_t m_timerGeneration = 0;

    TalkCounters m_talk;
    TalkDecoder m_talkDecoder;
    std::uint64_t m_unexpectedBinary = 0;
    std::shared_ptr<const std::string> m_rawNext;  // what a trickle, garbage or oversize fault keeps writing
};

}  // namespace source
