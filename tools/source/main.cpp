// nimbrel-source: entry point. Loads an optional file, binds the listeners, reports the
// ports and serves until SIGINT or SIGTERM.

#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/asio/thread_pool.hpp>

extern "C" {
#include <libavutil/log.h>
}

#include "EventLog.h"
#include "FileLoader.h"
#include "Listener.h"
#include "MediaCache.h"
#include "Options.h"
#include "SessionContext.h"

namespace net = boost::asio;
using namespace source;

namespace {

int Fail(const std::string& what) {
    Emit("fatal", {{"what", what}});
    std::fprintf(stderr, "nimbrel-source: %s\n", what.c_str());
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::string error;
    auto options = ParseOptions(argc, argv, error);
    if (!options) {
        std::fprintf(stderr, "nimbrel-source: %s\n\n%s", error.c_str(), UsageText());
        return 2;
    }
    if (options->help) {
        std::fputs(UsageText(), stdout);
        return 0;
    }
    av_log_set_level(AV_LOG_ERROR);

    MediaCache cache;
    if (!options->file.empty()) {
        auto loop = std::make_shared<VideoLoop>();
        if (!LoadVideoFile(options->file, *loop, error)) return Fail(error);
        Emit("file", {{"path", options->file}, {"codec", CodecName(loop->codec)}, {"width", loop->width},
                      {"height", loop->height}, {"fps", loop->fps},
                      {"frames", static_cast<std::uint64_t>(loop->units.size())}});
        cache.SetFileVideo(std::move(loop));
    }

    net::io_context ioc(options->threads);
    net::thread_pool encoders(2);
    SessionContext ctx{cache, encoders};

    std::unique_ptr<net::ssl::context> tls;
    if (options->tlsPort) {
        tls = std::make_unique<net::ssl::context>(net::ssl::context::tls_server);
        boost::system::error_code ec;
        tls->set_options(net::ssl::context::default_workarounds | net::ssl::context::no_sslv2 |
                         net::ssl::context::no_sslv3, ec);
        tls->use_certificate_chain_file(options->cert, ec);
        if (ec) return Fail("certificate " + options->cert + ": " + ec.message());
        tls->use_private_key_file(options->key, net::ssl::context::pem, ec);
        if (ec) return Fail("key " + options->key + ": " + ec.message());
    }

    auto plain = std::make_shared<Listener>(ioc, ctx, nullptr);
    auto port = plain->Bind(static_cast<unsigned short>(options->port), error);
    if (!port) return Fail(error);
    std::shared_ptr<Listener> secure;
    std::optional<unsigned short> tlsPort;
    if (tls) {
        secure = std::make_shared<Listener>(ioc, ctx, tls.get());
        tlsPort = secure->Bind(static_cast<unsigned short>(*options->tlsPort), error);
        if (!tlsPort) return Fail(error);
    }
    if (tlsPort) {
        Emit("listening", {{"port", *port}, {"tlsPort", *tlsPort}});
    } else {
        Emit("listening", {{"port", *port}});
    }
    plain->Start();
    if (secure) secure->Start();

    net::signal_set signals(ioc, SIGINT, SIGTERM);
    signals.async_wait([&](boost::system::error_code, int signal) {
        Emit("stopping", {{"signal", signal}, {"open", ctx.open.load()}});
        ioc.stop();
    });

    std::vector<std::thread> threads;
    for (int i = 1; i < options->threads; ++i) threads.emplace_back([&] { ioc.run(); });
    ioc.run();
    for (auto& t : threads) t.join();
    encoders.stop();
    encoders.join();
    return 0;
}
