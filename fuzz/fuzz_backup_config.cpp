// The record list of a fix backup ("Config.ini" in its archive) and the archive's file
// name, both of which come from outside when a backup is listed or restored.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "repair/backup_records.h"

using namespace hivewise;

namespace {

void ReadName(std::string_view name) {
    auto numbers = BackupNameNumbers(name);
    std::string date = FormatBackupDate(name);
    // A date is only made of a name with all of its numbers.
    if (!date.empty() && !numbers) __builtin_trap();
    if (numbers && numbers->size() < 6) __builtin_trap();
    BareName(name);
    IsBareName(name);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<BackupItem> items = ReadConfigItems(text);
    if (ConfigIsSound(text)) {
        // What the soundness check let through is what restoring relies on: key exports
        // and saved files named by bare entry names.
        for (const BackupItem& item : items) {
            if (item.kind == kBackupKey) {
                if (item.second.empty() || item.second[0] != '\\' ||
                    !IsBareName(std::string_view(item.second).substr(1))) {
                    __builtin_trap();
                }
            } else if (item.kind == kBackupFile) {
                if (item.second.empty()) __builtin_trap();
                if (!item.entry.empty() && !IsBareName(item.entry)) __builtin_trap();
            }
        }
    }
    ReadRecordField(text, "TYPE");
    ReadRecordField(text, "");
    // The first line as an archive's file name.
    ReadName(text.substr(0, text.find('\n')));
    return 0;
}
