#pragma once

#include <string>
#include <vector>

#include "app/user_prompts.h"
#include "tools/tools_fixture.h"

namespace hivewise::testing {

// Records the messages the logic shows.
class RecordingPrompts : public UserPrompts {
  public:
    void Message(const std::string& text) override { messages.push_back(text); }
    bool AskYesNo(const std::string&) override { return true; }
    std::vector<std::string> messages;
};

// The tools' prefix, with the prompts the window logic shows its messages through.
class ManagerTest : public ToolsTest {
  protected:
    RecordingPrompts prompts;
};

}  // namespace hivewise::testing
