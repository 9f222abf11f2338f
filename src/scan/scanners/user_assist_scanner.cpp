#include "scan/scanners/file_list_walk.h"
#include "scan/scanners/startup_scanners.h"

namespace hivewise {
namespace {

constexpr int kUserAssistSection = 13;
constexpr std::string_view kUserAssistKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\UserAssist";
using file_list::kLongUserRoot;

// The path a decoded user-assist name names: what follows its first colon, without
// further leading colons, when a drive colon is left in it ("KIND:C:\x.exe" gives
// "C:\x.exe"). Empty for counters, folders by shell name and class identifiers.
std::string UserAssistPath(const std::string& decoded) {
    if (decoded.find("csidl23") != std::string::npos) return {};
    size_t colon = decoded.find(':');
    if (colon == std::string::npos) return {};
    size_t start = decoded.find_first_not_of(':', colon);
    if (start == std::string::npos) return {};
    std::string rest = decoded.substr(start);
    if (rest.find(':') == std::string::npos) return {};
    return rest;
}

}  // namespace

std::string DecodeRot13(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>('a' + (c - 'a' + 13) % 26);
        } else if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>('A' + (c - 'A' + 13) % 26);
        }
    }
    return out;
}

void ScanUserAssistCount(ScanContext& context, const std::string& countKey) {
    using namespace file_list;
    RegistryAccess& registry = context.Registry();
    ScopedKey key(registry);
    if (registry.OpenKey(kHkeyCurrentUser, countKey, kKeyAllAccess, &key) != kErrorSuccess) {
        return;
    }
    uint32_t subKeys = 0;
    uint32_t values = 0;
    if (registry.QueryInfoKey(key, &subKeys, &values) != kErrorSuccess) values = 0;
    const std::string location = std::string(kLongUserRoot) + "\\" + countKey;
    std::string name;
    for (uint32_t index = 0; index < values && context.Continue(); ++index) {
        // A name beyond the buffer is skipped: cut, it would name no value.
        if (registry.EnumValue(key, index, &name, kValueNameEnumCapacity) != kErrorSuccess ||
            name.size() > kValueNameBufferChars) {
            continue;
        }
        std::string path = UserAssistPath(DecodeRot13(name));
        if (path.empty() || FileReferenceExists(context.Refs(), path)) continue;
        ReportMissingFile(context, kUserAssistSection, name, location, name, path);
    }
}

void ScanUserAssist(ScanContext& context) {
    using namespace file_list;
    RegistryAccess& registry = context.Registry();
    ScopedKey key(registry);
    if (registry.OpenKey(kHkeyCurrentUser, kUserAssistKey, kKeyAllAccess, &key) != kErrorSuccess) {
        return;
    }
    uint32_t subKeys = 0;
    uint32_t values = 0;
    if (registry.QueryInfoKey(key, &subKeys, &values) != kErrorSuccess) subKeys = 0;
    std::string name;
    for (uint32_t index = 0; index < subKeys && context.Continue(); ++index) {
        if (registry.EnumKey(key, index, &name, kSubKeyNameCapacity) != kErrorSuccess) continue;
        while (!name.empty() && name.back() == '\\')
            name.pop_back();
        ScanUserAssistCount(context, std::string(kUserAssistKey) + "\\" + name + "\\Count");
    }
}

}  // namespace hivewise
