#pragma once
// Starts a Session for an accepted socket. Each kind of Session is compiled in its own file
// (SessionPlain.cpp, SessionTls.cpp): the two Beast instantiations are the heaviest part of the
// build, and apart they compile in parallel and spare the listener their headers.

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl/context.hpp>

#include "SessionContext.h"

namespace source {

void StartPlainSession(SessionContext& ctx, boost::asio::ip::tcp::socket socket);
void StartTlsSession(SessionContext& ctx, boost::asio::ip::tcp::socket socket, boost::asio::ssl::context& tls);

}  // namespace source
