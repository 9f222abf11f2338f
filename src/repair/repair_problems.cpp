#include "repair/repair_problems.h"

#include "platform/files/file_system_access.h"
#include "platform/files/scratch_folder.h"
#include "platform/machine/prefix_lock.h"
#include "platform/registry/registry_access.h"
#include "repair/exact_value.h"
#include "repair/fix_backup.h"
#include "repair/registry_removal.h"
#include "scan/ignore_list.h"

namespace hivewise {
namespace {

// The sound scheme's values; a sound finding names one of them by its value name.
constexpr std::string_view kSoundsKey = "HKEY_CURRENT_USER\\Control Panel\\Sounds";

// What one finding removes.
struct Target {
    enum Kind { kNone, kKey, kValue, kFile } kind = kNone;
    std::string key;  // key path with its long root name
    std::string valueName;
    std::string file;
};

Target TargetOf(const Problem& problem) {
    Target target;
    switch (problem.sectionId) {
        case 1:
        case 2:
        case 3:
        case 4:
        case 9:
        case 10:
        case 11:
            target.kind = Target::kKey;
            target.key = problem.location;
            break;
        case 5:
        case 6:
        case 7:
        case 8:
        case 13:
            target.kind = Target::kValue;
            target.key = problem.location;
            target.valueName = problem.valueName;
            break;
        case 12: {
            // The finding's location is the sound key followed by the sound's data, a key
            // that does not exist; the stale thing is the sound value itself. A value with
            // empty data would name the whole scheme key: it is passed over.
            if (problem.valueData.empty()) break;
            std::string suffix = "\\" + problem.valueData;
            const std::string& location = problem.location;
            bool named =
                location.size() > suffix.size() &&
                location.compare(location.size() - suffix.size(), suffix.size(), suffix) == 0;
            target.kind = Target::kValue;
            target.key = named ? location.substr(0, location.size() - suffix.size())
                               : std::string(kSoundsKey);
            target.valueName = problem.valueName;
            break;
        }
        case 14:
            target.kind = Target::kFile;
            target.file = problem.itemText;
            break;
        default:
            break;
    }
    return target;
}

// Root key and sub-key path of a location; the root by its exact long name.
bool SplitLocation(const std::string& location, RegHandle* root, std::string* path) {
    size_t cut = location.find('\\');
    if (cut == std::string::npos) return false;
    auto handle = RegistryAccess::RootFromName(std::string_view(location).substr(0, cut));
    if (!handle) return false;
    *root = *handle;
    *path = location.substr(cut + 1);
    return true;
}

bool TargetExists(Machine& machine, const Target& target) {
    RegHandle root;
    std::string path;
    switch (target.kind) {
        case Target::kKey: {
            RegistryAccess registry(machine);
            return SplitLocation(target.key, &root, &path) && registry.KeyExists(root, path);
        }
        case Target::kValue:
            return SplitLocation(target.key, &root, &path) &&
                   ReadExactValue(machine, target.key, target.valueName).has_value();
        case Target::kFile: {
            // A file outside the prefix is neither saved nor removed.
            FileSystemAccess files(machine);
            return files.InPrefix(target.file) && files.PathFileExists(target.file);
        }
        default:
            return false;
    }
}

int RemoveTarget(Machine& machine, const Target& target) {
    RegistryAccess registry(machine);
    RegHandle root;
    std::string path;
    switch (target.kind) {
        case Target::kKey:
            return SplitLocation(target.key, &root, &path) ? DeleteRegKey(registry, root, path) : 0;
        case Target::kValue:
            return SplitLocation(target.key, &root, &path)
                       ? DeleteRegValue(registry, root, path, target.valueName)
                       : 0;
        case Target::kFile: {
            FileSystemAccess files(machine);
            return DeleteFileOrOnReboot(files, target.file);
        }
        default:
            return 0;
    }
}

int SaveTarget(FixBackup& backup, const Problem& problem, const Target& target, int number) {
    switch (target.kind) {
        case Target::kKey:
            return backup.BackupRegKey(target.key, number);
        case Target::kValue:
            return backup.BackupRegValue(target.key, target.valueName, problem.valueData);
        case Target::kFile:
            return backup.BackupFile(target.file);
        default:
            return 1;
    }
}

}  // namespace

int RemoveProblem(Machine& machine, const Problem& problem) {
    return RemoveTarget(machine, TargetOf(problem));
}

RepairOutcome RepairSelectedProblems(Machine& machine, ResultStore& results, UserPrompts& prompts,
                                     const RepairControls& controls) {
    RepairOutcome outcome;
    auto& problems = results.Problems();
    if (problems.empty()) {
        prompts.Message(std::string(kNoProblemsFoundText));
        return outcome;
    }
    int checked = 0;
    for (const auto& problem : problems) {
        if (problem->isChecked) ++checked;
    }
    if (checked == 0) {
        prompts.Message(std::string(kNoItemsCheckedText));
        return outcome;
    }
    // While Wine runs, the registry cannot be saved: removing files and keys now would
    // leave the two out of step. Say so before anything is touched.
    if (WineServerRunning(machine.PrefixDir())) {
        prompts.Message(WineRunningMessage(machine.PrefixDir()));
        return outcome;
    }
    RegistryAccess registry(machine);
    std::string setting;
    bool backupOn = !(registry.ReadSetting("NoAutoBackup", &setting) && setting == "1");
    if (backupOn) {
        prompts.Message(std::string(kAutoBackupNotice));
    } else if (!prompts.AskYesNo(std::string(kNoAutoBackupQuestion))) {
        return outcome;
    }

    FixBackup backup(machine);
    if (backupOn) {
        std::string work = WriteWorkFolder(machine);
        bool ready = PrepareScratchFolder(machine, work);
        if (!ready || !backup.BeginBackup(work)) {
            outcome.message = std::string(kBackupNotCreatedText);
            prompts.Message(outcome.message);
            return outcome;
        }
        outcome.archive = backup.ArchivePath();
    }

    bool flag = true;
    auto running = [&] { return controls.running ? controls.running() : flag; };
    if (controls.setRunning) controls.setRunning(true);
    if (controls.setProgressRange) controls.setProgressRange(checked);
    outcome.ran = true;

    int number = 1;
    for (auto& problem : problems) {
        if (!running()) break;
        // Only the root is expanded: a sub-key may itself hold "HKLM" and the like.
        problem->location = LongRootLocation(problem->location);
        if (problem->isChecked) {
            Target target = TargetOf(*problem);
            if (target.kind != Target::kNone) {
                bool exists = TargetExists(machine, target);
                // Nothing is removed that could not be saved first.
                if (backupOn && exists && SaveTarget(backup, *problem, target, number) != 1) {
                    ++outcome.notBackedUp;
                } else if (RemoveTarget(machine, target) == 1) {
                    ++outcome.removed;
                } else {
                    ++outcome.notRemoved;
                }
            }
            if (controls.stepProgress) controls.stepProgress();
        }
        if (controls.pumpEvents) controls.pumpEvents();
        ++number;
    }

    std::string keptLine;
    if (backupOn) {
        FixBackup::FinishResult finished = backup.FinishBackup();
        if (!finished.ok) {
            outcome.archive.clear();
            keptLine = "The backup archive could not be written. What was saved is kept in " +
                       finished.keptFolder + ".";
        }
    }
    outcome.aborted = !running();
    outcome.message =
        std::string(outcome.aborted ? kSystemRepairAbortedText : kSelectedProblemsFixedText);
    if (outcome.notBackedUp > 0) {
        outcome.message += "\n" + std::to_string(outcome.notBackedUp) +
                           " item(s) could not be backed up and were not removed.";
    }
    if (outcome.notRemoved > 0) {
        outcome.message +=
            "\n" + std::to_string(outcome.notRemoved) + " item(s) could not be removed.";
    }
    if (!keptLine.empty()) outcome.message += "\n" + keptLine;
    prompts.Message(outcome.message);
    if (controls.setRunning) controls.setRunning(false);
    if (controls.showSectionSelection) controls.showSectionSelection();
    return outcome;
}

}  // namespace hivewise
