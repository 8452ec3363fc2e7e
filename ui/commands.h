// The phonebook forms and the network commands of the menus.
#pragma once

namespace tv {

struct Tool;

void PhonebookEditor(Tool& tool);
void WholeBookView(Tool& tool);
void CallForwardingScreen(Tool& tool);
void BalanceQuery(Tool& tool);

}  // namespace tv
