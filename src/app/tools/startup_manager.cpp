#include "app/tools/startup_manager.h"

#include "platform/files/file_system_access.h"
#include "platform/machine/string_table.h"
#include "platform/machine/text.h"
#include "repair/registry_removal.h"

namespace hivewise {
namespace {

// Run data as the list shows it: string data up to its terminator; other types as the
// text their bytes spell.
std::string RunDataText(std::string data) {
    size_t nul = data.find('\0');
    if (nul != std::string::npos) data.resize(nul);
    return data;
}

std::string Unquoted(std::string text) {
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"') {
        text = text.substr(1, text.size() - 2);
    }
    return text;
}

}  // namespace

std::string StartupDetailsPath(const std::string& runPath) {
    std::string path = AnsiLower(runPath);
    size_t exe = path.find(".exe");
    if (exe != std::string::npos) path.resize(exe + 4);
    std::string out;
    for (char c : path) {
        if (c != '"') out.push_back(c);
    }
    return out;
}

StartupProgramManager::StartupProgramManager(Machine& machine, UserPrompts& prompts,
                                             RestoreOpener openRestore)
    : EntryManager(machine, prompts, std::move(openRestore)) {}

ManagerColumn StartupProgramManager::Column(int index) const {
    return index == 0 ? ManagerColumn{"Program Name", 150} : ManagerColumn{"Run Path", 320};
}

std::string StartupProgramManager::Explanation() const {
    return LoadResourceText(kIdsStartupExplanation);
}

void StartupProgramManager::Fill() {
    ClearRows();
    entries_.clear();
    for (int machineWide : {1, 0}) {
        RegHandle key = 0;
        if (registry_.OpenKey(machineWide ? kHkeyLocalMachine : kHkeyCurrentUser, kRunKeyPath,
                              kKeyAllAccess, &key) != kErrorSuccess) {
            continue;
        }
        uint32_t values = 0;
        registry_.QueryInfoKey(key, nullptr, &values);
        for (uint32_t i = 0; i < values; ++i) {
            StartupEntry entry;
            entry.machineWide = machineWide;
            std::string data;
            // Commands of any length are listed whole.
            if (registry_.EnumValue(key, i, &entry.programName, 16383, nullptr, &data) !=
                kErrorSuccess) {
                continue;
            }
            entry.runPath = RunDataText(std::move(data));
            AddRow(entry.programName, entry.runPath);
            entries_.push_back(std::move(entry));
        }
        registry_.CloseKey(key);
    }
}

std::string StartupProgramManager::DetailsPath(size_t row) const {
    return StartupDetailsPath(entries_[row].runPath);
}

EntryManager::RemoveResult StartupProgramManager::RemoveRow(size_t row) {
    const StartupEntry& entry = entries_[row];
    if (!ParkStartupEntry(registry_, entry)) return RemoveResult::NotParked;
    RegHandle root = entry.machineWide ? kHkeyLocalMachine : kHkeyCurrentUser;
    if (!DeleteRegValue(registry_, root, kRunKeyPath, entry.programName)) {
        return RemoveResult::NotRemoved;
    }
    return RemoveResult::Removed;
}

void StartupProgramManager::RunSelected() {
    int mark = SelectionMark();
    if (mark < 0 || static_cast<size_t>(mark) >= entries_.size()) {
        prompts_.Message(std::string(kSelectItemToRunText));
        return;
    }
    const std::string& runPath = entries_[static_cast<size_t>(mark)].runPath;
    FileSystemAccess files(machine_);
    if (files.LaunchProgram(Unquoted(runPath), "", false)) return;
    // The program ends at some space; its parameters keep their leading space.
    for (size_t split = runPath.find(' '); split != std::string::npos;
         split = runPath.find(' ', split + 1)) {
        if (files.LaunchProgram(Unquoted(runPath.substr(0, split)), runPath.substr(split), false)) {
            return;
        }
    }
    prompts_.Message(std::string(kCouldNotLaunchText));
}

}  // namespace hivewise
