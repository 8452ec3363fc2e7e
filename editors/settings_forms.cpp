#include "editors/settings_forms.h"
namespace tv {
void OutgoingCallsEditor(Tool&) {}
void IncomingCallsEditor(Tool&) {}
}  // namespace tv
