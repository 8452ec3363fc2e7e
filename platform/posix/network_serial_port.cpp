// The RFC 2217 client through libgensio: a telnet(rfc2217),tcp gensio (with
// a listening layer of its own below telnet, see Tap) used asynchronously, every wait a bounded wait on one gensio waiter (which runs
// the library's event loop meanwhile). The library's own blocking calls wait
// without bound or with bounds of their own of several seconds, and a
// request they give up on may still be answered later into a stack frame
// that is gone; so each request here has its own record, kept as long as the
// connection.
#include "platform/posix/network_serial_port.h"

#include <gensio/gensio.h>
#include <gensio/gensio_os_funcs_public.h>
#include <gensio/sergensio.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <arpa/inet.h>
#include <netdb.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <deque>
#include <fstream>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "core/cp866_literal.h"

// The library's headers for layers of one's own are C only: no C linkage
// said, and a parameter named "typename".
extern "C" {
#define typename type_name  // NOLINT(clang-diagnostic-keyword-macro)
#include <gensio/gensio_base.h>
#include <gensio/gensio_ll_gensio.h>
#undef typename
}

namespace tv {

namespace {

using Steady = std::chrono::steady_clock;
using Millis = std::chrono::milliseconds;

// Received bytes not yet read are kept up to this; beyond it the library
// stops reading the connection until the tool has caught up.
constexpr std::size_t kReceiveCap = std::size_t{64} * 1024;
// An address file is a line, not a document.
constexpr std::size_t kAddressFileMax = 4096;

std::string LocalEntry(int portIndex) { return "./" + PortDeviceName(portIndex); }

// The library reports its troubles through this; the screen belongs to the
// tool, and the outcome of every call is looked at anyway. What it said last
// is kept: a failed TLS handshake has its reason only there ("tlsv13 alert
// certificate required", "wrong version number").
std::mutex libraryLogMutex;
std::string libraryLog;  // since the last TakeLibraryLog

void QuietLog(gensio_os_funcs*, gensio_log_levels, const char* format, va_list args) {
  char line[512];
  std::vsnprintf(line, sizeof line, format, args);
  const std::lock_guard<std::mutex> lock(libraryLogMutex);
  if (libraryLog.size() < 4096) libraryLog.append(line).append("\n");
}

std::string TakeLibraryLog() {
  const std::lock_guard<std::mutex> lock(libraryLogMutex);
  return std::exchange(libraryLog, std::string());
}

gensio_os_funcs* Os() {
  static gensio_os_funcs* os = [] {
    gensio_os_funcs* o = nullptr;
    // One thread: no wake-up signal is needed.
    if (gensio_default_os_hnd(0, &o) != 0) return static_cast<gensio_os_funcs*>(nullptr);
    gensio_os_funcs_set_vlog(o, QuietLog);
    return o;
  }();
  return os;
}

gensio_time ToGensioTime(Steady::duration d) {
  if (d < Steady::duration::zero()) d = Steady::duration::zero();
  const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(d).count();
  return gensio_time{ns / 1000000000, static_cast<int32_t>(ns % 1000000000)};
}

bool ValidHost(std::string_view host) {
  if (host.empty() || host.size() > 253) return false;
  return std::all_of(host.begin(), host.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '_' || c == ':';
  });
}

bool ValidPort(std::string_view port) {
  if (port.empty() || port.size() > 5) return false;
  long n = 0;
  for (char c : port) {
    if (c < '0' || c > '9') return false;
    n = n * 10 + (c - '0');
  }
  return n >= 1 && n <= 65535;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
  if (s.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(s[i])) != prefix[i]) return false;
  return true;
}

// rfc2217://host:port, rfc2217://[v6]:port; rfc2217s:// the same over TLS.
std::optional<NetworkAddress> ParseUrl(std::string_view line) {
  const bool tls = StartsWithNoCase(line, "rfc2217s://");
  std::string_view rest = line.substr(std::string_view(tls ? "rfc2217s://" : "rfc2217://").size());
  std::string_view host;
  if (!rest.empty() && rest.front() == '[') {
    const std::size_t close = rest.find(']');
    if (close == std::string_view::npos || close + 1 >= rest.size() || rest[close + 1] != ':') return {};
    host = rest.substr(1, close - 1);
    rest.remove_prefix(close + 2);
    if (host.find(':') == std::string_view::npos) return {};
  } else {
    const std::size_t colon = rest.find(':');
    if (colon == std::string_view::npos) return {};
    host = rest.substr(0, colon);
    rest.remove_prefix(colon + 1);
    if (host.find(':') != std::string_view::npos) return {};
  }
  if (!ValidHost(host) || !ValidPort(rest)) return {};
  NetworkAddress a;
  a.host = std::string(host);
  a.port = std::string(rest);
  a.text = std::string(line);
  a.tls = tls;
  return a;
}

// A file named for TLS: a path, never empty, nothing the library's own
// option syntax would read as more than a path.
bool ValidFileName(std::string_view name) {
  return !name.empty() && name.size() <= 1024 && std::none_of(name.begin(), name.end(), [](char c) {
    return static_cast<unsigned char>(c) < 0x20 || c == 0x7F || c == ',' || c == '(' || c == ')' ||
           c == '"' || c == '\'' || c == '\\';
  });
}

// A user name for the certificate login: what ser2net takes as a directory
// name under its authdir.
bool ValidUserName(std::string_view name) {
  return !name.empty() && name.size() <= 64 && std::all_of(name.begin(), name.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '_' || c == '-' || c == '@';
  });
}

// One "ca=", "cert=", "key=" (the library's "CA=" too) or "user=" into the
// address; false for another name, an unusable value or a name given twice.
// user= only on a line of its own (fileLine).
bool TakeFileOption(std::string_view option, NetworkAddress& a, bool fileLine) {
  const std::size_t eq = option.find('=');
  if (eq == std::string_view::npos) return false;
  std::string name(Trim(option.substr(0, eq)));
  for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const std::string_view value = Trim(option.substr(eq + 1));
  if (name == "user" && fileLine) {
    if (!a.user.empty() || !ValidUserName(value)) return false;
    a.user = std::string(value);
    return true;
  }
  std::string* slot = name == "ca" ? &a.ca : name == "cert" ? &a.cert : name == "key" ? &a.key : nullptr;
  if (!slot || !slot->empty() || !ValidFileName(value)) return false;
  *slot = std::string(value);
  return true;
}

// Whether a line of the address file names a TLS file (or the user of the
// certificate login) rather than an address.
bool IsFileOptionLine(std::string_view line) {
  const std::size_t eq = line.find('=');
  if (eq == std::string_view::npos) return false;
  std::string name(Trim(line.substr(0, eq)));
  for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return name == "ca" || name == "cert" || name == "key" || name == "user";
}

// telnet(rfc2217),tcp,host,port and telnet(rfc2217),ssl[(CA=..,cert=..,
// key=..)],tcp,host,port: the library's own forms. Only these: the library
// opens much else from a string (a program's standard input and output
// among them), and a file in the working directory is no place to choose
// that.
std::optional<NetworkAddress> ParseLibraryForm(std::string_view line) {
  static constexpr std::string_view kTelnet = "telnet(rfc2217),";
  std::string_view rest = line.substr(kTelnet.size());
  NetworkAddress a;
  if (rest.rfind("ssl,", 0) == 0) {
    a.tls = true;
    rest.remove_prefix(4);
  } else if (rest.rfind("ssl(", 0) == 0) {
    a.tls = true;
    const std::size_t close = rest.find(')');
    if (close == std::string_view::npos || close + 1 >= rest.size() || rest[close + 1] != ',') return {};
    std::string_view options = rest.substr(4, close - 4);
    rest.remove_prefix(close + 2);
    while (!options.empty()) {
      const std::size_t comma = options.find(',');
      if (!TakeFileOption(options.substr(0, comma), a, false)) return {};
      options.remove_prefix(comma == std::string_view::npos ? options.size() : comma + 1);
    }
  }
  if (rest.rfind("tcp,", 0) != 0) return {};
  rest.remove_prefix(4);
  const std::size_t comma = rest.rfind(',');
  if (comma == std::string_view::npos) return {};
  const std::string_view host = rest.substr(0, comma);
  const std::string_view port = rest.substr(comma + 1);
  if (!ValidHost(host) || !ValidPort(port)) return {};
  a.host = std::string(host);
  a.port = std::string(port);
  a.text = std::string(line);
  return a;
}

// --- name lookup, bounded ---------------------------------------------------

struct Lookup {
  std::mutex mutex;
  std::condition_variable done;
  bool finished = false;
  int rc = 0;
  std::string targets;  // "ipv4,192.0.2.7,4001,ipv6,2001:db8::7,4001"
};

void RunLookup(Lookup& lookup, const std::string& host, const std::string& port, int flags) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = flags;
  addrinfo* found = nullptr;
  const int rc = getaddrinfo(host.c_str(), port.c_str(), &hints, &found);
  std::string targets;
  if (rc == 0) {
    for (const addrinfo* a = found; a; a = a->ai_next) {
      if (a->ai_family != AF_INET && a->ai_family != AF_INET6) continue;
      char text[NI_MAXHOST];
      if (getnameinfo(a->ai_addr, a->ai_addrlen, text, sizeof text, nullptr, 0, NI_NUMERICHOST) != 0)
        continue;
      const std::string one = std::string(a->ai_family == AF_INET ? "ipv4," : "ipv6,") + text + "," + port;
      if (("," + targets + ",").find("," + one + ",") != std::string::npos) continue;
      if (!targets.empty()) targets += ',';
      targets += one;
    }
    freeaddrinfo(found);
  }
  std::lock_guard<std::mutex> lock(lookup.mutex);
  lookup.rc = rc;
  lookup.targets = std::move(targets);
  lookup.finished = true;
  lookup.done.notify_all();
}

// The addresses of host in the library's form, "" when the name is not
// known or the lookup did not end by the deadline (a lookup may wait on a
// name server for much longer; it is left to finish on its own).
std::string Resolve(const std::string& host, const std::string& port, Steady::time_point deadline,
                    bool& timedOut) {
  timedOut = false;
  {
    Lookup numeric;  // an address needs no name server
    RunLookup(numeric, host, port, AI_NUMERICHOST | AI_NUMERICSERV);
    if (numeric.rc == 0) return numeric.targets;
  }
  auto lookup = std::make_shared<Lookup>();
  std::thread([lookup, host, port] { RunLookup(*lookup, host, port, AI_NUMERICSERV); }).detach();
  std::unique_lock<std::mutex> lock(lookup->mutex);
  if (!lookup->done.wait_until(lock, deadline, [&] { return lookup->finished; })) {
    timedOut = true;
    return {};
  }
  return lookup->rc == 0 ? lookup->targets : std::string();
}

// The library writes to its socket without MSG_NOSIGNAL: a write into a
// connection the far end has closed would raise SIGPIPE and end the tool
// there and then. While the library runs, SIGPIPE is held back, and one that
// came meanwhile is taken and dropped; the failed write is seen as the
// connection lost. (Ignoring the signal for the whole process instead would
// pass the ignoring on to the programs the tool starts.)
class HoldBrokenPipe {
 public:
  HoldBrokenPipe() {
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, &old_);
    sigset_t pending;
    sigpending(&pending);
    wasPending_ = sigismember(&pending, SIGPIPE) == 1;
  }
  ~HoldBrokenPipe() {
    sigset_t pending;
    sigpending(&pending);
    if (!wasPending_ && sigismember(&pending, SIGPIPE) == 1) {
      sigset_t pipe;
      sigemptyset(&pipe);
      sigaddset(&pipe, SIGPIPE);
      const timespec now{0, 0};
      sigtimedwait(&pipe, nullptr, &now);
    }
    pthread_sigmask(SIG_SETMASK, &old_, nullptr);
  }
  HoldBrokenPipe(const HoldBrokenPipe&) = delete;
  HoldBrokenPipe& operator=(const HoldBrokenPipe&) = delete;

 private:
  sigset_t old_{};
  bool wasPending_ = false;
};

constexpr const char* kWhyRefused = "отказ в соединении"_cp;
constexpr const char* kWhySilent = "нет ответа"_cp;
constexpr const char* kWhyUnknownName = "имя не найдено"_cp;
constexpr const char* kWhyClosed = "соединение закрыто"_cp;
constexpr const char* kWhyRefusedSettings = "настройки не приняты"_cp;
constexpr const char* kWhyNoConnection = "нет соединения"_cp;
constexpr const char* kWhyNoComPort = "нет ответа по RFC 2217"_cp;
constexpr const char* kWhyLineBusy = "линия занята другим клиентом"_cp;
constexpr const char* kWhyLinesUnconfirmed = "линии DTR/RTS не подтверждены"_cp;
constexpr const char* kWhyLineLost = "линия связи потеряна"_cp;
// TLS. The device row has room for about 50 characters; the reasons fit it
// whole.
constexpr const char* kWhyServerCert = "сертификат сервера не подтверждён: "_cp;
constexpr const char* kCertExpired = "истёк срок"_cp;
constexpr const char* kCertNotYetValid = "срок не начался"_cp;
constexpr const char* kCertUnknownIssuer = "неизвестный УЦ"_cp;
constexpr const char* kCertRevoked = "отозван"_cp;
constexpr const char* kCertMissing = "нет сертификата"_cp;
constexpr const char* kCertWrongHost = "чужое имя узла"_cp;
constexpr const char* kCertInvalid = "неверный"_cp;
constexpr const char* kWhyNoTls = "сервер не отвечает по TLS"_cp;
constexpr const char* kWhyWantsTls = "сервер ждёт TLS: нужен rfc2217s://"_cp;
constexpr const char* kWhyClientCertWanted = "сервер требует сертификат клиента"_cp;
constexpr const char* kWhyClientCertRefused = "сертификат клиента не принят"_cp;
constexpr const char* kWhyKeyOpen = "ключ доступен другим: нужен chmod 600"_cp;
constexpr const char* kWhyKeyMismatch = "ключ не подходит к сертификату"_cp;
constexpr const char* kWhyNoTlsLibrary = "TLS недоступен"_cp;

// What a server that already serves another client says before it closes
// the new connection: ser2net's "Port already in use" (its connection is
// taken) and "Port's device already in use" (another of its connections
// holds the device).
constexpr std::string_view kBusyBanner = "already in use";
constexpr int kClosedAtOnceRetries = 2;
constexpr Millis kFirstWordsBound{1000};
// A server certificate longer than this is not taken.
constexpr gensiods kCertificateMax = gensiods{1024} * 1024;
// A TLS hello to a server that did not speak telnet, at least this long
// even when the open's own bound has run out.
constexpr Millis kTlsProbeBound{1000};

// The certificate's fault in the operator's words, from the library's code
// and the verifier's own text.
std::string CertificateFault(int err, std::string_view why) {
  if (why.find("not yet valid") != std::string_view::npos) return kCertNotYetValid;
  if (err == GE_CERTEXPIRED || why.find("expired") != std::string_view::npos) return kCertExpired;
  if (err == GE_CERTREVOKED) return kCertRevoked;
  if (err == GE_NOCERT) return kCertMissing;
  if (err == GE_CERTNOTFOUND || why.find("issuer") != std::string_view::npos ||
      why.find("self-signed") != std::string_view::npos || why.find("self signed") != std::string_view::npos)
    return kCertUnknownIssuer;
  return kCertInvalid;
}

// Whether the certificate (PEM) names the host: its IP address when the
// host is one, else its DNS name (wildcards as browsers take them).
bool CertificateNames(const std::string& pem, const std::string& host) {
  BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
  if (!bio) return false;
  X509* cert = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr);
  BIO_free(bio);
  if (!cert) return false;
  in6_addr any{};
  const bool numeric = inet_pton(AF_INET, host.c_str(), &any) == 1 || inet_pton(AF_INET6, host.c_str(), &any) == 1;
  const bool named = numeric ? X509_check_ip_asc(cert, host.c_str(), 0) == 1
                             : X509_check_host(cert, host.data(), host.size(), X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS,
                                               nullptr) == 1;
  X509_free(cert);
  return named;
}

// What a client's certificate and key files hold, as far as the TLS
// handshake is concerned.
enum class KeyPair { Fits, NoCertificate, NoKey, Mismatch };

// Whether the key (PEM) is the one the certificate (PEM, the first of a
// chain) was issued for. Either may be one file holding both. A key under a
// pass phrase counts as no key: the tool has no way to ask for one.
KeyPair CheckKeyPair(std::string_view certPem, std::string_view keyPem) {
  const auto bio = [](std::string_view pem) { return BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())); };
  BIO* certBio = bio(certPem);
  X509* cert = certBio ? PEM_read_bio_X509(certBio, nullptr, nullptr, nullptr) : nullptr;
  BIO_free(certBio);
  BIO* keyBio = bio(keyPem);
  const auto noPassPhrase = [](char*, int, int, void*) { return -1; };
  EVP_PKEY* key = keyBio ? PEM_read_bio_PrivateKey(keyBio, nullptr, noPassPhrase, nullptr) : nullptr;
  BIO_free(keyBio);
  const KeyPair fit = !cert                                 ? KeyPair::NoCertificate
                      : !key                                ? KeyPair::NoKey
                      : X509_check_private_key(cert, key) == 1 ? KeyPair::Fits
                                                            : KeyPair::Mismatch;
  X509_free(cert);
  EVP_PKEY_free(key);
  ERR_clear_error();  // the TLS layer reads this thread's error queue for its own failures
  return fit;
}

// A file's text, up to `max` bytes; nullopt when it cannot be read or is longer.
std::optional<std::string> ReadSmallFile(const std::string& path, std::size_t max) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  std::string text(max + 1, '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<std::size_t>(in.gcount()));
  if (text.size() > max) return {};
  return text;
}

// A value for the library's option syntax, whatever bytes the path holds.
std::string Quoted(const std::string& value) {
  std::string q = "\"";
  for (char c : value) {
    if (c == '"' || c == '\\') q += '\\';
    q += c;
  }
  return q + "\"";
}

}  // namespace

// --- the connection -------------------------------------------------------------

// One request to the server and its answer. Kept until the connection goes,
// so that an answer that comes after the wait was given up lands here.
struct Request {
  struct NetworkSerialPort::Link* link = nullptr;
  bool answered = false;
  int err = 0;
  unsigned value = 0;
};

struct NetworkSerialPort::Link {
  gensio_os_funcs* os = nullptr;
  gensio_waiter* waiter = nullptr;
  gensio* io = nullptr;
  sergensio* serial = nullptr;
  bool openDone = false;
  int openErr = 0;
  bool closeDone = false;
  bool lost = false;
  bool writeReady = false;
  bool readPaused = false;
  bool linesUnanswered = false;  // the server does not answer DTR/RTS requests
  // TLS: the host the server's certificate must name, and what became of
  // the certificate.
  std::string host;
  int tlsDepth = 2;  // the TLS layer's place below telnet and the tap (and the certificate login)
  bool certSeen = false;  // the server presented one, checked or not
  bool certOk = false;
  std::string certWhy;  // why it was not accepted (cp866), "" while it was not refused
  Steady::duration lineAnswerBound = LineAnswerBoundMax;
  std::deque<uint8_t> received;
  // The first bytes the server sent, as they came below the telnet layer
  // (see Tap).
  std::string heard;
  std::size_t heardAhead = 0;  // of those, bytes the layer above has not taken yet
  std::vector<std::unique_ptr<Request>> requests;

  Link() : os(Os()), waiter(os ? gensio_os_funcs_alloc_waiter(os) : nullptr) {}
  ~Link() {
    if (waiter) gensio_os_funcs_free_waiter(os, waiter);
  }

  void Wake() { gensio_os_funcs_wake(os, waiter); }

  // Runs the library's events until done() holds or the deadline passes.
  template <typename Done>
  bool WaitUntil(Steady::time_point deadline, Done done) {
    while (!done()) {
      const auto left = deadline - Steady::now();
      if (left <= Steady::duration::zero()) return false;
      gensio_time t = ToGensioTime(left);
      gensio_os_funcs_wait(os, waiter, 1, &t);
    }
    return true;
  }

  Request* NewRequest() {
    requests.push_back(std::make_unique<Request>());
    requests.back()->link = this;
    return requests.back().get();
  }

  // The library has checked the chain against the CA (err, and its
  // reason); the name is checked here, which the library leaves to its user.
  // GE_NOTSUP leaves the outcome to the library: refused when err is set.
  int CheckServerCertificate(gensio* self, int err, std::string_view why) {
    certSeen = true;
    if (err != 0) {
      certWhy = CertificateFault(err, why);
      return GE_NOTSUP;
    }
    // The library says how long the certificate is when the room given was
    // too small: asked again with that room.
    std::string pem(8192, '\0');
    for (int attempt = 0;; ++attempt) {
      gensiods length = pem.size();
      if (gensio_control(self, tlsDepth, GENSIO_CONTROL_GET, GENSIO_CONTROL_CERT, pem.data(), &length) != 0 ||
          (length >= pem.size() && (attempt > 0 || length > kCertificateMax))) {
        certWhy = kCertMissing;
        return GE_NOCERT;
      }
      if (length < pem.size()) {
        pem.resize(length);
        break;
      }
      pem.assign(length + 1, '\0');
    }
    if (!CertificateNames(pem, host)) {
      certWhy = kCertWrongHost;
      return GE_CERTINVALID;
    }
    certOk = true;
    return GE_NOTSUP;
  }

  static int Event(gensio* self, void* data, int event, int err, unsigned char* buf, gensiods* buflen,
                   const char* const* auxdata) {
    Link& link = *static_cast<Link*>(data);
    switch (event) {
      case GENSIO_EVENT_READ:
        if (err != 0) {
          link.lost = true;  // the far end closed, or the connection broke
        } else if (buf && buflen) {
          link.received.insert(link.received.end(), buf, buf + *buflen);
          if (link.received.size() >= kReceiveCap && !link.readPaused) {
            link.readPaused = true;
            gensio_set_read_callback_enable(link.io, false);
          }
        }
        link.Wake();
        return 0;
      case GENSIO_EVENT_WRITE_READY:
        gensio_set_write_callback_enable(link.io, false);
        link.writeReady = true;
        link.Wake();
        return 0;
      case GENSIO_EVENT_POSTCERT_VERIFY:
        return link.CheckServerCertificate(self, err, auxdata && auxdata[0] ? auxdata[0] : "");
      default: return GE_NOTSUP;  // modem and line state reports: not used
    }
  }

  static void OpenDone(gensio*, int err, void* data) {
    Link& link = *static_cast<Link*>(data);
    link.openDone = true;
    link.openErr = err;
    link.Wake();
  }

  static void CloseDone(gensio*, void* data) {
    Link& link = *static_cast<Link*>(data);
    link.closeDone = true;
    link.Wake();
  }

  static void Answered(sergensio*, int err, unsigned value, void* data) {
    Request& r = *static_cast<Request*>(data);
    r.answered = true;
    r.err = err;
    r.value = value;
    r.link->Wake();
  }
};

namespace {

// Closes and frees the connection. A close the library does not finish in
// time leaves the record behind (a late callback may still use it).
void DropLink(std::unique_ptr<NetworkSerialPort::Link> link) {
  if (!link) return;
  if (link->io) {
    if (gensio_close(link->io, NetworkSerialPort::Link::CloseDone, link.get()) == 0) {
      const auto deadline = Steady::now() + NetworkSerialPort::CloseBound;
      if (!link->WaitUntil(deadline, [&] { return link->closeDone; })) {
        gensio_free(link->io);
        (void)link.release();
        return;
      }
    }
    gensio_free(link->io);
  }
}

// The telnet layer keeps what the server sends until its negotiation is
// done, and drops it when the server closes first: ser2net's "Port already
// in use" comes right after its first option offers, with the close behind
// it. A layer of its own between telnet and the connection passes every
// byte on and keeps the first ones heard.
constexpr std::size_t kHeardMax = 1024;

int Tap(gensio_filter* filter, int op, void* func, void* data, gensiods* count, void* buf, const void* cbuf,
        gensiods buflen, const char* const* auxdata) {
  NetworkSerialPort::Link& link = *static_cast<NetworkSerialPort::Link*>(gensio_filter_get_user_data(filter));
  gensiods taken = 0;
  int err = 0;
  switch (op) {
    case GENSIO_FILTER_FUNC_UL_WRITE_SG:
      err = reinterpret_cast<gensio_ul_filter_data_handler>(func)(data, &taken, static_cast<const gensio_sg*>(cbuf),
                                                                   buflen, auxdata);
      break;
    case GENSIO_FILTER_FUNC_LL_WRITE: {
      auto* bytes = static_cast<unsigned char*>(buf);
      err = reinterpret_cast<gensio_ll_filter_data_handler>(func)(data, &taken, bytes, buflen, auxdata);
      // Heard as it comes, whether the layer above takes it now, later (it
      // comes again then: from what was not taken) or never (the close
      // overtook it).
      const std::size_t already = std::min<std::size_t>(link.heardAhead, buflen);
      const std::size_t room = kHeardMax - std::min(kHeardMax, link.heard.size());
      link.heard.append(reinterpret_cast<const char*>(bytes) + already, std::min<std::size_t>(buflen - already, room));
      link.heardAhead = err ? 0 : buflen - std::min<std::size_t>(taken, buflen);
      break;
    }
    case GENSIO_FILTER_FUNC_FREE: gensio_filter_free_data(filter); return 0;
    case GENSIO_FILTER_FUNC_UL_READ_PENDING:
    case GENSIO_FILTER_FUNC_LL_WRITE_PENDING:
    case GENSIO_FILTER_FUNC_LL_READ_NEEDED:  // false: nothing is held here
    case GENSIO_FILTER_FUNC_CHECK_OPEN_DONE:
    case GENSIO_FILTER_FUNC_TRY_CONNECT:
    case GENSIO_FILTER_FUNC_TRY_DISCONNECT:
    case GENSIO_FILTER_FUNC_SETUP:
    case GENSIO_FILTER_FUNC_CLEANUP: return 0;
    default: return GE_NOTSUP;
  }
  if (err == 0 && count) *count = taken;
  return err;
}

// The connection's layers into link.io: telnet, the tap, then those given
// ("ssl(...),tcp,..." or "tcp,..."). 0, or the library's error.
int BuildLayers(NetworkSerialPort::Link& link, const std::string& below) {
  gensio* lower = nullptr;
  if (const int err = str_to_gensio(below.c_str(), link.os, nullptr, nullptr, &lower); err != 0) return err;
  gensio_filter* filter = gensio_filter_alloc_data(link.os, Tap, &link);
  gensio_ll* ll = filter ? gensio_gensio_ll_alloc(link.os, lower) : nullptr;
  if (!ll) {
    if (filter) gensio_filter_free(filter);
    gensio_free(lower);
    return GE_NOMEM;
  }
  gensio* tap = base_gensio_alloc(link.os, ll, filter, lower, "tap", nullptr, nullptr);
  if (!tap) {
    gensio_filter_free(filter);
    gensio_ll_free(ll);  // the layers below go with it
    return GE_NOMEM;
  }
  if (const int err =
          str_to_gensio_child(tap, "telnet(rfc2217)", link.os, NetworkSerialPort::Link::Event, &link, &link.io);
      err != 0) {
    link.io = nullptr;
    gensio_free(tap);
    return err;
  }
  return 0;
}

// What the server at the first of the targets ("ipv4,192.0.2.7,4001,...")
// sends on a plain TCP connection until it closes it, or until the deadline.
std::string FirstWordsOf(const std::string& targets, Steady::time_point deadline) {
  const std::size_t a = targets.find(','), b = targets.find(',', a + 1);
  if (a == std::string::npos || b == std::string::npos) return {};
  const std::size_t c = targets.find(',', b + 1);
  const std::string host = targets.substr(a + 1, b - a - 1);
  const std::string port = targets.substr(b + 1, c == std::string::npos ? std::string::npos : c - b - 1);
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  if (getaddrinfo(host.c_str(), port.c_str(), &hints, &found) != 0) return {};
  std::string words;
  const int fd = socket(found->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd >= 0 && (connect(fd, found->ai_addr, found->ai_addrlen) == 0 || errno == EINPROGRESS)) {
    for (;;) {
      const auto left = std::chrono::ceil<Millis>(deadline - Steady::now()).count();
      if (left <= 0 || words.size() > 512) break;
      pollfd p{fd, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(left)) <= 0) break;
      char buf[256];
      const ssize_t n = recv(fd, buf, sizeof buf, 0);
      if (n <= 0) break;  // closed (or reset): all has been said
      words.append(buf, static_cast<std::size_t>(n));
    }
  }
  if (fd >= 0) close(fd);
  freeaddrinfo(found);
  return words;
}

// Whether the server said, before it closed, that the line is held.
bool SaysLineBusy(const NetworkSerialPort::Link& link) {
  return link.heard.find(kBusyBanner) != std::string::npos;
}

// The data the server sends before a close it has already decided on, taken
// in without waiting beyond a short bound: a connection closed at once is
// either refused for another client (the banner says so) or dropped.
void TakeInClosingWords(NetworkSerialPort::Link& link) {
  gensio_set_read_callback_enable(link.io, true);
  link.WaitUntil(Steady::now() + Millis(200), [&] { return link.lost; });
}

}  // namespace

std::optional<NetworkAddress> ParseAddressFile(std::string_view text) {
  if (text.size() >= 3 && text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);  // a BOM
  std::optional<std::string_view> only;
  std::vector<std::string_view> fileLines;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    const std::string_view line = Trim(text.substr(0, end));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (line.empty() || line.front() == '#') continue;
    if (IsFileOptionLine(line)) {
      fileLines.push_back(line);
      continue;
    }
    if (only) return {};  // more than one address
    only = line;
  }
  if (!only) return {};
  std::optional<NetworkAddress> a;
  if (StartsWithNoCase(*only, "rfc2217://") || StartsWithNoCase(*only, "rfc2217s://"))
    a = ParseUrl(*only);
  else if (only->rfind("telnet(rfc2217),", 0) == 0)
    a = ParseLibraryForm(*only);
  if (!a) return {};
  // Files for TLS beside a plain address: the operator meant TLS, and a
  // clear-text connection is not what the file asks for.
  if (!fileLines.empty() && !a->tls) return {};
  for (std::string_view line : fileLines)
    if (!TakeFileOption(line, *a, true)) return {};
  if (!a->cert.empty() && a->key.empty()) return {};  // a certificate is no use without its key
  if (!a->user.empty() && a->key.empty()) return {};   // the login is by the certificate
  return a;
}

bool IsLoopbackHost(std::string_view host) {
  std::string lower(host);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (lower == "localhost" || lower == "::1" || lower == "0:0:0:0:0:0:0:1") return true;
  in_addr v4{};
  return inet_pton(AF_INET, lower.c_str(), &v4) == 1 && (ntohl(v4.s_addr) >> 24) == 127;
}

bool IsAddressFile(int portIndex) {
  if (portIndex < 0 || portIndex >= PortCount) return false;
  struct stat st {};
  return stat(LocalEntry(portIndex).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

namespace {

// The file's text, or nullopt when it cannot be read or is too long for
// an address file.
std::optional<std::string> ReadAddressFile(int portIndex) {
  return ReadSmallFile(LocalEntry(portIndex), kAddressFileMax);
}

// The directory of the address file itself (where a link to it points):
// the TLS files it names are taken from there.
std::string AddressFileDir(int portIndex) {
  char* real = realpath(LocalEntry(portIndex).c_str(), nullptr);
  if (!real) return {};
  std::string path(real);
  free(real);
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : slash == 0 ? std::string("/") : path.substr(0, slash);
}

}  // namespace

NetworkSerialPort::NetworkSerialPort() = default;

NetworkSerialPort::~NetworkSerialPort() { Close(); }

void NetworkSerialPort::Close() {
  const HoldBrokenPipe hold;
  DropLink(std::move(link_));
}

bool NetworkSerialPort::IsOpen() const { return link_ != nullptr; }

bool NetworkSerialPort::Lost() const { return link_ && link_->lost; }

bool NetworkSerialPort::CheckHungUp() {
  if (!link_ || link_->lost) return Lost();
  const HoldBrokenPipe hold;
  // A close by the server (restarted, or its host gone) waits in the socket
  // until the library's events run; run them once, without waiting.
  for (int round = 0; round < 4 && !link_->lost; ++round) {
    gensio_time now{0, 0};
    gensio_os_funcs_service(link_->os, &now);
  }
  return link_->lost;
}

bool NetworkSerialPort::LinesUnconfirmed() const { return link_ && link_->linesUnanswered; }

bool NetworkSerialPort::Unencrypted() const {
  return link_ && !address_.tls && !IsLoopbackHost(address_.host);
}

int NetworkSerialPort::Open(int portIndex) {
  Close();
  failedPort_ = portIndex;
  openPort_ = -1;
  failedWhy_.clear();
  const std::optional<std::string> text = ReadAddressFile(portIndex);
  std::optional<NetworkAddress> address = text ? ParseAddressFile(*text) : std::nullopt;
  if (!address) return xerr::PortBusy;  // the device row says what is wrong
  address->baseDir = AddressFileDir(portIndex);
  const int rc = OpenAddress(*address);
  if (rc == 0) {
    failedPort_ = -1;
    openPort_ = portIndex;
  }
  return rc;
}

int NetworkSerialPort::OpenAddress(const NetworkAddress& address) {
  Close();
  const HoldBrokenPipe hold;
  failedWhy_.clear();
  address_ = address;
  const auto deadline = Steady::now() + OpenBound;
  layers_.clear();
  if (address.tls) {
    std::string ca, cert, key;
    if (!TakeTlsFiles(address, ca, cert, key)) return xerr::PortBusy;
    const std::string certAndKey = cert.empty() ? std::string() : "cert=" + Quoted(cert) + ",key=" + Quoted(key);
    // With a user, the certificate logs in on the library's certificate
    // login over TLS (ser2net's certauth), else TLS itself shows it.
    layers_ = address.user.empty()
                  ? "ssl(CA=" + Quoted(ca) + (certAndKey.empty() ? "" : "," + certAndKey) + "),"
                  : "certauth(username=" + Quoted(address.user) + "," + certAndKey + "),ssl(CA=" + Quoted(ca) + "),";
  }
  bool timedOut = false;
  const std::string targets = Resolve(address.host, address.port, deadline, timedOut);
  if (targets.empty()) {
    failedWhy_ = timedOut ? kWhySilent : kWhyUnknownName;
    return xerr::PortBusy;
  }
  // A server that takes the connection and closes it at once has said why
  // in its first bytes ("Port already in use"), heard below the telnet layer
  // (see Tap). One that closed without a word may have let the line go
  // meanwhile, or say it only to a plain connection, which such a server
  // closes as quickly: that is listened to once, and the connection tried
  // once more. (Over TLS a plain connection hears nothing.)
  int rc = 0;
  for (int attempt = 0;; ++attempt) {
    rc = Connect(targets, deadline);
    if (rc == 0) return rc;
    // A plain address to a TLS server: the server waited for a handshake
    // and the library for telnet; one TLS hello tells.
    if (!address.tls && reached_ &&
        (failedWhy_ == kWhyNoComPort || failedWhy_ == kWhyClosed || failedWhy_ == kWhySilent) &&
        ServerWantsTls(targets, std::max(deadline, Steady::now() + kTlsProbeBound))) {
      failedWhy_ = kWhyWantsTls;
      return rc;
    }
    if (failedWhy_ != kWhyClosed || attempt >= kClosedAtOnceRetries || Steady::now() >= deadline) return rc;
    if (!address.tls && FirstWordsOf(targets, std::min(deadline, Steady::now() + kFirstWordsBound))
                                .find(kBusyBanner) != std::string::npos) {
      failedWhy_ = kWhyLineBusy;
      return rc;
    }
  }
}

bool NetworkSerialPort::TakeTlsFiles(const NetworkAddress& address, std::string& ca, std::string& cert,
                                     std::string& key) {
  const auto resolved = [&](const std::string& name) {
    return name.empty() || name.front() == '/' || address.baseDir.empty() ? name : address.baseDir + "/" + name;
  };
  ca = resolved(address.ca);
  cert = resolved(address.cert);
  key = resolved(address.key);
  const auto unreadable = [&](const char* line) {
    failedWhy_ = "файл "_cp + std::string(line) + "= не читается"_cp;
    return false;
  };
  struct stat st {};
  if (ca.empty()) {
    // The system's CA store: its hashed directory, else its bundle.
    const std::string dir = X509_get_default_cert_dir();
    if (stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
      ca = dir + "/";
    else
      ca = X509_get_default_cert_file();
  } else if (access(ca.c_str(), R_OK) != 0) {
    return unreadable("ca");
  }
  if (key.empty()) return true;
  if (cert.empty()) cert = key;  // one PEM file holding the certificate and its key
  if (access(cert.c_str(), R_OK) != 0) return unreadable("cert");
  if (stat(key.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || access(key.c_str(), R_OK) != 0)
    return unreadable("key");
  // As ssh does: a key others can read is no longer its owner's alone.
  if ((st.st_mode & 077) != 0) {
    failedWhy_ = kWhyKeyOpen;
    return false;
  }
  // The library finds a key that is not the certificate's only as it builds
  // the connection, and says no more than that it could not: the pair is
  // looked at here, before anything goes out.
  const std::optional<std::string> certText = ReadSmallFile(cert, kCertificateMax);
  const std::optional<std::string> keyText = ReadSmallFile(key, kCertificateMax);
  switch (CheckKeyPair(certText.value_or(std::string()), keyText.value_or(std::string()))) {
    case KeyPair::Fits: return true;
    case KeyPair::NoCertificate: return unreadable("cert");
    case KeyPair::NoKey: return unreadable("key");
    case KeyPair::Mismatch: break;
  }
  failedWhy_ = kWhyKeyMismatch;
  return false;
}

bool NetworkSerialPort::ServerWantsTls(const std::string& targets, Steady::time_point deadline) {
  auto link = std::make_unique<Link>();
  if (!link->os || !link->waiter) return false;
  // The certificate is not checked: whether there is a handshake at all is
  // the question.
  const std::string spec = "ssl(allow-authfail),tcp," + targets;
  if (str_to_gensio(spec.c_str(), link->os, Link::Event, link.get(), &link->io) != 0) {
    link->io = nullptr;
    return false;
  }
  if (gensio_open(link->io, Link::OpenDone, link.get()) != 0) {
    DropLink(std::move(link));
    return false;
  }
  link->WaitUntil(deadline, [&] { return link->openDone || link->certSeen; });
  const bool tls = link->certSeen;
  DropLink(std::move(link));
  TakeLibraryLog();
  return tls;
}

// Why a TLS connection failed, from what the library saw of the handshake.
std::string NetworkSerialPort::TlsFailure(const Link& link, int err) const {
  const std::string log = TakeLibraryLog();
  const bool hasCert = !address_.key.empty();
  if (!link.certWhy.empty()) return kWhyServerCert + link.certWhy;
  if (log.find("certificate required") != std::string::npos) return kWhyClientCertWanted;
  if (log.find("key values mismatch") != std::string::npos) return kWhyKeyMismatch;
  if (err == GE_AUTHREJECT) return kWhyClientCertRefused;
  if (link.certOk) {
    // The server's certificate was good, and then the server ended it: the
    // client's certificate (or its absence) is what it did not take.
    if (err == GE_REMCLOSE || link.lost || log.find("alert") != std::string::npos)
      return hasCert ? kWhyClientCertRefused : kWhyClientCertWanted;
    return {};
  }
  if (!link.certSeen && err != GE_CONNREFUSE && err != 0) return kWhyNoTls;
  return {};
}

int NetworkSerialPort::Connect(const std::string& targets, std::chrono::steady_clock::time_point deadline) {
  failedWhy_.clear();
  reached_ = false;
  auto link = std::make_unique<Link>();
  if (!link->os || !link->waiter) {
    failedWhy_ = kWhyNoConnection;
    return xerr::SystemError;
  }
  link->host = address_.host;
  link->tlsDepth = address_.user.empty() ? 2 : 3;
  TakeLibraryLog();
  if (BuildLayers(*link, layers_ + "tcp," + targets) != 0) {
    // The TLS layer is a module of the library that may not be installed.
    failedWhy_ = address_.tls ? kWhyNoTlsLibrary : kWhyNoConnection;
    return xerr::PortBusy;
  }
  if (gensio_open(link->io, Link::OpenDone, link.get()) != 0) {
    DropLink(std::move(link));
    failedWhy_ = kWhyNoConnection;
    return xerr::PortBusy;
  }
  if (!link->WaitUntil(deadline, [&] { return link->openDone; })) {
    // Over TLS, a server that took the connection and never answered the
    // handshake is not a host that never answered.
    reached_ = link->certSeen;
    DropLink(std::move(link));
    failedWhy_ = kWhySilent;
    return xerr::PortBusy;
  }
  reached_ = link->openErr == 0 || link->openErr == GE_REMCLOSE || link->certSeen;
  if (link->openErr != 0) {
    failedWhy_ = link->openErr == GE_CONNREFUSE ? kWhyRefused
                 : link->openErr == GE_REMCLOSE ? kWhyClosed
                                                : kWhyNoConnection;
    if (SaysLineBusy(*link))
      failedWhy_ = kWhyLineBusy;  // said before the close overtook the negotiation
    else if (address_.tls)
      if (std::string why = TlsFailure(*link, link->openErr); !why.empty()) failedWhy_ = std::move(why);
    DropLink(std::move(link));
    return xerr::PortBusy;
  }
  gensio_set_read_callback_enable(link->io, true);
  link->serial = gensio_to_sergensio(link->io);
  if (!link->serial) {
    TakeInClosingWords(*link);
    failedWhy_ = SaysLineBusy(*link) ? kWhyLineBusy : kWhyNoComPort;
    DropLink(std::move(link));
    return xerr::PortBusy;
  }

  // 115200 8N1, all asked at once; each answer carries what the server set.
  struct Setting {
    int (*ask)(sergensio*, unsigned, sergensio_done, void*);
    unsigned value;
    bool mustMatch;  // a UART may answer the rate it could make, close to the one asked
  };
  const Setting settings[] = {{sergensio_baud, static_cast<unsigned>(BaudRate), false},
                              {sergensio_datasize, 8, true},
                              {sergensio_parity, SERGENSIO_PARITY_NONE, true},
                              {sergensio_stopbits, 1, true}};
  std::vector<Request*> asked;
  const auto askedAt = Steady::now();
  for (const Setting& s : settings) {
    Request* r = link->NewRequest();
    // Refused at once when the server has not taken the COM port option: a
    // silent server (the library gives up on it after about 4 s), or one of
    // plain telnet or TCP. There is no serial port behind that address.
    if (s.ask(link->serial, s.value, Link::Answered, r) != 0) {
      TakeInClosingWords(*link);
      failedWhy_ = SaysLineBusy(*link) ? kWhyLineBusy : kWhyNoComPort;
      DropLink(std::move(link));
      return xerr::PortBusy;
    }
    asked.push_back(r);
  }
  const bool answered = link->WaitUntil(deadline, [&] {
    return link->lost ||
           std::all_of(asked.begin(), asked.end(), [](const Request* r) { return r->answered; });
  });
  if (link->lost || !answered) {
    failedWhy_ = !link->lost ? kWhySilent : SaysLineBusy(*link) ? kWhyLineBusy : kWhyClosed;
    if (address_.tls && failedWhy_ == kWhyClosed)
      if (std::string why = TlsFailure(*link, GE_REMCLOSE); !why.empty()) failedWhy_ = std::move(why);
    DropLink(std::move(link));
    return xerr::PortBusy;
  }
  for (std::size_t i = 0; i < asked.size(); ++i) {
    const Request& r = *asked[i];
    if (r.err == GE_TIMEDOUT) {
      failedWhy_ = kWhySilent;
      DropLink(std::move(link));
      return xerr::PortBusy;
    }
    if (r.err != 0 || (settings[i].mustMatch && r.value != settings[i].value)) {
      failedWhy_ = kWhyRefusedSettings;
      DropLink(std::move(link));
      return xerr::SystemError;
    }
  }
  link->lineAnswerBound =
      std::min<Steady::duration>(LineAnswerBoundMax, LineAnswerMargin + 3 * (Steady::now() - askedAt));
  link_ = std::move(link);
  return 0;
}

bool NetworkSerialPort::SetLine(bool dtr, bool on) {
  if (!link_ || link_->lost) return false;
  const HoldBrokenPipe hold;
  Link& link = *link_;
  static_assert(SERGENSIO_DTR_ON == SERGENSIO_RTS_ON && SERGENSIO_DTR_OFF == SERGENSIO_RTS_OFF);
  const unsigned wanted = on ? SERGENSIO_DTR_ON : SERGENSIO_DTR_OFF;
  auto ask = dtr ? sergensio_dtr : sergensio_rts;
  if (link.linesUnanswered) return ask(link.serial, wanted, nullptr, nullptr) == 0;
  Request* r = link.NewRequest();
  if (ask(link.serial, wanted, Link::Answered, r) != 0) return false;
  link.WaitUntil(Steady::now() + link.lineAnswerBound, [&] { return r->answered || link.lost; });
  if (link.lost) return false;
  if (!r->answered || r->err == GE_TIMEDOUT) {
    link.linesUnanswered = true;  // see the header: waited for once, then reported unconfirmed
    return true;
  }
  return r->err == 0 && r->value == wanted;
}

bool NetworkSerialPort::SetDtr(bool on) { return SetLine(true, on); }
bool NetworkSerialPort::SetRts(bool on) { return SetLine(false, on); }

ReadStatus NetworkSerialPort::ReadByte(uint8_t& byte) {
  if (!link_) return ReadFailed;
  Link& link = *link_;
  if (link.received.empty()) {
    const HoldBrokenPipe hold;
    link.WaitUntil(Steady::now() + ByteReadTimeout, [&] { return !link.received.empty() || link.lost; });
  }
  // What came before the connection broke is still handed out.
  if (link.received.empty()) return link.lost ? ReadFailed : ReadTimeout;
  byte = link.received.front();
  link.received.pop_front();
  if (link.readPaused && link.received.size() < kReceiveCap / 2) {
    link.readPaused = false;
    gensio_set_read_callback_enable(link.io, true);
  }
  return ReadOk;
}

void NetworkSerialPort::WriteBytes(const uint8_t* data, std::size_t count) {
  if (!link_ || link_->lost) return;
  const HoldBrokenPipe hold;
  Link& link = *link_;
  // As on a local port: what is not on its way after 50 ms and 1 ms a byte
  // is dropped, and the missing reply shows it.
  const auto deadline = Steady::now() + WriteTimeoutConstant + WriteTimeoutPerByte * count;
  while (count > 0) {
    gensiods taken = 0;
    if (gensio_write(link.io, &taken, data, count, nullptr) != 0) {
      link.lost = true;
      return;
    }
    data += taken;
    count -= taken;
    if (count == 0) return;
    link.writeReady = false;
    gensio_set_write_callback_enable(link.io, true);
    if (!link.WaitUntil(deadline, [&] { return link.writeReady || link.lost; }) || link.lost) return;
  }
}

void NetworkSerialPort::DiscardInput() {
  if (!link_) return;
  Link& link = *link_;
  const HoldBrokenPipe hold;
  // Take in what has arrived by now, then drop it with what was waiting.
  // The server is not asked to purge its side too (RFC 2217 PURGE-DATA):
  // ser2net takes over a millisecond for it, a third more time for each
  // command on a local network, and bytes still on their way escape both
  // purges alike; the AT engine tells a late reply by its echo and prefix.
  for (int round = 0; round < 4; ++round) {  // a few reads' worth, never a wait
    const std::size_t before = link.received.size();
    gensio_time now{0, 0};
    gensio_os_funcs_service(link.os, &now);
    if (link.received.size() == before) break;
  }
  link.received.clear();
  if (link.readPaused) {
    link.readPaused = false;
    gensio_set_read_callback_enable(link.io, true);
  }
}

std::string NetworkSerialPort::Describe(int portIndex) const {
  const std::string entry = LocalEntry(portIndex);
  const std::optional<std::string> text = ReadAddressFile(portIndex);
  const std::optional<NetworkAddress> address = text ? ParseAddressFile(*text) : std::nullopt;
  if (!address) return entry + ": адрес не понят, нужно rfc2217://узел:порт"_cp;
  std::string why;
  if (portIndex == failedPort_ && !failedWhy_.empty())
    why = failedWhy_;
  else if (portIndex == openPort_ && link_ && link_->lost)
    why = kWhyLineLost;
  else if (portIndex == openPort_ && link_ && link_->linesUnanswered)
    why = kWhyLinesUnconfirmed;
  else if (!address->tls && !IsLoopbackHost(address->host))
    why = kUnencrypted;
  if (why.empty()) return address->text;
  // The row is 57 columns, "COM16: " included: the reason is shown whole, the
  // address gives up its scheme and then its beginning to make room.
  constexpr std::size_t kRoom = 50;
  const std::string tail = " (" + why + ")";
  if (tail.size() + 2 > kRoom) return why;  // the reason alone fills the row
  std::string shown = address->text;
  for (std::string_view scheme : {"rfc2217://", "rfc2217s://"})
    if (shown.size() + tail.size() > kRoom && StartsWithNoCase(shown, scheme)) shown.erase(0, scheme.size());
  if (shown.size() + tail.size() > kRoom)
    shown = "~" + shown.substr(shown.size() - std::min(shown.size(), kRoom - tail.size() - 1));
  return shown + tail;
}

}  // namespace tv
