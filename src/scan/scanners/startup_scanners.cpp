#include "scan/scanners/startup_scanners.h"

#include "scan/scanners/file_list_walk.h"

namespace hivewise {
namespace {

constexpr int kSectionStartup = 8;
constexpr int kSectionSounds = 12;
constexpr std::string_view kRunKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr std::string_view kSoundsKey = "Control Panel\\Sounds";
using file_list::kLongUserRoot;
// Value data is read into a 260-byte buffer; longer data is skipped rather than cut,
// since a cut path would be judged as a file that was never named.
constexpr size_t kDataCapacity = 260;

// Opens `path` under `root` and runs `valueSteps(name, data)` for each value whose name and
// data fit their buffers, while the continue flag holds; every index takes a progress
// step. False when the key cannot be opened.
template <typename ValueSteps>
bool WalkValues(ScanContext& context, RegHandle root, std::string_view path,
                ValueSteps&& valueSteps) {
    using namespace file_list;
    RegistryAccess& registry = context.Registry();
    ScopedKey key(registry);
    if (registry.OpenKey(root, path, kKeyAllAccess, &key) != kErrorSuccess) return false;
    uint32_t subKeys = 0;
    uint32_t values = 0;
    if (registry.QueryInfoKey(key, &subKeys, &values) != kErrorSuccess) values = 0;
    std::string name;
    std::string data;
    uint32_t type = 0;
    for (uint32_t index = 0; index < values; ++index) {
        if (!context.Continue()) break;
        if (registry.EnumValue(key, index, &name, kValueNameEnumCapacity, &type, &data,
                               kDataCapacity) == kErrorSuccess &&
            name.size() <= kValueNameBufferChars) {
            valueSteps(static_cast<const std::string&>(name), UpToNul(data));
        }
        context.ProgressStep();
    }
    return true;
}

}  // namespace

void ScanStartupPrograms(ScanContext& context) {
    using namespace file_list;
    struct Pass {
        RegHandle root;
        std::string_view rootName;
    };
    for (const Pass& pass :
         {Pass{kHkeyLocalMachine, kLongMachineRoot}, Pass{kHkeyCurrentUser, kLongUserRoot}}) {
        const std::string location = std::string(pass.rootName) + "\\" + std::string(kRunKey);
        bool opened = WalkValues(
            context, pass.root, kRunKey, [&](const std::string& name, const std::string& data) {
                // A plain path to an existing program needs no further test.
                if (!context.Files().PathFileExists(data) &&
                    !FileReferenceExists(context.Refs(), data)) {
                    ReportMissingFile(context, kSectionStartup, data, location, name, data);
                }
                context.SetStatusLine(location, data);
                context.PumpMessages();
            });
        // Without the machine's Run key the user's is not looked at either.
        if (!opened) return;
    }
}

void ScanSounds(ScanContext& context) {
    using namespace file_list;
    const std::string key = std::string(kLongUserRoot) + "\\" + std::string(kSoundsKey) + "\\";
    WalkValues(context, kHkeyCurrentUser, kSoundsKey,
               [&](const std::string& name, const std::string& data) {
                   // "," stands for "no sound".
                   if (data != "," && !FileReferenceExists(context.Refs(), data)) {
                       ReportMissingFile(context, kSectionSounds, data, key + data, name, data);
                   }
                   context.SetStatusLine(key + data);
                   context.PumpMessages();
               });
    ScanSoundEvents(context);
}

}  // namespace hivewise
