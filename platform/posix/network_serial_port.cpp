// The RFC 2217 port itself: opening (the address's files checked, the name
// looked up, the connection made and the line settings asked and answered),
// DTR and RTS, the data both ways, and every failure in the operator's
// words for the device row. (The connection's layers: network_link.h.)
#include "platform/posix/network_serial_port.h"

#include <openssl/x509.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string_view>
#include <utility>
#include <vector>

#include "cp866/literal.h"
#include "platform/posix/network_link.h"
#include "platform/posix/network_lookup.h"
#include "platform/posix/tls_identity.h"

namespace tv {

namespace {

using Steady = std::chrono::steady_clock;
using Millis = std::chrono::milliseconds;

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
// A TLS hello to a server that did not speak telnet, at least this long
// even when the open's own bound has run out.
constexpr Millis kTlsProbeBound{1000};
// A certificate or key file longer than this is no certificate or key.
constexpr std::size_t kTlsFileMax = std::size_t{1024} * 1024;

std::string CertFaultText(CertFault fault) {
  switch (fault) {
    case CertFault::Expired: return kCertExpired;
    case CertFault::NotYetValid: return kCertNotYetValid;
    case CertFault::UnknownIssuer: return kCertUnknownIssuer;
    case CertFault::Revoked: return kCertRevoked;
    case CertFault::Missing: return kCertMissing;
    case CertFault::WrongHost: return kCertWrongHost;
    case CertFault::Invalid:
    case CertFault::None: break;
  }
  return kCertInvalid;
}

// Whether the server said, before it closed, that the line is held.
bool SaysLineBusy(const NetworkLink& link) {
  return link.heard.find(kBusyBanner) != std::string::npos;
}

// The data the server sends before a close it has already decided on, taken
// in without waiting beyond a short bound: a connection closed at once is
// either refused for another client (the banner says so) or dropped.
void TakeInClosingWords(NetworkLink& link) {
  gensio_set_read_callback_enable(link.io, true);
  link.WaitUntil(Steady::now() + Millis(200), [&] { return link.lost; });
}

}  // namespace

NetworkSerialPort::NetworkSerialPort() = default;

NetworkSerialPort::~NetworkSerialPort() { Close(); }

void NetworkSerialPort::Close() {
  const HoldBrokenPipe hold;
  DropLink(std::move(link_), CloseBound);
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
  if (KeyOpenToOthers(st.st_mode)) {
    failedWhy_ = kWhyKeyOpen;
    return false;
  }
  // The library finds a key that is not the certificate's only as it builds
  // the connection, and says no more than that it could not: the pair is
  // looked at here, before anything goes out.
  const std::optional<std::string> certText = ReadSmallFile(cert, kTlsFileMax);
  const std::optional<std::string> keyText = ReadSmallFile(key, kTlsFileMax);
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
    DropLink(std::move(link), CloseBound);
    return false;
  }
  link->WaitUntil(deadline, [&] { return link->openDone || link->certSeen; });
  const bool tls = link->certSeen;
  DropLink(std::move(link), CloseBound);
  TakeLibraryLog();
  return tls;
}

// Why a TLS connection failed, from what the library saw of the handshake.
std::string NetworkSerialPort::TlsFailure(const Link& link, int err) const {
  const std::string log = TakeLibraryLog();
  const bool hasCert = !address_.key.empty();
  if (link.certFault != CertFault::None) return kWhyServerCert + CertFaultText(link.certFault);
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
    DropLink(std::move(link), CloseBound);
    failedWhy_ = kWhyNoConnection;
    return xerr::PortBusy;
  }
  if (!link->WaitUntil(deadline, [&] { return link->openDone; })) {
    // Over TLS, a server that took the connection and never answered the
    // handshake is not a host that never answered.
    reached_ = link->certSeen;
    DropLink(std::move(link), CloseBound);
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
    DropLink(std::move(link), CloseBound);
    return xerr::PortBusy;
  }
  gensio_set_read_callback_enable(link->io, true);
  link->serial = gensio_to_sergensio(link->io);
  if (!link->serial) {
    TakeInClosingWords(*link);
    failedWhy_ = SaysLineBusy(*link) ? kWhyLineBusy : kWhyNoComPort;
    DropLink(std::move(link), CloseBound);
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
      DropLink(std::move(link), CloseBound);
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
    DropLink(std::move(link), CloseBound);
    return xerr::PortBusy;
  }
  for (std::size_t i = 0; i < asked.size(); ++i) {
    const Request& r = *asked[i];
    if (r.err == GE_TIMEDOUT) {
      failedWhy_ = kWhySilent;
      DropLink(std::move(link), CloseBound);
      return xerr::PortBusy;
    }
    if (r.err != 0 || (settings[i].mustMatch && r.value != settings[i].value)) {
      failedWhy_ = kWhyRefusedSettings;
      DropLink(std::move(link), CloseBound);
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
  const std::string entry = AddressFilePath(portIndex);
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
  if (shown.size() + tail.size() > kRoom) shown.erase(0, SchemeLength(shown));
  if (shown.size() + tail.size() > kRoom)
    shown = "~" + shown.substr(shown.size() - std::min(shown.size(), kRoom - tail.size() - 1));
  return shown + tail;
}

}  // namespace tv
