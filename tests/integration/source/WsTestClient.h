#pragma once
// A small Beast WebSocket client, plain or TLS, whose every operation gives up after a time
// limit instead of hanging the test.

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/ssl.hpp>
#include <boost/beast/websocket.hpp>

namespace sourcetest {

struct WsMessage {
    bool text = false;
    std::string data;
};

class WsTestClient {
public:
    WsTestClient();
    ~WsTestClient();

    // Connects and upgrades; false with `error` set on failure.
    bool Connect(const std::string& host, int port, const std::string& target, bool tls, std::string& error);
    bool SendText(const std::string& text);
    bool SendBinary(const std::string& data);
    // Empty when the connection closed, failed or nothing came within the limit.
    std::optional<WsMessage> Read();
    void Close();

private:
    template <class Op>
    bool Run(Op op);

    using Plain = boost::beast::websocket::stream<boost::beast::tcp_stream>;
    using Secure = boost::beast::websocket::stream<boost::beast::ssl_stream<boost::beast::tcp_stream>>;

    boost::asio::io_context m_ioc;
    boost::asio::ssl::context m_ssl{boost::asio::ssl::context::tls_client};
    std::unique_ptr<Plain> m_plain;
    std::unique_ptr<Secure> m_secure;
    boost::beast::flat_buffer m_buffer;
    std::chrono::seconds m_limit{15};
};

// A video or audio message taken apart.
struct Media {
    bool video = false;
    bool dot = false;
    std::uint32_t time = 0;
    std::uint32_t rate = 0;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    int codec = -1;
    int frameType = -1;
    std::string payload;
};
std::optional<Media> ParseMedia(const std::string& message);

}  // namespace sourcetest
