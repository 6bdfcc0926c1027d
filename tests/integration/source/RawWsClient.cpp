#include "RawWsClient.h"

#include <array>

#include <boost/asio/read.hpp>
#include <boost/asio/write.hpp>

namespace sourcetest {

namespace net = boost::asio;
using tcp = net::ip::tcp;

bool RawWsClient::ConnectOnly(int port) {
    boost::system::error_code ec;
    m_socket.connect(tcp::endpoint(net::ip::make_address("127.0.0.1"), static_cast<unsigned short>(port)), ec);
    return !ec;
}

bool RawWsClient::Connect(int port, const std::string& target) {
    if (!ConnectOnly(port)) return false;
    SendRaw("GET " + target +
            " HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
            "Sec-WebSocket-Key: Z5mQpR8sT2vW6yA1cE9gHk==\r\nSec-WebSocket-Version: 13\r\n\r\n");
    std::size_t end;
    while ((end = m_in.find("\r\n\r\n")) == std::string::npos) {
        if (!Fill(m_in.size() + 1)) return false;
    }
    const bool upgraded = m_in.compare(0, 12, "HTTP/1.1 101") == 0;
    m_in.erase(0, end + 4);
    return upgraded;
}

void RawWsClient::SendRaw(const std::string& bytes) {
    boost::system::error_code ec;
    net::write(m_socket, net::buffer(bytes), ec);
}

bool RawWsClient::SendMaskedText(const std::string& text) {
    if (text.size() > 125) return false;
    const unsigned char mask[4] = {0x5a, 0x1c, 0x7e, 0x33};
    std::string frame;
    frame.push_back(static_cast<char>(0x81));
    frame.push_back(static_cast<char>(0x80 | text.size()));
    frame.append(reinterpret_cast<const char*>(mask), 4);
    for (std::size_t i = 0; i < text.size(); ++i) frame.push_back(static_cast<char>(text[i] ^ mask[i % 4]));
    SendRaw(frame);
    return true;
}

bool RawWsClient::Fill(std::size_t count) {
    while (m_in.size() < count) {
        std::array<char, 16384> chunk;
        bool done = false;
        boost::system::error_code result;
        std::size_t got = 0;
        m_socket.async_read_some(net::buffer(chunk), [&](boost::system::error_code ec, std::size_t n) {
            done = true;
            result = ec;
            got = n;
        });
        m_ioc.restart();
        m_ioc.run_for(m_limit);
        if (!done) {
            m_socket.close();
            m_ioc.restart();
            m_ioc.run();
            return false;
        }
        m_in.append(chunk.data(), got);
        if (result) return false;
    }
    return true;
}

std::optional<RawMessage> RawWsClient::ReadMessage() {
    RawMessage message;
    for (;;) {
        if (!Fill(2)) return std::nullopt;
        const auto b0 = static_cast<unsigned char>(m_in[0]);
        const auto b1 = static_cast<unsigned char>(m_in[1]);
        std::size_t header = 2;
        std::uint64_t length = b1 & 0x7f;
        if (length == 126) {
            header = 4;
            if (!Fill(header)) return std::nullopt;
            length = static_cast<unsigned char>(m_in[2]) << 8 | static_cast<unsigned char>(m_in[3]);
        } else if (length == 127) {
            header = 10;
            if (!Fill(header)) return std::nullopt;
            length = 0;
            for (int i = 2; i < 10; ++i) length = length << 8 | static_cast<unsigned char>(m_in[i]);
        }
        if (b1 & 0x80) return std::nullopt;  // a server never masks
        if (!Fill(header + length)) return std::nullopt;
        RawFrame frame{b0 & 0x0f, (b0 & 0x80) != 0, static_cast<std::size_t>(length)};
        std::string payload = m_in.substr(header, length);
        m_in.erase(0, header + length);
        if (frame.opcode >= 8) {
            if (frame.opcode == 8) return std::nullopt;
            continue;
        }
        if (message.frames.empty()) message.opcode = frame.opcode;
        message.frames.push_back(frame);
        message.data += payload;
        if (frame.fin) return message;
    }
}

std::string RawWsClient::ReadUntilClosed() {
    while (Fill(m_in.size() + 1)) {
    }
    return m_in;
}

}  // namespace sourcetest
