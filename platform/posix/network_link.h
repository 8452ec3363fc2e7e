// The connection of a network port through libgensio, as the port uses it:
// telnet(rfc2217) over a listening layer of this port's own (see Tap in the
// .cpp), then ssl (and certauth) for a TLS address, then tcp. Used
// asynchronously, every wait a bounded wait on one gensio waiter (which runs
// the library's event loop meanwhile). The library's own blocking calls wait
// without bound or with bounds of their own of several seconds, and a
// request they give up on may still be answered later into a stack frame
// that is gone; so each request here has its own record, kept as long as the
// connection.
#pragma once

#include <gensio/gensio.h>
#include <gensio/gensio_os_funcs_public.h>
#include <gensio/sergensio.h>
#include <signal.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tv {

// Received bytes not yet read are kept up to this; beyond it the library
// stops reading the connection until the tool has caught up.
constexpr std::size_t kReceiveCap = std::size_t{64} * 1024;

gensio_time ToGensioTime(std::chrono::steady_clock::duration d);

// What the library said since it was last asked (its troubles, which it
// reports through a log the screen has no room for): a failed TLS handshake
// has its reason only there ("tlsv13 alert certificate required", "wrong
// version number").
std::string TakeLibraryLog();

// Why the server's certificate was not accepted.
enum class CertFault { None, Expired, NotYetValid, UnknownIssuer, Revoked, Missing, WrongHost, Invalid };

struct NetworkLink;

// One request to the server and its answer. Kept until the connection goes,
// so that an answer that comes after the wait was given up lands here.
struct Request {
  NetworkLink* link = nullptr;
  bool answered = false;
  int err = 0;
  unsigned value = 0;
};

struct NetworkLink {
  using Steady = std::chrono::steady_clock;

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
  CertFault certFault = CertFault::None;
  Steady::duration lineAnswerBound{};  // how long a DTR/RTS answer is waited for, once known
  std::deque<uint8_t> received;
  // The first bytes the server sent, as they came below the telnet layer
  // (see Tap).
  std::string heard;
  std::size_t heardAhead = 0;  // of those, bytes the layer above has not taken yet
  std::vector<std::unique_ptr<Request>> requests;

  NetworkLink();
  ~NetworkLink();
  NetworkLink(const NetworkLink&) = delete;
  NetworkLink& operator=(const NetworkLink&) = delete;

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
  int CheckServerCertificate(gensio* self, int err, std::string_view why);

  static int Event(gensio* self, void* data, int event, int err, unsigned char* buf, gensiods* buflen,
                   const char* const* auxdata);
  static void OpenDone(gensio*, int err, void* data);
  static void CloseDone(gensio*, void* data);
  static void Answered(sergensio*, int err, unsigned value, void* data);
};

// A value for the library's option syntax ("ssl(CA=...)"), whatever bytes
// the path holds.
std::string Quoted(const std::string& value);

// The connection's layers into link.io: telnet, the tap, then those given
// ("ssl(...),tcp,..." or "tcp,..."). 0, or the library's error.
int BuildLayers(NetworkLink& link, const std::string& below);

// Closes and frees the connection. A close the library does not finish
// within closeBound leaves the record behind (a late callback may still use
// it).
void DropLink(std::unique_ptr<NetworkLink> link, std::chrono::milliseconds closeBound);

// The library writes to its socket without MSG_NOSIGNAL: a write into a
// connection the far end has closed would raise SIGPIPE and end the tool
// there and then. While the library runs, SIGPIPE is held back, and one that
// came meanwhile is taken and dropped; the failed write is seen as the
// connection lost. (Ignoring the signal for the whole process instead would
// pass the ignoring on to the programs the tool starts.)
class HoldBrokenPipe {
 public:
  HoldBrokenPipe();
  ~HoldBrokenPipe();
  HoldBrokenPipe(const HoldBrokenPipe&) = delete;
  HoldBrokenPipe& operator=(const HoldBrokenPipe&) = delete;

 private:
  sigset_t old_{};
  bool wasPending_ = false;
};

}  // namespace tv
