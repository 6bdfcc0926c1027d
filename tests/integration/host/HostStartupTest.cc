// Start-up of the real service: port probing, certificate failures, crash dumps.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <vector>

#include "ServiceProcess.h"
#include "WsClient.h"

namespace {

namespace fs = std::filesystem;
using platform::net::Family;

// Holds `count` consecutive IPv4 loopback ports from `start` as another program would.
class PortHolder {
 public:
  PortHolder(int start, int count) {
    for (int p = start; p < start + count; ++p) {
      platform::net::SocketHandle s = platform::net::CreateTcpSocket(Family::kIPv4);
      if (platform::net::BindLoopback(s, Family::kIPv4, p) && platform::net::Listen(s, 4)) m_held.push_back(s);
    }
  }
  ~PortHolder() {
    for (auto s : m_held) platform::net::CloseSocket(s);
  }
  std::size_t Held() const { return m_held.size(); }

 private:
  std::vector<platform::net::SocketHandle> m_held;
};

bool Answers(int port, Family family, bool tls) {
  WsClient page;
  if (!page.Connect(family, port, tls) || !page.Upgrade() || !page.SendText(WebConnect("p"))) return false;
  auto reply = page.ReadText();
  return reply && JsonString(*reply, "sequence") == "p";
}

TEST(HostStartup, PortProbing) {
  struct Case {
    const char* name;
    int held;            // ports held from the start
    const char* suffix;  // appended to the port text in config.ini
    int plainOffset;
    int tlsOffset;
  };
  const Case cases[] = {
      {"all free", 0, "", 0, 1},
      {"start held", 1, "", 1, 2},
      {"digits then text", 0, "abc", 0, 1},
  };
  for (const Case& c : cases) {
    int start = FreePortRange(10);
    ASSERT_NE(start, 0);
    PortHolder holder(start, c.held);
    ServiceProcess service(start);
    service.WriteConfig(std::to_string(start) + c.suffix);
    ASSERT_TRUE(service.Start()) << c.name;
    for (Family family : {Family::kIPv4, Family::kIPv6}) {
      EXPECT_TRUE(Answers(start + c.plainOffset, family, false)) << c.name;
      EXPECT_TRUE(Answers(start + c.tlsOffset, family, true)) << c.name;
    }
  }
}

TEST(HostStartup, FailuresEndTheProcessWithTheirLogText) {
  struct Case {
    const char* name;
    std::function<void(ServiceProcess&)> spoil;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {"no certificate", [](ServiceProcess& s) { fs::remove(s.Dir() + "/certificates/server-cert.pem"); },
       {"Server initialization is complete!", "Failure reading SSL certificate file.", "InitSSLServer() failed."}},
      {"no key", [](ServiceProcess& s) { fs::remove(s.Dir() + "/certificates/server-key.pem"); },
       {"Failure reading private key file.", "InitSSLServer() failed."}},
      {"key of another certificate",
       [](ServiceProcess& s) {
         RunCommand("openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out '" + s.Dir() +
                    "/certificates/server-key.pem' 2>/dev/null");
       },
       // OpenSSL 3 refuses a mismatched key of the certificate's own type while loading it.
       {"Failure reading private key file.", "InitSSLServer() failed."}},
      {"key of another type",
       [](ServiceProcess& s) {
         RunCommand("openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out '" + s.Dir() +
                    "/certificates/server-key.pem' 2>/dev/null");
       },
       {"Private key does not match the certificate public key.", "InitSSLServer() failed."}},
      {"all ten ports held",
       [](ServiceProcess&) {},
       {"Bind failed, maybe all 10 ports are occupied.", "m_sock_ssl socket bind failed.", "InitSSLServer() failed."}},
  };
  for (const Case& c : cases) {
    int start = FreePortRange(10);
    ASSERT_NE(start, 0);
    // Nine held: the plain listener takes the tenth and the TLS probe finds none.
    PortHolder holder(start, std::string(c.name) == "all ten ports held" ? 9 : 0);
    ServiceProcess service(start);
    c.spoil(service);
    EXPECT_FALSE(service.Start()) << c.name;
    EXPECT_EQ(service.WaitExit(), 1) << c.name;
    for (const std::string& line : c.lines) {
      EXPECT_TRUE(service.WaitForLine(line, 0)) << c.name << ": " << line;
    }
  }
}

TEST(HostStartup, CrashWritesADump) {
  ServiceProcess service;
  ASSERT_TRUE(service.Start());
  service.Signal("SEGV");
  EXPECT_EQ(service.WaitExit(), 128 + 11);
  std::string dump;
  for (const auto& entry : fs::directory_iterator(service.Dir())) {
    std::string name = entry.path().filename().string();
    if (name.rfind("tmp", 0) == 0 && name.size() > 4 && name.substr(name.size() - 4) == ".dmp") dump = name;
  }
  ASSERT_FALSE(dump.empty());
  EXPECT_EQ(dump.size(), std::string("tmp2025_03_02__09_05_03.dmp").size());
  std::string text = service.ReadFile(dump);
  EXPECT_EQ(text.rfind("signal 11", 0), 0u) << text;
  EXPECT_NE(text.find("backtrace:"), std::string::npos);
}

}  // namespace
