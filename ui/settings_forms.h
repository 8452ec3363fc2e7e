// The outgoing-call and incoming-call settings forms.
#pragma once

namespace tv {

struct Tool;

void OutgoingCallsEditor(Tool& tool);
void IncomingCallsEditor(Tool& tool);

}  // namespace tv
