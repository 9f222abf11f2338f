#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/machine/string_table.h"
#include "platform/machine/text.h"
#include "platform/registry/registry_access.h"
#include "scan/scan_context.h"
#include "scan/scanners/cased_text.h"
#include "scan/scanners/file_list_walk.h"

// What the scanners of HKEY_CLASSES_ROOT share: the long root name of their locations,
// the walk of one key's sub-keys by index, the status line of a visited key, and the
// hand-over of their findings.
namespace hivewise::classes_root {

constexpr std::string_view kLongClassesRoot = "HKEY_CLASSES_ROOT";
constexpr std::string_view kOpenFailedMessage = "RegOpenKeyEx FAILED";
constexpr size_t kSubKeyNameCapacity = file_list::kSubKeyNameCapacity;
constexpr size_t kDefaultValueCapacity = 255;

// "HKEY_CLASSES_ROOT\<path>"; the root alone for the empty path.
inline std::string Location(std::string_view path) {
    std::string location(kLongClassesRoot);
    location += '\\';
    location += path;
    return location;
}

// Shows the key on the status line and lets the window breathe once.
inline void ShowKey(ScanContext& context, std::string_view path) {
    context.SetStatusLine(Location(path));
    context.PumpMessages();
}

// The message box of a walked key that cannot be opened.
inline void ShowOpenFailed(ScanContext& context) {
    context.GetMachine().Host().ShowMessage(std::string(kOpenFailedMessage));
}

inline void Report(ScanContext& context, int sectionId, std::string_view itemText,
                   std::string_view location, std::string_view valueName,
                   std::string_view valueData, int descriptionId) {
    context.Report(std::make_unique<Problem>(
        sectionId,
        ProblemTexts{itemText, location, valueName, valueData, ResourceText(descriptionId)}));
}

// The default value of an open key as text, whatever its type; false when it is missing
// or longer than 255 bytes.
inline bool ReadDefault(RegistryAccess& registry, RegHandle key, std::string* text) {
    return file_list::ReadText(registry, key, "", kDefaultValueCapacity, text);
}

// Any spelling of the two variables is replaced; the rest keeps the case the registry
// stores.
inline std::string NormaliseServerPath(FileSystemAccess& files, std::string_view path) {
    CasedText text{std::string(path)};
    text.ReplaceAllWith("%systemroot%", [&] { return files.WindowsDirectory(); });
    text.ReplaceAllWith("%programfiles%", [&] { return files.ProgramFilesDirectory(); });
    return text.Text();
}

// What the walk does after an item, or after a name it could not enumerate.
enum class After { Step, NoStep };

// Runs `onName(key, name)` for each sub-key of an open key by index while the continue
// flag holds; `onFailure()` says whether an index that cannot be enumerated steps the
// bar. Sub-keys are counted once, before the walk.
template <typename OnName, typename OnFailure>
void ForEachSubKey(ScanContext& context, RegHandle key, OnName&& onName, OnFailure&& onFailure) {
    RegistryAccess& registry = context.Registry();
    uint32_t count = 0;
    if (registry.QueryInfoKey(key, &count, nullptr) != kErrorSuccess) return;
    std::string name;
    for (uint32_t index = 0; index < count; ++index) {
        if (!context.Continue()) break;
        After after = registry.EnumKey(key, index, &name, kSubKeyNameCapacity) == kErrorSuccess
                          ? onName(key, static_cast<const std::string&>(name))
                          : onFailure();
        if (after == After::Step) context.ProgressStep();
    }
}

}  // namespace hivewise::classes_root
