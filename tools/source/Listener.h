#pragma once
// Accepts viewers on 127.0.0.1 and ::1 at one port, plain or TLS, and starts a Session on
// its own strand for each. Runs on the I/O threads.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl/context.hpp>

#include "SessionContext.h"

namespace source {

class Listener : public std::enable_shared_from_this<Listener> {
public:
    // `tls` null: plain ws://.
    Listener(boost::asio::io_context& ioc, SessionContext& ctx, boost::asio::ssl::context* tls);

    // Binds both loopback addresses at `port` (0: one free port for both). Returns the port,
    // or empty with `error` set. IPv6 missing on the machine is not an error.
    std::optional<unsigned short> Bind(unsigned short port, std::string& error);
    void Start();

private:
    void Accept(boost::asio::ip::tcp::acceptor& acceptor);

    boost::asio::io_context& m_ioc;
    SessionContext& m_ctx;
    boost::asio::ssl::context* m_tls;
    std::vector<std::unique_ptr<boost::asio::ip::tcp::acceptor>> m_acceptors;
};

}  // namespace source
