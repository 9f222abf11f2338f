#pragma once

#include "app/user_prompts.h"
#include "platform/machine/machine.h"

namespace hivewise {

// Writes the machine's changed registry files at the end of a user action. A refusal
// or failure is shown to the user once, with its reason; returns whether all was saved.
bool SaveChanges(Machine& machine, AppPrompts& prompts);

}  // namespace hivewise
