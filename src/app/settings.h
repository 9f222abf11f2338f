#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/machine/machine.h"
#include "platform/registry/registry_access.h"

// The program's settings: string values under HKEY_CURRENT_USER\SOFTWARE\Hivewise of
// the machine, their first-run defaults, and the run-at-start entry.
namespace hivewise {

constexpr std::string_view kSettingGenerateLog = "Generate Log";
constexpr std::string_view kSettingLogFilePath = "Log File Path";
constexpr std::string_view kSettingAutoRun = "AutoRun";
constexpr std::string_view kSettingNoAutoBackup = "NoAutoBackup";
constexpr std::string_view kSettingCheckAllItems = "CheckAllItems";
constexpr std::string_view kSettingVersion = "Version";
constexpr std::string_view kSettingLastScan = "Last Scan";
constexpr std::string_view kSettingItemsFound = "Items Found";

constexpr std::string_view kProgramVersion = "6.2";

// The current user's Run key and the value the program keeps there.
constexpr std::string_view kRunKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr std::string_view kRunValueName = "Hivewise.exe";

// The defaults written at first run, in the order they are written.
std::vector<std::pair<std::string, std::string>> DefaultSettings(
    const std::string& applicationFolder);

class Settings {
  public:
    explicit Settings(Machine& machine);

    // The stored text; nothing when the value or the settings key is missing.
    std::optional<std::string> Read(std::string_view name);
    // Fails when the settings key does not exist (it is never created here).
    bool Write(std::string_view name, std::string_view text);
    // On only when the stored text is "1"; other texts and a missing value are off.
    bool Flag(std::string_view name);
    bool WriteFlag(std::string_view name, bool on);
    bool KeyExists();

    enum class FirstRunResult {
        AlreadySet,       // the settings key was there
        DefaultsWritten,  // the key was created and every default written
        Failed,           // the key could not be created, or a default not written
    };
    // Creates the settings key with every default when it cannot be opened.
    FirstRunResult FirstRun();

    // Writes the run-at-start value; false (nothing written) when the Run key cannot
    // be opened.
    bool SetRunEntry();
    // Deletes the run-at-start value; a missing value or key is no error.
    void RemoveRunEntry();

    // The program's folder inside the machine, without a trailing backslash.
    const std::string& ApplicationFolder() const { return machine_.ProgramFolder(); }
    RegistryAccess& Registry() { return registry_; }
    Machine& GetMachine() { return machine_; }

  private:
    Machine& machine_;
    RegistryAccess registry_;
};

}  // namespace hivewise
