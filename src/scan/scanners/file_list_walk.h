#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/machine/string_table.h"
#include "platform/registry/registry_access.h"
#include "scan/scan_context.h"

// The walk the file-list scanners share: one key of HKEY_LOCAL_MACHINE, its sub-keys or
// its values by index, the continue flag before each item and a progress step after it.
namespace hivewise::file_list {

constexpr std::string_view kLongMachineRoot = "HKEY_LOCAL_MACHINE";
constexpr std::string_view kLongUserRoot = "HKEY_CURRENT_USER";

// Sub-key names are enumerated with a 255-character capacity.
constexpr size_t kSubKeyNameCapacity = 255;
// Value names are enumerated with the system's limit, but are kept in a 256-byte buffer:
// longer names are skipped rather than cut, because a cut name would report (and let
// repair remove) a value that does not exist.
constexpr size_t kValueNameEnumCapacity = 16383;
constexpr size_t kValueNameBufferChars = 255;

enum class Items { SubKeys, Values };

// What an item's steps ask of the walk afterwards.
enum class After { Step, NoStep };

// Every occurrence of `from` replaced by `to`, left to right, case as written.
inline std::string ReplaceAll(std::string text, std::string_view from, std::string_view to) {
    if (from.empty()) return text;
    size_t pos = 0;
    while ((pos = text.find(from, pos)) != std::string::npos) {
        text.replace(pos, from.size(), to);
        pos += to.size();
    }
    return text;
}

// The same, with the replacement asked for only when `from` occurs.
template <typename To>
inline std::string ReplaceAllWith(std::string text, std::string_view from, To&& to) {
    if (from.empty() || text.find(from) == std::string::npos) return text;
    return ReplaceAll(std::move(text), from, to());
}

// Reads a value of an open key as text; false when it is missing or does not fit.
inline bool ReadText(RegistryAccess& registry, RegHandle key, std::string_view name,
                     size_t capacity, std::string* text) {
    uint32_t type = 0;
    std::string data;
    if (registry.QueryValue(key, name, capacity, &type, &data) != kErrorSuccess) return false;
    *text = UpToNul(std::move(data));
    return true;
}

// The same for the value the walk is at: read by its index, so that a key of many values
// is not searched by name once per value.
inline bool ReadTextAt(RegistryAccess& registry, RegHandle key, uint32_t index, size_t capacity,
                       std::string* text) {
    uint32_t type = 0;
    std::string data;
    if (registry.EnumValue(key, index, nullptr, kValueNameEnumCapacity, &type, &data, capacity) !=
        kErrorSuccess) {
        return false;
    }
    *text = UpToNul(std::move(data));
    return true;
}

// One "file does not exist" finding; it needs nothing of the scan, so any thread may make it.
inline std::unique_ptr<Problem> MissingFileFinding(int sectionId, std::string_view itemText,
                                                   std::string_view location,
                                                   std::string_view valueName,
                                                   std::string_view valueData) {
    return std::make_unique<Problem>(
        sectionId,
        ProblemTexts{itemText, location, valueName, valueData, ResourceText(kIdsFileMissing)});
}

// Hands over one "file does not exist" finding.
inline void ReportMissingFile(ScanContext& context, int sectionId, std::string_view itemText,
                              std::string_view location, std::string_view valueName,
                              std::string_view valueData) {
    context.Report(MissingFileFinding(sectionId, itemText, location, valueName, valueData));
}

// Opens `walkedKey` under HKEY_LOCAL_MACHINE and runs `itemSteps(handle, index, name)` for each
// item while the continue flag holds. A key that cannot be opened, or has no items, is
// left without a step; an item that cannot be enumerated takes one progress step.
template <typename ItemSteps>
void WalkKey(ScanContext& context, std::string_view walkedKey, Items items, ItemSteps&& itemSteps) {
    RegistryAccess& registry = context.Registry();
    ScopedKey key(registry);
    if (registry.OpenKey(kHkeyLocalMachine, walkedKey, kKeyAllAccess, &key) != kErrorSuccess) {
        return;
    }
    uint32_t subKeys = 0;
    uint32_t values = 0;
    if (registry.QueryInfoKey(key, &subKeys, &values) != kErrorSuccess) {
        subKeys = values = 0;
    }
    const uint32_t count = items == Items::SubKeys ? subKeys : values;
    std::string name;
    for (uint32_t index = 0; index < count; ++index) {
        if (!context.Continue()) break;
        long status = items == Items::SubKeys
                          ? registry.EnumKey(key, index, &name, kSubKeyNameCapacity)
                          : registry.EnumValue(key, index, &name, kValueNameEnumCapacity);
        if (status != kErrorSuccess ||
            (items == Items::Values && name.size() > kValueNameBufferChars)) {
            context.ProgressStep();
            continue;
        }
        if (itemSteps(key, index, static_cast<const std::string&>(name)) == After::Step) {
            context.ProgressStep();
        }
    }
}

}  // namespace hivewise::file_list
