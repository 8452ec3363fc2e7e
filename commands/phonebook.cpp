#include "commands/commands.h"
namespace tv {
void PhonebookEditor(Tool&) {}
void WholeBookView(Tool&) {}
}  // namespace tv
