#include "watchdog/RootCertificate.h"

#include <openssl/bio.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>

#include "platform/system/CertificateStore.h"
#include "watchdog/Console.h"

namespace {

constexpr char kPemBegin[] = "-----BEGIN ";
constexpr char kCertificateBegin[] = "-----BEGIN CERTIFICATE-----";
// The label when the subject names none.
constexpr char kDefaultLabel[] = "Nimbrel Local Root CA (loopback)";
// The label of the unconstrained root earlier builds installed.
constexpr char kOldRootLabel[] = "Nimbrel Local Root CA";

const unsigned char kIPv4Loopback[] = {127, 0, 0, 1, 255, 255, 255, 255};
const unsigned char kIPv6Loopback[] = {0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,
                                       0,    0,    0,    0,    1,    0xff, 0xff, 0xff, 0xff, 0xff, 0xff,
                                       0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff};

struct Freer {
  void operator()(X509* x) const { X509_free(x); }
  void operator()(NAME_CONSTRAINTS* n) const { NAME_CONSTRAINTS_free(n); }
};

bool SameBytes(const ASN1_OCTET_STRING* s, const unsigned char* bytes, int length) {
  return ASN1_STRING_length(s) == length && std::memcmp(ASN1_STRING_get0_data(s), bytes, length) == 0;
}

// Which of the three loopback names a permitted subtree is: 0, 1, 2; -1 for anything else.
int LoopbackName(const GENERAL_SUBTREE* subtree) {
  // Bounds other than the defaults are not allowed in certificates; refuse them outright.
  if (subtree->minimum || subtree->maximum) return -1;
  const GENERAL_NAME* base = subtree->base;
  if (base->type == GEN_IPADD) {
    if (SameBytes(base->d.iPAddress, kIPv4Loopback, sizeof kIPv4Loopback)) return 0;
    if (SameBytes(base->d.iPAddress, kIPv6Loopback, sizeof kIPv6Loopback)) return 1;
    return -1;
  }
  if (base->type == GEN_DNS) {
    const ASN1_IA5STRING* dns = base->d.dNSName;
    const char kLocalhost[] = "localhost";
    if (ASN1_STRING_length(dns) == sizeof kLocalhost - 1 &&
        std::memcmp(ASN1_STRING_get0_data(dns), kLocalhost, sizeof kLocalhost - 1) == 0)
      return 2;
  }
  return -1;
}

bool PermitsOnlyLoopback(X509* certificate, std::string& why) {
  int critical = 0;
  std::unique_ptr<NAME_CONSTRAINTS, Freer> constraints(static_cast<NAME_CONSTRAINTS*>(
      X509_get_ext_d2i(certificate, NID_name_constraints, &critical, nullptr)));
  if (!constraints) {
    why = critical == -2 ? "name constraints given twice" : "no name constraints";
    return false;
  }
  if (critical != 1) {
    why = "name constraints not critical";
    return false;
  }
  int count = sk_GENERAL_SUBTREE_num(constraints->permittedSubtrees);
  if (count <= 0) {
    why = "no permitted names";
    return false;
  }
  bool seen[3] = {};
  for (int i = 0; i < count; ++i) {
    int name = LoopbackName(sk_GENERAL_SUBTREE_value(constraints->permittedSubtrees, i));
    if (name < 0 || seen[name]) {
      why = "a permitted name other than 127.0.0.1, ::1 and localhost";
      return false;
    }
    seen[name] = true;
  }
  return true;
}

std::string Label(X509* certificate) {
  char name[256] = {};
  int length = X509_NAME_get_text_by_NID(X509_get_subject_name(certificate), NID_commonName, name, sizeof name);
  if (length <= 0) return kDefaultLabel;
  std::string label(name, static_cast<size_t>(length));
  // A label that reads plainly in the tool's listing.
  for (char& c : label)
    if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7e) c = '?';
  return label;
}

}  // namespace

std::optional<std::string> LoopbackRootLabel(const std::string& pemFile, std::string& why) {
  std::ifstream in(pemFile, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // The certificate tool takes the first certificate block it finds; so the one checked here
  // must be the only block of any kind.
  size_t begin = text.find(kPemBegin);
  if (!in.good() && !in.eof()) {
    why = "unreadable";
    return std::nullopt;
  }
  if (begin == std::string::npos || text.compare(begin, sizeof kCertificateBegin - 1, kCertificateBegin) != 0 ||
      text.find(kPemBegin, begin + 1) != std::string::npos) {
    why = "not exactly one PEM certificate";
    return std::nullopt;
  }
  BIO* bio = BIO_new_mem_buf(text.data(), static_cast<int>(text.size()));
  if (!bio) {
    why = "out of memory";
    return std::nullopt;
  }
  std::unique_ptr<X509, Freer> certificate(PEM_read_bio_X509(bio, nullptr, nullptr, nullptr));
  BIO_free(bio);
  if (!certificate) {
    why = "not a certificate";
    return std::nullopt;
  }
  uint32_t flags = X509_get_extension_flags(certificate.get());
  if (flags & EXFLAG_INVALID) {
    why = "malformed extensions";
    return std::nullopt;
  }
  if (!(flags & EXFLAG_CA)) {
    why = "not a CA";
    return std::nullopt;
  }
  if (!PermitsOnlyLoopback(certificate.get(), why)) return std::nullopt;
  return Label(certificate.get());
}

void RootTrust::Start(const std::string& pemFile) {
  platform::system::RemoveRootCertificate(kOldRootLabel);
  std::string why;
  m_pemFile = pemFile;
  m_label = LoopbackRootLabel(pemFile, why);
  if (!m_label) {
    DebugOutput(("Root certificate " + pemFile + " not installed: " + why + "\n").c_str());
    return;
  }
  TrustIn(platform::system::RootCertificateStores());
}

void RootTrust::CheckOnce() {
  if (!m_label) return;
  std::vector<std::string> fresh;
  for (const auto& store : platform::system::RootCertificateStores())
    if (!m_known.count(store)) fresh.push_back(store);
  if (!fresh.empty()) TrustIn(fresh);
}

void RootTrust::TrustIn(const std::vector<std::string>& stores) {
  // A store whose tool could not be started is tried again at the next look.
  if (platform::system::StartRootCertificateInstall(m_pemFile, *m_label, stores))
    m_known.insert(stores.begin(), stores.end());
}
