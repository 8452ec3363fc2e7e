// Call forwarding and the balance through the modem: the commands, their
// waits and what their replies say.
#include "gateway/network_services.h"

#include <string_view>

#include "cp866/literal.h"
#include "device/at_engine.h"
#include "gateway/session.h"

namespace tv {

namespace {

constexpr Millis ForwardingWait{40000};
// An answer typically takes 5 s and now and then much longer.
constexpr Millis UssdWait{60000};
constexpr Millis EndSessionWait{2000};

constexpr const char* kRequest = "AT+CUSD=1,\"#100#\",15\r";
constexpr const char* kEndSession = "AT+CUSD=2\r";

// What the balance screen shows instead of an answer.
constexpr const char* kNoAnswer = "Нет ответа от сети"_cp;
constexpr const char* kNotSupported = "Запрос не поддерживается сетью"_cp;
constexpr const char* kNoText = "Сеть завершила запрос без ответа"_cp;
constexpr const char* kEmptyText = "Сеть прислала пустой ответ"_cp;
constexpr const char* kRefused = "Запрос отклонен: "_cp;  // followed by the modem's line

UssdAnswer Message(std::string text) { return UssdAnswer{false, std::move(text)}; }

// A "+CUSD:" line as the answer, the lines of a text with line breaks
// joined (the rest follows at once, up to the closing quote). nullopt when
// it is a phone's empty first answer: the real one follows.
std::optional<UssdAnswer> TakeCusd(GatewaySession& gateway, std::string line, Clock::TimePoint deadline) {
  CusdReply reply = ParseCusdLine(line);
  while (!reply.closed) {
    const auto more = gateway.at.AwaitUnsolicited("", deadline, {});
    if (!more) break;
    line += '\n';
    line += *more;
    reply = ParseCusdLine(line);
  }
  switch (reply.kind) {
    case CusdKind::Text: return UssdAnswer{true, DecodeUssdText(reply.text, reply.dcs), reply.status == 1};
    case CusdKind::EmptyText: return std::nullopt;
    case CusdKind::NotSupported: return Message(kNotSupported);
    case CusdKind::NetworkTimeout: return Message(kNoAnswer);
    case CusdKind::NoText:
    case CusdKind::NotCusd: break;
  }
  return Message(kNoText);
}

}  // namespace

ServiceOutcome RunForwardingCommand(GatewaySession& gateway, const std::string& command, const StopRequest& stop,
                                    std::vector<std::string>* ccfcLines) {
  const AtReply reply = gateway.at.Run(command, "+CCFC:", ForwardingWait, stop);
  if (ccfcLines) *ccfcLines = reply.lines;
  switch (reply.status) {
    case AtStatus::Ok: return ServiceOutcome::Ok;
    case AtStatus::Error: return ServiceOutcome::Error;
    case AtStatus::Failed: return ServiceOutcome::Lost;
    case AtStatus::Timeout: break;
  }
  return reply.stopped ? ServiceOutcome::Left : ServiceOutcome::GaveUp;
}

ForwardingState QueryForwarding(GatewaySession& gateway, int reason, const StopRequest& stop) {
  ForwardingState state;
  std::vector<std::string> lines;
  state.outcome = RunForwardingCommand(gateway, BuildForwardingCommand(reason, ForwardingMode::Query), stop, &lines);
  for (const std::string& line : lines) {
    const CcfcReply reply = ParseCcfcLine(line);
    if (!reply.activeForVoice) continue;
    state.active = true;
    if (reply.hasNumber) gateway.image.SetCellNumber(ForwardCell, reply.number);
  }
  return state;
}

// Only a "+CUSD:" that comes after the request was sent counts; one set
// aside earlier answers an earlier request.
std::optional<UssdAnswer> AskBalance(GatewaySession& gateway, bool& sessionOpen, const StopRequest& stop) {
  const Clock::TimePoint deadline = gateway.clock.Now() + UssdWait;
  const AtReply request = gateway.at.RunUntilAnswer(kRequest, "+CUSD:", UssdWait, stop);
  if (request.stopped) {
    sessionOpen = true;  // the request may have reached the network
    return std::nullopt;
  }
  if (request.status == AtStatus::Error)
    return Message(std::string(kRefused) + ScreenSafeText(request.finalLine));
  if (request.status == AtStatus::Failed) return Message(kLineLost);
  if (request.status != AtStatus::Ok) return Message(kNoAnswer);
  sessionOpen = true;
  bool emptySeen = false;
  for (const std::string& line : request.lines) {
    if (auto answer = TakeCusd(gateway, line, deadline)) return answer;
    emptySeen = true;
  }
  for (;;) {
    const auto line = gateway.at.AwaitUnsolicited("+CUSD:", deadline, stop);
    if (!line) {
      if (gateway.port.Lost()) return Message(kLineLost);
      if (gateway.clock.Now() < deadline) return std::nullopt;  // stopped
      return Message(emptySeen ? kEmptyText : kNoAnswer);
    }
    if (auto answer = TakeCusd(gateway, *line, deadline)) return answer;
    emptySeen = true;  // some phones send an empty answer first
  }
}

void EndUssdSession(GatewaySession& gateway) {
  if (gateway.port.Lost()) return;
  gateway.at.Run(kEndSession, {}, EndSessionWait);
  gateway.at.AwaitQuiet();
}

}  // namespace tv
