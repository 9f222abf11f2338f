#include "app/advanced_options.h"

#include "platform/machine/string_table.h"

namespace hivewise {

namespace {

struct AreaRow {
    std::string_view title;
    int introEntry;
};

constexpr std::array<AreaRow, kAdvancedAreaCount> kAreas{{
    {"Manage Browser Helper Objects (BHO)", kIdsBhoIntro},
    {"Manage Startup Programs", kIdsStartupIntro},
    {"Manage Installed Programs", kIdsUninstallIntro},
    {"Full Registry Backup", kIdsFullBackupIntro},
}};

bool ValidArea(int area) {
    return area >= 0 && area < kAdvancedAreaCount;
}

}  // namespace

std::string_view AdvancedOptions::Title(int area) {
    return ValidArea(area) ? kAreas[area].title : std::string_view();
}

int AdvancedOptions::IntroductionEntry(int area) {
    return ValidArea(area) ? kAreas[area].introEntry : 0;
}

std::string AdvancedOptions::Introduction(int area) {
    return ValidArea(area) ? LoadResourceText(kAreas[area].introEntry) : std::string();
}

void AdvancedOptions::SetAction(int area, std::function<void()> open) {
    if (ValidArea(area)) actions_[area] = std::move(open);
}

bool AdvancedOptions::HasAction(int area) const {
    return ValidArea(area) && static_cast<bool>(actions_[area]);
}

bool AdvancedOptions::Click(int area) {
    if (!HasAction(area)) return false;
    actions_[area]();
    return true;
}

}  // namespace hivewise
