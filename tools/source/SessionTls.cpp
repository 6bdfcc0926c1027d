#include "Session.h"
#include "SessionStart.h"

namespace source {

void StartTlsSession(SessionContext& ctx, boost::asio::ip::tcp::socket socket, boost::asio::ssl::context& tls) {
    std::make_shared<Session<beast::ssl_stream<beast::tcp_stream>>>(ctx, std::move(socket), tls)->Run();
}

}  // namespace source
