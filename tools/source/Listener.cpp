#include "Listener.h"

#include <boost/asio/ip/v6_only.hpp>
#include <boost/asio/strand.hpp>

#include "EventLog.h"
#include "SessionStart.h"

namespace source {

namespace net = boost::asio;
namespace ip = net::ip;
using ErrorCode = boost::system::error_code;

namespace {

std::unique_ptr<ip::tcp::acceptor> Open(boost::asio::io_context& ioc, const ip::address& address,
                                        unsigned short port, ErrorCode& ec) {
    auto acceptor = std::make_unique<ip::tcp::acceptor>(ioc);
    const ip::tcp::endpoint endpoint(address, port);
    acceptor->open(endpoint.protocol(), ec);
    if (!ec && address.is_v6()) acceptor->set_option(ip::v6_only(true), ec);
    if (!ec) acceptor->set_option(net::socket_base::reuse_address(true), ec);
    if (!ec) acceptor->bind(endpoint, ec);
    if (!ec) acceptor->listen(net::socket_base::max_listen_connections, ec);
    if (ec) return nullptr;
    return acceptor;
}

}  // namespace

Listener::Listener(boost::asio::io_context& ioc, SessionContext& ctx, boost::asio::ssl::context* tls)
    : m_ioc(ioc), m_ctx(ctx), m_tls(tls) {}

std::optional<unsigned short> Listener::Bind(unsigned short port, std::string& error) {
    // With port 0 the IPv6 side may find the IPv4 side's free port taken; try a few ports.
    for (int attempt = 0; attempt < 20; ++attempt) {
        ErrorCode ec;
        m_acceptors.clear();
        auto v4 = Open(m_ioc, ip::make_address("127.0.0.1"), port, ec);
        if (!v4) {
            error = "127.0.0.1:" + std::to_string(port) + ": " + ec.message();
            return std::nullopt;
        }
        const unsigned short bound = v4->local_endpoint().port();
        m_acceptors.push_back(std::move(v4));
        auto v6 = Open(m_ioc, ip::make_address("::1"), bound, ec);
        if (v6) {
            m_acceptors.push_back(std::move(v6));
            return bound;
        }
        if (ec == net::error::address_in_use && port == 0) continue;
        if (ec == net::error::address_in_use) {
            error = "[::1]:" + std::to_string(port) + ": " + ec.message();
            return std::nullopt;
        }
        Emit("warning", {{"what", "no IPv6 loopback: " + ec.message()}});
        return bound;
    }
    error = "no free port for both loopback addresses";
    return std::nullopt;
}

void Listener::Start() {
    for (auto& acceptor : m_acceptors) Accept(*acceptor);
}

void Listener::Accept(ip::tcp::acceptor& acceptor) {
    acceptor.async_accept(net::make_strand(m_ioc), [self = shared_from_this(), &acceptor](ErrorCode ec,
                                                                                           ip::tcp::socket socket) {
        if (ec == net::error::operation_aborted) return;
        if (!ec) {
            socket.set_option(ip::tcp::no_delay(true), ec);
            if (self->m_tls) {
                StartTlsSession(self->m_ctx, std::move(socket), *self->m_tls);
            } else {
                StartPlainSession(self->m_ctx, std::move(socket));
            }
        } else {
            Emit("warning", {{"what", "accept: " + ec.message()}});
        }
        self->Accept(acceptor);
    });
}

}  // namespace source
