// The exchange trace: a port that writes down what passes through it.
#include "device/exchange_trace.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <ostream>

namespace tv {

namespace {

constexpr std::size_t kReceivedLine = 64;  // bytes at most in one "<-" line
constexpr std::size_t kSentLine = 64;      // and in one "->" line

const char* OnOff(bool on) { return on ? "on" : "off"; }

}  // namespace

std::string TraceText(const uint8_t* data, std::size_t count) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    const uint8_t b = data[i];
    if (b == '\\') {
      text += "\\\\";
    } else if (b >= 0x20 && b <= 0x7E) {
      text += static_cast<char>(b);
    } else {
      text += "\\x";
      text += kHex[b >> 4];
      text += kHex[b & 15];
    }
  }
  return text;
}

std::string TracingSerialPort::LocalTimeStamp() {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const std::time_t seconds = system_clock::to_time_t(now);
  const auto ms = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
  char text[40] = "";
  if (const std::tm* local = std::localtime(&seconds))  // one thread: the static result is ours
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", local);
  char stamp[48];
  std::snprintf(stamp, sizeof stamp, "%s.%03d", text, static_cast<int>(ms));
  return stamp;
}

TracingSerialPort::TracingSerialPort(std::unique_ptr<SerialPort> inner, std::unique_ptr<std::ostream> out,
                                     StampFn stamp)
    : inner_(std::move(inner)), out_(std::move(out)), stamp_(std::move(stamp)) {
  Line("trace begins");
}

TracingSerialPort::~TracingSerialPort() {
  FlushReceived();
  if (inner_->IsOpen()) Line("close");
  Line("trace ends");
}

void TracingSerialPort::Line(const std::string& text) {
  *out_ << stamp_() << ' ' << text << '\n' << std::flush;
}

void TracingSerialPort::FlushReceived() {
  if (received_.empty()) return;
  *out_ << receivedStamp_ << " <- "
        << TraceText(reinterpret_cast<const uint8_t*>(received_.data()), received_.size()) << '\n'
        << std::flush;
  received_.clear();
}

int TracingSerialPort::Open(int portIndex) {
  FlushReceived();
  if (inner_->IsOpen()) Line("close");
  const int rc = inner_->Open(portIndex);
  const std::string what = inner_->Describe(portIndex);
  Line("open " + PortDeviceName(portIndex) + ": " +
       TraceText(reinterpret_cast<const uint8_t*>(what.data()), what.size()) + ": " + std::to_string(rc));
  failedReported_ = false;
  return rc;
}

bool TracingSerialPort::SetDtr(bool on) {
  FlushReceived();
  const bool ok = inner_->SetDtr(on);
  Line(std::string("DTR ") + OnOff(on) +
       (ok ? (inner_->LinesUnconfirmed() ? " not confirmed" : "") : " failed"));
  return ok;
}

bool TracingSerialPort::SetRts(bool on) {
  FlushReceived();
  const bool ok = inner_->SetRts(on);
  Line(std::string("RTS ") + OnOff(on) +
       (ok ? (inner_->LinesUnconfirmed() ? " not confirmed" : "") : " failed"));
  return ok;
}

ReadStatus TracingSerialPort::ReadByte(uint8_t& byte) {
  const ReadStatus status = inner_->ReadByte(byte);
  if (status == ReadOk) {
    if (received_.empty()) receivedStamp_ = stamp_();
    received_ += static_cast<char>(byte);
    if (byte == '\n' || received_.size() >= kReceivedLine) FlushReceived();
    return status;
  }
  // A quiet line ends what came before it.
  FlushReceived();
  if (status == ReadFailed && !failedReported_) {
    failedReported_ = true;
    Line(inner_->Lost() ? "read failed: the line hung up" : "read failed");
  }
  return status;
}

void TracingSerialPort::WriteBytes(const uint8_t* data, std::size_t count) {
  FlushReceived();
  const std::string stamp = stamp_();
  for (std::size_t done = 0; done < count; done += kSentLine)
    *out_ << stamp << " -> " << TraceText(data + done, std::min(kSentLine, count - done)) << '\n';
  out_->flush();
  inner_->WriteBytes(data, count);
}

void TracingSerialPort::DiscardInput() {
  FlushReceived();
  Line("purge");
  inner_->DiscardInput();
}

std::unique_ptr<SerialPort> TraceExchangeIfAsked(std::unique_ptr<SerialPort> port, std::ostream& errors) {
  const char* path = std::getenv("TARVELIN_TRACE");
  if (!path || !*path) return port;
  errno = 0;
  auto out = std::make_unique<std::ofstream>(path, std::ios::binary | std::ios::app);
  if (!*out) {
    const int err = errno;
    errors << "tarvelin: TARVELIN_TRACE: cannot open " << path << (err ? ": " : "")
           << (err ? std::strerror(err) : "") << "; running without the exchange trace\n";
    return port;
  }
  return std::make_unique<TracingSerialPort>(std::move(port), std::move(out));
}

}  // namespace tv
