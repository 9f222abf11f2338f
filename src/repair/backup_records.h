#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry/registry_store.h"

// The record list of a fix backup ("Config.ini"): how records are written, how they are
// read back, and the archive's name and its display date.
namespace hivewise {

enum BackupItemKind {
    kBackupFile = 0,
    kBackupKey = 1,
    kBackupValue = 2,
    // A file of the user's desktop folders (a menu entry Wine made), by its host path.
    kBackupHostFile = 3,
};

// A registry value exactly as it was stored: its name, type and bytes.
using ExactValue = RegValue;

// One restorable item of a fix backup.
struct BackupItem {
    int kind = kBackupFile;
    std::string first;   // value: the VALUE text; key: the key path
    std::string second;  // key: the PATH text; file: the DEST_PATH
    std::string third;   // value: MAIN_KEY
    std::string fourth;  // value: VALUE_NAME
    // Written after a value record: the value as it really was, so that restoring it
    // gives back its type and bytes, not the scanner's text of it.
    std::optional<ExactValue> exact;
    // Written after a file record when another saved file already has its bare name:
    // the entry that holds this file's copy. Empty: the bare name of DEST_PATH.
    std::string entry;
    // A host file's permission bits (kBackupHostFile; its path is `second`).
    unsigned mode = 0;
};

// Record texts, each line ending in CR CR LF as the file has always been written.
std::string KeyRecord(std::string_view keyPath, int number);
std::string ValueRecord(std::string_view keyPath, std::string_view valueName,
                        std::string_view valueData, const ExactValue* exact);
std::string FileRecord(std::string_view destPath, std::string_view entry = {});
// A host file: its absolute path, its permission bits and the entry holding its copy.
std::string HostFileRecord(std::string_view hostPath, unsigned mode, std::string_view entry);

// The value of a "[KEY:value]" line: everything after the key and the character after
// it, up to the last ']'. A line without the key is returned whole; without ']', empty.
std::string ReadRecordField(std::string_view line, std::string_view key);

// The items of a record list, in order. Lines end at LF; CRs before it are ignored.
// Lines that start no record are skipped and a record cut off by the end is dropped.
std::vector<BackupItem> ReadConfigItems(std::string_view text);
// The same items handed to `take` one by one, for a caller that keeps them its own way:
// a large backup lists hundreds of thousands.
void ForEachConfigItem(std::string_view text, const std::function<void(BackupItem&&)>& take);
// How many records a list holds that ConfigIsSound accepts (each starts with its type line).
size_t ConfigRecordCount(std::string_view text);
// Whether a record list is whole: every line belongs to a complete record whose lines
// carry their keys, key exports are bare entry names, and nothing else is there.
bool ConfigIsSound(std::string_view text);

// "%s\%d,%d,%d_%d,%d,%d.zip" (folder, month, day, year, hour, minute, second); from the
// second backup of the same second on, "_2", "_3" ... before ".zip".
std::string ArchiveName(std::string_view folder, const std::tm& time, int sequence = 1);
// "Friday, December 07, 2007 Time: 14:03:09" for "12,7,2007_14,3,9"; empty when the
// name holds fewer than six numbers or they are no date.
std::string FormatBackupDate(std::string_view name);
// The six numbers and the sequence of an archive name (without ".zip"), for ordering;
// nothing when it has fewer than six numbers.
std::optional<std::vector<long>> BackupNameNumbers(std::string_view name);

// The bare name after the last backslash.
std::string BareName(std::string_view path);
// A file name with no folder part, drive, ".." or control character.
bool IsBareName(std::string_view name);

}  // namespace hivewise
