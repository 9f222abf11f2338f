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

// Texts with a line break come back with blanks for it.
std::string Blanked(std::string_view text) {
    std::string blanked(text);
    for (char& c : blanked) {
        if (c == '\r' || c == '\n') c = ' ';
    }
    return blanked;
}

// The input's pieces between US characters as the fields of records: what is written
// must read back the same, and be sound unless a field holds a NUL (refused on purpose).
void RoundTrip(std::string_view text) {
    std::string_view fields[4];
    for (std::string_view& field : fields) {
        size_t cut = text.find('\x1f');
        field = text.substr(0, cut);
        text = cut == std::string_view::npos ? std::string_view{} : text.substr(cut + 1);
    }
    const auto& [keyPath, valueName, valueData, destPath] = fields;
    ExactValue exact{u"name", 7, std::string(valueData)};
    std::string records = KeyRecord(keyPath, 3) +
                          ValueRecord(keyPath, valueName, valueData, &exact) +
                          FileRecord(destPath, "copy~2.dll") + FileRecord(destPath);
    std::vector<BackupItem> items = ReadConfigItems(records);
    if (items.size() != 4) __builtin_trap();
    if (items[0].kind != kBackupKey || items[0].first != Blanked(keyPath) ||
        items[0].second != "\\rkBackUp3.reg") {
        __builtin_trap();
    }
    if (items[1].kind != kBackupValue || items[1].third != Blanked(keyPath) ||
        items[1].fourth != Blanked(valueName) || items[1].first != Blanked(valueData) ||
        !items[1].exact || items[1].exact->data != valueData || items[1].exact->type != 7) {
        __builtin_trap();
    }
    for (const BackupItem& item : {items[2], items[3]}) {
        if (item.kind != kBackupFile || item.second != Blanked(destPath)) __builtin_trap();
    }
    if (items[2].entry != "copy~2.dll" || !items[3].entry.empty()) __builtin_trap();
    bool nul = records.find('\0') != std::string::npos;
    if (!nul && !destPath.empty() && !ConfigIsSound(records)) __builtin_trap();
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
    RoundTrip(text);
    ReadRecordField(text, "TYPE");
    ReadRecordField(text, "");
    // The first line as an archive's file name.
    ReadName(text.substr(0, text.find('\n')));
    return 0;
}
