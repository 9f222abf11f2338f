#pragma once

#include "app/recording_prompts.h"
#include "repair/repair_fixture.h"

namespace hivewise::testing {

// The repair's prefix with stale entries, and the prompts its windows ask through.
class RepairFlowTest : public RepairTest {
  protected:
    RecordingPrompts prompts;
};

}  // namespace hivewise::testing
