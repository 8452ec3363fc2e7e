// The network services asked through the gateway's modem, without a screen:
// call forwarding and the balance by USSD. Both travel to the network and
// back, which takes seconds; every wait ends by its bound at the latest, or
// at once when stop() says so (the screens: Esc).
//
//   AT+CCFC=0,2\r  ->  +CCFC: 1,1,"+79161234567",145 / OK     (or +CCFC: 0,7 / OK)
//   AT+CCFC=2,3,"123",,,,,20\r  ->  OK                          (or ERROR)
//   AT+CUSD=1,"#100#",15\r  ->  OK, 1 to 5 s later  +CUSD: 0,"04110430043B0430043D0441",72
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/network_replies.h"
#include "gateway/transfers.h"

namespace tv {

struct GatewaySession;

// How a command to the network ended. GaveUp: no answer within the wait;
// Left: stop() said so; Lost: the line hung up.
enum class ServiceOutcome { Ok, Error, GaveUp, Left, Lost };

// A forwarding command and its reply until "OK" or an error answer, within
// ForwardingWait (other tools allow 30 to 40 s: a busy network takes that
// long).
// Every "+CCFC:" line of the reply goes to ccfcLines, when given.
ServiceOutcome RunForwardingCommand(GatewaySession& gateway, const std::string& command, const StopRequest& stop,
                                    std::vector<std::string>* ccfcLines = nullptr);

// The state of one forwarding service. A reported active line counts even
// when the final OK did not come; the number it reports goes into the
// image's forwarding cell (when both services are active, the second
// query's stays).
struct ForwardingState {
  ServiceOutcome outcome = ServiceOutcome::GaveUp;
  bool active = false;
};
ForwardingState QueryForwarding(GatewaySession& gateway, int reason, const StopRequest& stop);  // ForwardUnconditional, ForwardNoReply

// The balance: the request and the network's answer, in the request's own
// reply or after it (some networks first send an empty answer; Russian ones
// answer in UCS2, handed over as hex digits). nullopt when stop() left the
// wait. sessionOpen tells whether the network may still answer (the request
// was taken): the caller then ends the session with EndUssdSession unless a
// final text came.
struct UssdAnswer {
  bool isText = false;
  std::string text;           // cp866: the network's text, or what came instead (the texts below)
  bool networkWaits = false;  // +CUSD: 1: the network holds the session open for a reply
};
std::optional<UssdAnswer> AskBalance(GatewaySession& gateway, bool& sessionOpen, const StopRequest& stop);
// A request given up or left: the network session is ended, so that its
// late answer cannot come as the answer to the next request. What still
// comes meanwhile is set aside.
void EndUssdSession(GatewaySession& gateway);

}  // namespace tv
