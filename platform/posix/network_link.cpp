// The connection through libgensio: its layers, the library's events, the
// server's certificate checked for its name, SIGPIPE held while the library
// writes. (The header says how the waits are made.)
#include "platform/posix/network_link.h"

#include <pthread.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <utility>

#include "platform/posix/tls_identity.h"

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

// A server certificate longer than this is not taken.
constexpr gensiods kCertificateMax = gensiods{1024} * 1024;

// The library reports its troubles through this; the screen belongs to the
// tool, and the outcome of every call is looked at anyway. What it said is
// kept for TakeLibraryLog.
std::mutex libraryLogMutex;
std::string libraryLog;  // since the last TakeLibraryLog

void QuietLog(gensio_os_funcs*, gensio_log_levels, const char* format, va_list args) {
  char line[512];
  std::vsnprintf(line, sizeof line, format, args);
  const std::lock_guard<std::mutex> lock(libraryLogMutex);
  if (libraryLog.size() < 4096) libraryLog.append(line).append("\n");
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

// The certificate's fault, from the library's code and the verifier's own
// text.
CertFault CertificateFault(int err, std::string_view why) {
  if (why.find("not yet valid") != std::string_view::npos) return CertFault::NotYetValid;
  if (err == GE_CERTEXPIRED || why.find("expired") != std::string_view::npos) return CertFault::Expired;
  if (err == GE_CERTREVOKED) return CertFault::Revoked;
  if (err == GE_NOCERT) return CertFault::Missing;
  if (err == GE_CERTNOTFOUND || why.find("issuer") != std::string_view::npos ||
      why.find("self-signed") != std::string_view::npos || why.find("self signed") != std::string_view::npos)
    return CertFault::UnknownIssuer;
  return CertFault::Invalid;
}

// The telnet layer keeps what the server sends until its negotiation is
// done, and drops it when the server closes first: ser2net's "Port already
// in use" comes right after its first option offers, with the close behind
// it. A layer of its own between telnet and the connection passes every
// byte on and keeps the first ones heard.
constexpr std::size_t kHeardMax = 1024;

int Tap(gensio_filter* filter, int op, void* func, void* data, gensiods* count, void* buf, const void* cbuf,
        gensiods buflen, const char* const* auxdata) {
  NetworkLink& link = *static_cast<NetworkLink*>(gensio_filter_get_user_data(filter));
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

}  // namespace

std::string TakeLibraryLog() {
  const std::lock_guard<std::mutex> lock(libraryLogMutex);
  return std::exchange(libraryLog, std::string());
}

gensio_time ToGensioTime(Steady::duration d) {
  if (d < Steady::duration::zero()) d = Steady::duration::zero();
  const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(d).count();
  return gensio_time{ns / 1000000000, static_cast<int32_t>(ns % 1000000000)};
}

NetworkLink::NetworkLink() : os(Os()), waiter(os ? gensio_os_funcs_alloc_waiter(os) : nullptr) {}

NetworkLink::~NetworkLink() {
  if (waiter) gensio_os_funcs_free_waiter(os, waiter);
}

int NetworkLink::CheckServerCertificate(gensio* self, int err, std::string_view why) {
  certSeen = true;
  if (err != 0) {
    certFault = CertificateFault(err, why);
    return GE_NOTSUP;
  }
  // The library says how long the certificate is when the room given was
  // too small: asked again with that room.
  std::string pem(8192, '\0');
  for (int attempt = 0;; ++attempt) {
    gensiods length = pem.size();
    if (gensio_control(self, tlsDepth, GENSIO_CONTROL_GET, GENSIO_CONTROL_CERT, pem.data(), &length) != 0 ||
        (length >= pem.size() && (attempt > 0 || length > kCertificateMax))) {
      certFault = CertFault::Missing;
      return GE_NOCERT;
    }
    if (length < pem.size()) {
      pem.resize(length);
      break;
    }
    pem.assign(length + 1, '\0');
  }
  if (!CertificateNames(pem, host)) {
    certFault = CertFault::WrongHost;
    return GE_CERTINVALID;
  }
  certOk = true;
  return GE_NOTSUP;
}

int NetworkLink::Event(gensio* self, void* data, int event, int err, unsigned char* buf,
                                   gensiods* buflen, const char* const* auxdata) {
  NetworkLink& link = *static_cast<NetworkLink*>(data);
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

void NetworkLink::OpenDone(gensio*, int err, void* data) {
  NetworkLink& link = *static_cast<NetworkLink*>(data);
  link.openDone = true;
  link.openErr = err;
  link.Wake();
}

void NetworkLink::CloseDone(gensio*, void* data) {
  NetworkLink& link = *static_cast<NetworkLink*>(data);
  link.closeDone = true;
  link.Wake();
}

void NetworkLink::Answered(sergensio*, int err, unsigned value, void* data) {
  Request& r = *static_cast<Request*>(data);
  r.answered = true;
  r.err = err;
  r.value = value;
  r.link->Wake();
}

std::string Quoted(const std::string& value) {
  std::string q = "\"";
  for (char c : value) {
    if (c == '"' || c == '\\') q += '\\';
    q += c;
  }
  return q + "\"";
}

int BuildLayers(NetworkLink& link, const std::string& below) {
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
          str_to_gensio_child(tap, "telnet(rfc2217)", link.os, NetworkLink::Event, &link, &link.io);
      err != 0) {
    link.io = nullptr;
    gensio_free(tap);
    return err;
  }
  return 0;
}

void DropLink(std::unique_ptr<NetworkLink> link, std::chrono::milliseconds closeBound) {
  if (!link) return;
  if (link->io) {
    if (gensio_close(link->io, NetworkLink::CloseDone, link.get()) == 0) {
      const auto deadline = Steady::now() + closeBound;
      if (!link->WaitUntil(deadline, [&] { return link->closeDone; })) {
        gensio_free(link->io);
        (void)link.release();
        return;
      }
    }
    gensio_free(link->io);
  }
}

HoldBrokenPipe::HoldBrokenPipe() {
  sigset_t pipe;
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe, &old_);
  sigset_t pending;
  sigpending(&pending);
  wasPending_ = sigismember(&pending, SIGPIPE) == 1;
}
HoldBrokenPipe::~HoldBrokenPipe() {
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

}  // namespace tv
