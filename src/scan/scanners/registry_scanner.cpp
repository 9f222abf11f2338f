#include "scan/scanners/registry_scanner.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <exception>
#include <optional>
#include <utility>
#include <vector>

#include "platform/machine/text.h"
#include "scan/scanners/cased_text.h"
#include "scan/scanners/file_list_walk.h"
#include "scan/scanners/menu_entries_scanner.h"
#include "scan/scanners/ordered_hand_off.h"

namespace hivewise {
namespace {

constexpr size_t kSubKeyNameCapacity = 255;
constexpr size_t kValueNameCapacity = 16383;
constexpr size_t kValueDataCapacity = 260;
constexpr size_t kExpansionCapacity = 260;
constexpr uint32_t kValueBatch = 64;
// Windows refuses key paths of more levels than this; deeper keys are not entered.
constexpr size_t kMaxLevels = 512;

// The key is gone or its handle is no longer valid: nothing more can be read from it.
bool KeyLost(long status) {
    return status == kErrorKeyDeleted || status == kErrorInvalidHandle;
}

// Keys mirroring the class registrations (Software\Classes, the users' *_Classes).
bool IsClassesKey(const std::string& name) {
    return AnsiContainsNoCase(name, "classes");
}

// Cuts a drive path at what follows the file: resource numbers, document placeholders,
// switches and lists. The characters searched for have no letter case.
std::string_view CutAfterFile(std::string_view text) {
    size_t comma = text.find(',');
    if (comma != std::string_view::npos) text = text.substr(0, comma);
    // The library's search from the end (a string's own goes a byte at a time): every
    // drive path of the walk is searched for four characters.
    for (char c : {'%', '"', '/', ';'}) {
        if (const void* at = ::memrchr(text.data(), c, text.size()))
            text = text.substr(0, static_cast<size_t>(static_cast<const char*>(at) - text.data()));
    }
    // "C:\App\app.exe" "%1" leaves the quote and blank before the placeholder behind.
    while (!text.empty() && (text.back() == ' ' || text.back() == '"'))
        text.remove_suffix(1);
    return text;
}

// The file a string value names, when its text holds a drive path: from the drive letter
// on, the two folder variables replaced, and what follows the file cut off. Nothing when
// there is no drive path. The path keeps the letter case the registry stores; it is a part
// of `data`, or, when a variable was replaced, kept in `room`.
std::optional<std::string_view> DrivePathOf(FileSystemAccess& files, std::string_view data,
                                            std::string& room) {
    size_t colon = data.find(":\\");
    if (colon == std::string_view::npos || colon == 0) return std::nullopt;
    char letter = AnsiFoldChar(data[colon - 1]);
    if (letter < 'a' || letter > 'z') return std::nullopt;
    std::string_view path = data.substr(colon - 1);
    // Most paths name neither variable (a '%' is mostly a placeholder such as "%1"): they
    // are cut where they stand, without a copy.
    if (path.find('%') == std::string_view::npos || (!AnsiContainsNoCase(path, "%systemroot%") &&
                                                     !AnsiContainsNoCase(path, "%programfiles%"))) {
        return CutAfterFile(path);
    }
    CasedText text{std::string(path)};
    text.ReplaceAllWith("%systemroot%", [&] { return files.WindowsDirectory(); });
    text.ReplaceAllWith("%programfiles%", [&] { return files.ProgramFilesDirectory(); });
    room.assign(CutAfterFile(text.Text()));
    return room;
}

// False when DrivePathOf would find no drive path in `text` (letter case does not
// change a colon or backslash, and a drive letter needs a character before them).
bool MayHoldDrivePath(std::string_view text) {
    size_t colon = text.find(":\\");
    return colon != std::string_view::npos && colon != 0;
}

// The keys a walk has entered, as bits by the store's numbers of its keys: a walk of a
// large registry enters every key, and bits of a few tens of kilobytes stay in the cache
// where a set of their addresses missed it for every key.
class KeySet {
  public:
    explicit KeySet(size_t numbers) : words_((numbers + 63) / 64) {}

    // False when `number` was in the set already.
    bool Insert(size_t number) {
        const size_t word = number / 64;
        // Keys made during the walk may have numbers past those it was made for.
        if (word >= words_.size()) words_.resize(std::max(word + 1, 2 * words_.size()));
        const uint64_t bit = uint64_t{1} << (number % 64);
        if (words_[word] & bit) return false;
        words_[word] |= bit;
        return true;
    }

  private:
    std::vector<uint64_t> words_;
};

// One walk over a key and everything below it, with an explicit stack of the keys it is in, so
// that the depth of the registry never reaches the call stack.
class RegistryWalk {
  public:
    explicit RegistryWalk(ScanContext& context)
        : context_(context),
          registry_(context.Registry()),
          files_(context.Files()),
          visited_(registry_.KeyNumberLimit()),
          checks_([this](std::string_view path, std::string_view keyPath,
                         std::string_view valueName) { return Finding(path, keyPath, valueName); },
                  [this](std::unique_ptr<Problem> finding) { Report(std::move(finding)); },
                  {.keepWhereChecked = true}) {}

    // Keys reached under `skip` are left to another walk.
    void Run(RegHandle key, const std::string& path, RegHandle skip = 0) {
        const WalkedKey root = registry_.Walk(key);
        MarkVisited(root);
        if (skip != 0) MarkVisited(registry_.Walk(skip));
        path_ = path;
        Enter(root, path_.size());
        while (!levels_.empty()) {
            bool ok = true;
            try {
                ok = Advance();
            } catch (const std::exception&) {
                // Whatever the platform raised while this key was read ends its walk alone.
                ok = false;
            }
            if (!ok) {
                context_.ShowMessage(std::string(kInternalErrorText));
                Leave();
            }
        }
        checks_.Finish();
        for (size_t faults = checks_.TakeFaults(); faults > 0; --faults)
            context_.ShowMessage(std::string(kInternalErrorText));
    }

  private:
    // The walk holds its keys without handles: it enters every key of the registry.
    struct Level {
        Level(const WalkedKey& walked, size_t keyPathLength)
            : key(walked), pathLength(keyPathLength) {}
        WalkedKey key;
        size_t pathLength = 0;     // of its path, at the start of the walk's path
        bool menuRecords = false;  // Wine's records of its menu files: judged elsewhere
        uint32_t subKeys = 0;
        uint32_t values = 0;
        uint32_t nextSubKey = 0;
    };

    // A key reached again (through a link) is not walked twice; a key without the store's
    // number counts as one key of its own.
    bool FirstVisit(const WalkedKey& key) {
        if (std::optional<size_t> number = key.Number()) return visited_.Insert(*number);
        return !std::exchange(unknownVisited_, true);
    }

    void MarkVisited(const WalkedKey& key) {
        if (std::optional<size_t> number = key.Number()) visited_.Insert(*number);
    }

    // The path of a level on the stack: every level's path starts the innermost one's.
    std::string_view PathOf(const Level& level) const {
        return std::string_view(path_).substr(0, level.pathLength);
    }

    void Enter(const WalkedKey& key, size_t pathLength) {
        Level level(key, pathLength);
        level.menuRecords = IsMenuBuilderRecordKey(PathOf(level));
        if (registry_.QueryInfoKey(key, &level.subKeys, &level.values) != kErrorSuccess) {
            context_.ShowMessage(std::string(kInternalErrorText));
            return;
        }
        levels_.push_back(std::move(level));
    }

    void Leave() { levels_.pop_back(); }

    // One sub-key of the innermost level, or, once they are done, its values and the
    // return to its parent. False on a fault of that level.
    bool Advance() {
        Level& level = levels_.back();
        if (level.nextSubKey < level.subKeys && context_.Continue()) {
            return VisitSubKey(level, level.nextSubKey++);
        }
        bool ok = ExamineValues(level);
        if (ok) Leave();
        return ok;
    }

    bool VisitSubKey(const Level& level, uint32_t index) {
        long status = registry_.EnumKey(level.key, index, &name_, kSubKeyNameCapacity);
        if (status != kErrorSuccess) return !KeyLost(status);
        if (IsClassesKey(name_) || levels_.size() >= kMaxLevels) return true;
        WalkedKey child;
        if (registry_.OpenEnumeratedKey(level.key, index, name_, &child) != kErrorSuccess) {
            return true;
        }
        if (!FirstVisit(child)) return true;
        // The walk's path is this level's until the child's is added.
        path_.resize(level.pathLength);
        path_.append(1, '\\').append(name_);
        Enter(child, path_.size());
        return true;
    }

    bool ExamineValues(const Level& level) {
        uint32_t batchEnd = 0;
        long batchStatus = kErrorSuccess;
        for (uint32_t index = 0; index < level.values && context_.Continue(); ++index) {
            // The key's values are read some at a time, with one look-up each time, and
            // again as soon as the registry changed (the window may write meanwhile).
            if (index == batchEnd || registry_.ChangeCount() != batch_.changeCount) {
                batchEnd = index + std::min(kValueBatch, level.values - index);
                batchStatus = registry_.EnumValues(level.key, index, batchEnd - index,
                                                   kValueNameCapacity, kValueDataCapacity, &batch_);
                if (KeyLost(batchStatus)) return false;
            }
            const size_t at = index - batch_.first;
            RegistryAccess::EnumeratedValue* value =
                at < batch_.values.size() ? &batch_.values[at] : nullptr;
            const long status = batchStatus != kErrorSuccess ? batchStatus
                                : value                      ? value->status
                                                             : kErrorNoMoreItems;
            if (status != kErrorSuccess) {
                context_.ProgressStep();
                continue;
            }
            if (value->type == kRegSz || value->type == kRegExpandSz) {
                // The batch's strings change places with the walk's, so that both keep room.
                name_.swap(value->name);
                data_.swap(value->data);
                data_ = UpToNul(std::move(data_));
                ExamineText(level, value->type);
                context_.SetStatusLine(PathOf(level), name_);
                context_.PumpMessages();
            }
            context_.ProgressStep();
        }
        return true;
    }

    // Judges the string value in `data_`.
    void ExamineText(const Level& level, uint32_t type) {
        // Wine's records of its menu files go with those files (section 15).
        if (level.menuRecords) return;
        std::optional<std::string> expanded;
        // A text without a variable expands to itself.
        if (type == kRegExpandSz && data_.find('%') != std::string::npos)
            expanded = files_.ExpandEnvironmentStrings(data_, kExpansionCapacity);
        const std::string& data = expanded && !expanded->empty() ? *expanded : data_;
        // Most values hold no drive path; they are passed over before any copy is made.
        if (!MayHoldDrivePath(data)) return;
        std::optional<std::string_view> path = DrivePathOf(files_, data, pathRoom_);
        if (path) checks_.Push(*path, PathOf(level), name_);
    }

    // The finding when the path names nothing. In a large walk this runs on the hand-off's
    // thread: it alone uses the scan's answers meanwhile.
    std::unique_ptr<Problem> Finding(std::string_view path, std::string_view keyPath,
                                     std::string_view valueName) {
        if (!context_.Continue()) return nullptr;
        // The same program or folder is named by many values (class, uninstall, run,
        // recent-file and cache entries): the scan's cache answers each text once.
        if (FileReferenceExists(context_.Refs(), path)) return nullptr;
        checkedPath_.assign(path);
        if (FolderExists(context_.Refs(), checkedPath_)) return nullptr;
        return file_list::MissingFileFinding(kSectionCompleteScan, path, keyPath, valueName, path);
    }

    // In the order the values were met; in a large walk on the hand-off's thread, which
    // then alone reports.
    void Report(std::unique_ptr<Problem> finding) {
        if (context_.Continue()) context_.Report(std::move(finding));
    }

    ScanContext& context_;
    RegistryAccess& registry_;
    FileSystemAccess& files_;
    std::vector<Level> levels_;
    // The innermost level's key path, which begins with those of all the others.
    std::string path_;
    KeySet visited_;
    bool unknownVisited_ = false;
    // Buffers reused from item to item.
    std::string name_;
    std::string data_;
    RegistryAccess::ValueBatch batch_;
    std::string pathRoom_;     // a path whose variables were replaced
    std::string checkedPath_;  // the hand-off's thread's
    // Last, so that it finishes its items before the rest of the walk goes.
    OrderedHandOff checks_;
};

void ScanRoot(ScanContext& context, RegHandle root, std::string_view rootName) {
    RegistryAccess& registry = context.Registry();
    ScopedKey software(registry);
    if (registry.OpenKey(root, "SOFTWARE", kKeyAllAccess, &software) != kErrorSuccess) {
        context.ShowMessage(std::string(kRegOpenFailedText));
        return;
    }
    // The whole root is walked; SOFTWARE only decides whether the pass runs.
    WalkRegistryTree(context, root, std::string(rootName));
}

}  // namespace

void WalkRegistryTree(ScanContext& context, RegHandle key, const std::string& path,
                      RegHandle skip) {
    if (!context.Continue()) return;
    RegistryWalk(context).Run(key, path, skip);
}

void ScanMachineRegistry(ScanContext& context) {
    ScanRoot(context, kHkeyLocalMachine, "HKEY_LOCAL_MACHINE");
}

void ScanUserRegistry(ScanContext& context) {
    ScanRoot(context, kHkeyCurrentUser, "HKEY_CURRENT_USER");
}

}  // namespace hivewise
