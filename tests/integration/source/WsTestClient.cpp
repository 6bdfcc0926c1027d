#include "WsTestClient.h"

#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>

namespace sourcetest {

namespace beast = boost::beast;
namespace net = boost::asio;
using tcp = net::ip::tcp;

WsTestClient::WsTestClient() { m_ssl.set_verify_mode(net::ssl::verify_none); }

WsTestClient::~WsTestClient() { Close(); }

template <class Op>
bool WsTestClient::Run(Op op) {
    bool done = false;
    beast::error_code result;
    op([&](beast::error_code ec) {
        done = true;
        result = ec;
    });
    m_ioc.restart();
    m_ioc.run_for(m_limit);
    if (!done) {
        // Out of time: tear the socket down so the pending operation completes.
        if (m_plain) beast::get_lowest_layer(*m_plain).close();
        if (m_secure) beast::get_lowest_layer(*m_secure).close();
        m_ioc.restart();
        m_ioc.run();
        return false;
    }
    return !result;
}

bool WsTestClient::Connect(const std::string& host, int port, const std::string& target, bool tls,
                           std::string& error) {
    tcp::resolver resolver(m_ioc);
    beast::error_code ec;
    auto endpoints = resolver.resolve(host, std::to_string(port), ec);
    if (ec) {
        error = ec.message();
        return false;
    }
    if (tls) {
        m_secure = std::make_unique<Secure>(m_ioc, m_ssl);
    } else {
        m_plain = std::make_unique<Plain>(m_ioc);
    }
    auto& lowest = tls ? beast::get_lowest_layer(*m_secure) : beast::get_lowest_layer(*m_plain);
    if (!Run([&](auto done) { lowest.async_connect(endpoints, [done](beast::error_code e, auto) { done(e); }); })) {
        error = "connect failed";
        return false;
    }
    if (tls && !Run([&](auto done) { m_secure->next_layer().async_handshake(net::ssl::stream_base::client, done); })) {
        error = "TLS handshake failed";
        return false;
    }
    const std::string hostHeader = host + ":" + std::to_string(port);
    bool ok = tls ? Run([&](auto done) { m_secure->async_handshake(hostHeader, target, done); })
                  : Run([&](auto done) { m_plain->async_handshake(hostHeader, target, done); });
    if (!ok) error = "WebSocket upgrade refused";
    return ok;
}

bool WsTestClient::SendText(const std::string& text) {
    auto write = [&](auto& ws) {
        ws.text(true);
        return Run([&](auto done) { ws.async_write(net::buffer(text), [done](beast::error_code e, std::size_t) { done(e); }); });
    };
    return m_secure ? write(*m_secure) : write(*m_plain);
}

bool WsTestClient::SendBinary(const std::string& data) {
    auto write = [&](auto& ws) {
        ws.binary(true);
        return Run([&](auto done) { ws.async_write(net::buffer(data), [done](beast::error_code e, std::size_t) { done(e); }); });
    };
    return m_secure ? write(*m_secure) : write(*m_plain);
}

std::optional<WsMessage> WsTestClient::Read() {
    m_buffer.consume(m_buffer.size());
    auto read = [&](auto& ws) -> std::optional<WsMessage> {
        if (!Run([&](auto done) { ws.async_read(m_buffer, [done](beast::error_code e, std::size_t) { done(e); }); }))
            return std::nullopt;
        return WsMessage{ws.got_text(), beast::buffers_to_string(m_buffer.data())};
    };
    if (m_secure) return read(*m_secure);
    if (m_plain) return read(*m_plain);
    return std::nullopt;
}

void WsTestClient::Close() {
    auto close = [&](auto& ws) {
        if (ws.is_open()) Run([&](auto done) { ws.async_close(beast::websocket::close_code::normal, done); });
    };
    if (m_secure) close(*m_secure);
    if (m_plain) close(*m_plain);
    m_secure.reset();
    m_plain.reset();
}

std::optional<Media> ParseMedia(const std::string& m) {
    if (m.size() < 36) return std::nullopt;
    auto b = [&](std::size_t i) { return static_cast<std::uint32_t>(static_cast<unsigned char>(m[i])); };
    auto big = [&](std::size_t i) { return b(i) << 24 | b(i + 1) << 16 | b(i + 2) << 8 | b(i + 3); };
    Media media;
    media.video = b(4) == 1;
    media.dot = b(5) == 1;
    media.time = big(12);
    media.rate = b(16) | b(17) << 8 | b(18) << 16 | b(19) << 24;
    media.width = big(20);
    media.height = big(24);
    media.codec = static_cast<int>(b(28));
    media.frameType = static_cast<int>(b(29));
    media.payload = m.substr(36);
    return media;
}

}  // namespace sourcetest
