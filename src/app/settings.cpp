#include "app/settings.h"

#include "platform/machine/sample_machine.h"

namespace hivewise {

namespace {

// The section ticks in the order the defaults table lists them.
constexpr std::string_view kSectionDefaultsOrder[] = {
    "Registry Integrity",
    "ActiveX/Classes Section",
    "Program ID Section",
    "Add Remove Programs",
    "Windows Fonts",
    "Shared Program Files",
    "Help Files",
    "Startup Programs",
    "System Services",
    "VXD Section",
    "File Associations",
    "Sounds Section",
    "Complete Registry Scan",
    "Invalid Shortcuts",
    "Application Paths",
};

}  // namespace

std::vector<std::pair<std::string, std::string>> DefaultSettings(
    const std::string& applicationFolder) {
    std::vector<std::pair<std::string, std::string>> defaults;
    for (std::string_view name : kSectionDefaultsOrder)
        defaults.emplace_back(name, "1");
    defaults.emplace_back(kSettingGenerateLog, "1");
    defaults.emplace_back(kSettingLogFilePath, applicationFolder + "\\logs");
    defaults.emplace_back(kSettingAutoRun, "0");
    defaults.emplace_back(kSettingNoAutoBackup, "0");
    defaults.emplace_back(kSettingCheckAllItems, "1");
    defaults.emplace_back(kSettingVersion, kProgramVersion);
    return defaults;
}

Settings::Settings(Machine& machine) : machine_(machine), registry_(machine) {}

std::optional<std::string> Settings::Read(std::string_view name) {
    std::string text;
    if (!registry_.ReadSetting(name, &text)) return std::nullopt;
    return text;
}

bool Settings::Write(std::string_view name, std::string_view text) {
    return registry_.WriteSetting(name, text);
}

bool Settings::Flag(std::string_view name) {
    // "1" has no other case, so comparing without regard to case is plain equality.
    auto text = Read(name);
    return text && *text == "1";
}

bool Settings::WriteFlag(std::string_view name, bool on) {
    return Write(name, on ? "1" : "0");
}

bool Settings::KeyExists() {
    ScopedKey key(registry_);
    if (registry_.OpenKey(kHkeyCurrentUser, kSettingsKey, kKeyAllAccess, &key) != kErrorSuccess)
        return false;
    return true;
}

Settings::FirstRunResult Settings::FirstRun() {
    if (KeyExists()) return FirstRunResult::AlreadySet;
    ScopedKey software(registry_);
    if (registry_.OpenKey(kHkeyCurrentUser, "SOFTWARE", kKeyAllAccess, &software) != kErrorSuccess)
        return FirstRunResult::Failed;
    ScopedKey key(registry_);
    long status = registry_.CreateKey(software, "Hivewise", &key);
    if (status != kErrorSuccess) return FirstRunResult::Failed;
    bool allWritten = true;
    for (const auto& [name, text] : DefaultSettings(ApplicationFolder())) {
        if (!Write(name, text)) allWritten = false;
    }
    return allWritten ? FirstRunResult::DefaultsWritten : FirstRunResult::Failed;
}

bool Settings::SetRunEntry() {
    // The entry names the program file in the machine: it must be there for Wine to start.
    std::string installError;
    if (!InstallProgram(machine_, RunningExecutable(), &installError)) return false;
    ScopedKey key(registry_);
    if (registry_.OpenKey(kHkeyCurrentUser, kRunKey, kKeyAllAccess, &key) != kErrorSuccess)
        return false;
    long status = registry_.SetValue(key, kRunValueName, kRegSz, machine_.ProgramFile());
    return status == kErrorSuccess;
}

void Settings::RemoveRunEntry() {
    registry_.DeleteValue(kHkeyCurrentUser, kRunKey, kRunValueName);
}

}  // namespace hivewise
