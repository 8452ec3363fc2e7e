#include "screen/help_window.h"
namespace tv {
void ShowHelpTopic(Screen&, HelpFile&, int) {}
}  // namespace tv
