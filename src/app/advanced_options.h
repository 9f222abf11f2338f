#pragma once

#include <array>
#include <functional>
#include <string>
#include <string_view>

// The logic of the "Advanced Options" window: four areas, each opening a system tool.
namespace hivewise {

constexpr std::string_view kAdvancedOptionsTitle = "Advanced Options";

enum AdvancedArea : int {
    kBhoArea = 0,
    kStartupArea = 1,
    kInstalledProgramsArea = 2,
    kFullBackupArea = 3,
};
constexpr int kAdvancedAreaCount = 4;

class AdvancedOptions {
  public:
    // The title of the tool an area opens; empty for an area outside 0..3.
    static std::string_view Title(int area);
    // The string-table entry of an area's introduction text, and the text itself.
    static int IntroductionEntry(int area);
    static std::string Introduction(int area);

    // The action that opens an area's tool; an empty one makes the area do nothing.
    void SetAction(int area, std::function<void()> open);
    bool HasAction(int area) const;
    // A click on an area: opens its tool; false when the area has none.
    bool Click(int area);

  private:
    std::array<std::function<void()>, kAdvancedAreaCount> actions_;
};

}  // namespace hivewise
