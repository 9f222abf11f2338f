#pragma once

#include "app/recording_prompts.h"
#include "tools/tools_fixture.h"

namespace hivewise::testing {

// The tools' prefix, with the prompts the window logic shows its messages through.
class ManagerTest : public ToolsTest {
  protected:
    RecordingPrompts prompts;
};

}  // namespace hivewise::testing
