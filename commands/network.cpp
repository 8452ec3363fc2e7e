#include "commands/commands.h"
namespace tv {
void CallForwardingScreen(Tool&) {}
void BalanceQuery(Tool&) {}
}  // namespace tv
