#pragma once
// A WebSocket client written out by hand on a bare socket, so tests can see frame boundaries
// and send bytes no proper client would. Every wait gives up after a time limit.

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>

namespace sourcetest {

struct RawFrame {
    int opcode = 0;
    bool fin = false;
    std::size_t size = 0;
};

struct RawMessage {
    int opcode = 0;  // of the first frame
    std::string data;
    std::vector<RawFrame> frames;
};

class RawWsClient {
public:
    bool ConnectOnly(int port);
    // Connects and upgrades with a fixed key; true on "101".
    bool Connect(int port, const std::string& target);
    void SendRaw(const std::string& bytes);
    bool SendMaskedText(const std::string& text);
    // Next text or binary message with the frames it came in; control frames are skipped.
    std::optional<RawMessage> ReadMessage();
    // Everything until the peer closes (or the time limit).
    std::string ReadUntilClosed();

private:
    bool Fill(std::size_t count);

    boost::asio::io_context m_ioc;
    boost::asio::ip::tcp::socket m_socket{m_ioc};
    std::string m_in;
    std::chrono::seconds m_limit{15};
};

}  // namespace sourcetest
