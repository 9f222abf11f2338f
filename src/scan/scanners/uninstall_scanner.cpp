#include <cstdint>

#include "platform/machine/text.h"
#include "scan/scanners/cased_text.h"
#include "scan/scanners/file_list_scanners.h"
#include "scan/scanners/file_list_walk.h"
#include "scan/scanners/missing_file_checks.h"

namespace hivewise {
namespace {

constexpr int kSectionUninstall = 3;
constexpr std::string_view kUninstallKey =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
constexpr std::string_view kUninstallStringName = "UninstallString";
constexpr size_t kCommandCapacity = 260;

// "SystemComponent" read into a 32-bit number, as a DWORD buffer receives it: the
// bytes delivered, little-endian, the rest zero. Data wider than 4 bytes does not read.
bool IsSystemComponent(RegistryAccess& registry, RegHandle entry) {
    uint32_t type = 0;
    std::string data;
    if (registry.QueryValue(entry, "SystemComponent", sizeof(uint32_t), &type, &data) !=
        kErrorSuccess) {
        return false;
    }
    uint32_t number = 0;
    for (size_t i = 0; i < data.size(); ++i) {
        number |= static_cast<uint32_t>(static_cast<unsigned char>(data[i])) << (8 * i);
    }
    return number == 1;
}

// Any spelling of the two variables is replaced; the rest keeps its letter case.
std::string NormaliseCommand(FileSystemAccess& files, const std::string& command) {
    CasedText text(command);
    text.ReplaceAllWith("%systemroot%", [&] { return files.WindowsDirectory(); });
    text.ReplaceAllWith("%programfiles%", [&] { return files.ProgramFilesDirectory(); });
    return text.Text();
}

}  // namespace

void ScanUninstallEntries(ScanContext& context) {
    using namespace file_list;
    RegistryAccess& registry = context.Registry();
    const std::string keyLocation =
        std::string(kLongMachineRoot) + "\\" + std::string(kUninstallKey) + "\\";
    MissingFileChecks checks(context, kSectionUninstall, kUninstallStringName);
    WalkKey(context, kUninstallKey, Items::SubKeys,
            [&](RegHandle walked, uint32_t, const std::string& name) {
                // The entry's key, opened below the walked key that its path names.
                ScopedKey entry(registry);
                if (registry.OpenKey(walked, name, kKeyAllAccess, &entry) != kErrorSuccess) {
                    return After::Step;
                }
                // System components and entries without an uninstall command are passed over
                // without a progress step; their key is closed all the same.
                if (IsSystemComponent(registry, entry)) {
                    return After::NoStep;
                }
                std::string command;
                if (!ReadText(registry, entry, kUninstallStringName, kCommandCapacity, &command)) {
                    return After::Step;
                }
                if (command.empty()) {
                    return After::NoStep;
                }
                std::string reference = NormaliseCommand(context.Files(), command);
                std::string location = keyLocation + name;
                checks.Check(reference, location, command);
                context.SetStatusLine(std::move(location));
                context.PumpMessages();
                return After::Step;
            });
    checks.Finish();
}

}  // namespace hivewise
