#include "Session.h"
#include "SessionStart.h"

namespace source {

void StartPlainSession(SessionContext& ctx, boost::asio::ip::tcp::socket socket) {
    std::make_shared<Session<beast::tcp_stream>>(ctx, std::move(socket))->Run();
}

}  // namespace source
