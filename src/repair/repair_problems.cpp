#include "repair/repair_problems.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <limits>
#include <memory>

#include "platform/files/file_system_access.h"
#include "platform/files/scratch_folder.h"
#include "platform/files/xdg_folders.h"
#include "platform/machine/prefix_lock.h"
#include "platform/machine/string_table.h"
#include "platform/machine/text.h"
#include "platform/registry/registry_access.h"
#include "platform/registry/registry_editor.h"
#include "repair/fix_backup.h"
#include "repair/registry_removal.h"
#include "scan/ignore_list_file.h"
#include "scan/scan_section.h"
#include "scan/scanners/menu_entries_scanner.h"
#include "scan/text_table.h"

namespace hivewise {
namespace {

// The sound scheme's values; a sound finding names one of them by its value name.
constexpr std::string_view kSoundsKey = "HKEY_CURRENT_USER\\Control Panel\\Sounds";

// What one finding removes.
struct Target {
    enum Kind { kNone, kKey, kValue, kFile, kHostFile } kind = kNone;
    std::string key;  // key path with its long root name
    std::string valueName;
    std::string file;
    // kHostFile: a menu builder file, and the record of it in Wine's registry, if any:
    // a MenuFiles value (key and valueName) or a FileOpenAssociations key (key alone).
    std::filesystem::path hostFile;
};

// The record a menu entry finding names: only Wine's own keys of the current user.
void TakeMenuRecord(const Problem& problem, Target* target) {
    const std::string root = "HKEY_CURRENT_USER\\";
    const std::string menus = root + std::string(kMenuFilesKey);
    const std::string types = root + std::string(kFileOpenAssociationsKey) + "\\";
    const std::string_view location = problem.Location();
    if (AnsiEqualsNoCase(location, menus) && !problem.ValueName().empty()) {
        target->key = location;
        target->valueName = problem.ValueName();
    } else if (location.size() > types.size() &&
               AnsiEqualsNoCase(location.substr(0, types.size()), types) &&
               location.find('\\', types.size()) == std::string_view::npos) {
        target->key = location;
    }
}

Target TargetOf(const Problem& problem) {
    Target target;
    if (problem.sectionId == 12) {
        // The finding's location is the sound key followed by the sound's data, a key
        // that does not exist; the stale thing is the sound value itself. A value with
        // empty data would name the whole scheme key: it is passed over.
        if (problem.ValueData().empty()) return target;
        std::string key(FindingKeyPath(problem));
        target.kind = Target::kValue;
        target.key = key != problem.Location() ? key : std::string(kSoundsKey);
        target.valueName = problem.ValueName();
        // A sound event's file is the default value of its scheme key.
        if (key != problem.Location() && !AnsiEqualsNoCase(target.key, kSoundsKey) &&
            target.valueName == LoadResourceText(kIdsDefaultValueName)) {
            target.valueName.clear();
        }
        return target;
    }
    switch (ScopeOf(problem.sectionId)) {
        case FindingScope::kKey:
            target.kind = Target::kKey;
            target.key = problem.Location();
            break;
        case FindingScope::kValue:
            target.kind = Target::kValue;
            target.key = problem.Location();
            target.valueName = problem.ValueName();
            break;
        case FindingScope::kFile:
            target.kind = Target::kFile;
            target.file = problem.ItemText();
            break;
        case FindingScope::kHostFile:
            target.kind = Target::kHostFile;
            target.hostFile = problem.ValueData();
            TakeMenuRecord(problem, &target);
            break;
        case FindingScope::kNone:
            break;
    }
    return target;
}

// Root key and sub-key path of a location; the root by its exact long name.
bool SplitLocation(const std::string& location, RegHandle* root, std::string* path) {
    auto split = SplitRootPath(location);
    if (!split) return false;
    *root = split->first;
    *path = std::string(split->second);
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
        case Target::kHostFile: {
            auto folders = CurrentXdgFolders();
            struct stat st {};
            return folders && MayTouchMenuBuilderFile(*folders, target.hostFile) &&
                   ::lstat(target.hostFile.c_str(), &st) == 0;
        }
        default:
            return false;
    }
}

enum class Removal { kRemoved, kQueued, kFailed };

// The record first: a file whose record stayed would be removed by Wine again, but a
// record whose file stayed would leave the file in the menu for good.
Removal RemoveHostFile(Machine& machine, const Target& target) {
    auto folders = CurrentXdgFolders();
    if (!folders || !MayTouchMenuBuilderFile(*folders, target.hostFile)) return Removal::kFailed;
    if (!target.key.empty()) {
        RegistryAccess registry(machine);
        RegHandle root;
        std::string path;
        if (!SplitLocation(target.key, &root, &path)) return Removal::kFailed;
        bool recorded = target.valueName.empty()
                            ? registry.KeyExists(root, path)
                            : ReadExactValue(machine, target.key, target.valueName).has_value();
        bool removed = target.valueName.empty()
                           ? DeleteRegKey(registry, root, path)
                           : DeleteRegValue(registry, root, path, target.valueName);
        if (recorded && !removed) return Removal::kFailed;
    }
    if (::unlink(target.hostFile.c_str()) != 0 && errno != ENOENT) return Removal::kFailed;
    return Removal::kRemoved;
}

Removal RemoveTarget(Machine& machine, const Target& target) {
    RegistryAccess registry(machine);
    RegHandle root;
    std::string path;
    bool done = false;
    switch (target.kind) {
        case Target::kKey:
            done = SplitLocation(target.key, &root, &path) && DeleteRegKey(registry, root, path);
            break;
        case Target::kValue:
            done = SplitLocation(target.key, &root, &path) &&
                   DeleteRegValue(registry, root, path, target.valueName);
            break;
        case Target::kFile: {
            FileSystemAccess files(machine);
            switch (DeleteFileNowOrAtRestart(files, target.file)) {
                case FileRemoval::kDeleted:
                    return Removal::kRemoved;
                case FileRemoval::kQueued:
                    return Removal::kQueued;
                case FileRemoval::kFailed:
                    return Removal::kFailed;
            }
            break;
        }
        case Target::kHostFile:
            return RemoveHostFile(machine, target);
        default:
            break;
    }
    return done ? Removal::kRemoved : Removal::kFailed;
}

// Gives a finding's location its root's long name, which its target names. Only the root
// is expanded: a sub-key may itself hold "HKLM" and the like.
void ExpandRoot(Problem& problem) {
    problem.SetLocation(LongRootLocation(problem.Location()));
}

// The thing a finding names, as the user reads it.
std::string TargetText(const Target& target) {
    switch (target.kind) {
        case Target::kKey:
            return target.key;
        case Target::kValue:
            return target.key + " (value \"" + target.valueName + "\")";
        case Target::kFile:
            return target.file;
        case Target::kHostFile:
            return target.hostFile.string();
        default:
            return {};
    }
}

// Two findings of the same thing have the same identity.
std::string Identity(const Target& target) {
    return std::to_string(target.kind) + "\n" + AnsiLower(target.key) + "\n" +
           AnsiLower(target.valueName) + "\n" + AnsiLower(target.file) + "\n" +
           target.hostFile.string();
}

int SaveTarget(Machine& machine, FixBackup& backup, const Problem& problem, const Target& target,
               int number) {
    switch (target.kind) {
        case Target::kKey:
            return backup.BackupRegKey(target.key, number);
        case Target::kValue:
            return backup.BackupRegValue(target.key, target.valueName,
                                         std::string(problem.ValueData()));
        case Target::kFile:
            return backup.BackupFile(target.file);
        case Target::kHostFile: {
            // The record goes with its file: both are saved, or neither is removed.
            if (!target.key.empty()) {
                Target record = target;
                record.kind = target.valueName.empty() ? Target::kKey : Target::kValue;
                if (TargetExists(machine, record) &&
                    SaveTarget(machine, backup, problem, record, number) != 1) {
                    return 0;
                }
            }
            return backup.BackupHostFile(target.hostFile);
        }
        default:
            return 1;
    }
}

}  // namespace

int RemoveProblem(Machine& machine, const Problem& problem) {
    return RemoveTarget(machine, TargetOf(problem)) == Removal::kFailed ? 0 : 1;
}

RepairPlan PlanRepair(Machine& machine, const ResultStore& results) {
    RepairPlan plan;
    const auto& problems = results.Problems();
    plan.found = static_cast<int>(problems.size());
    for (const auto& problem : problems) {
        if (!problem->isChecked) continue;
        ++plan.checked;
        if (TargetOf(*problem).kind != Target::kNone) ++plan.removable;
    }
    if (plan.checked == 0) return plan;
    // What cannot be saved afterwards is not touched now: removed files and a registry
    // left as it was would be out of step, and the archive would list removals that did
    // not happen. Wine running, a prefix opened read only, a registry file changed on disk.
    if (WineServerRunning(machine.PrefixDir())) {
        plan.refused = RepairOutcome::Refusal::kWineRunning;
        plan.refusal = WineRunningMessage(machine.PrefixDir());
    } else if (std::string refusal = machine.SaveRefusal(); !refusal.empty()) {
        plan.refused = RepairOutcome::Refusal::kCannotSave;
        plan.refusal = refusal;
    }
    if (plan.refused != RepairOutcome::Refusal::kNone) return plan;
    RegistryAccess registry(machine);
    std::string setting;
    plan.backupOn = !(registry.ReadSetting("NoAutoBackup", &setting) && setting == "1");
    return plan;
}

RepairOutcome RepairCheckedProblems(Machine& machine, ResultStore& results, const RepairPlan& plan,
                                    const RepairControls& controls) {
    RepairOutcome outcome;
    auto& problems = results.Problems();
    const bool backupOn = plan.backupOn;
    const int checked = plan.checked;

    FixBackup backup(machine);
    if (backupOn) {
        RemoveBackupLeftovers(machine);
        std::string work = WriteWorkFolder(machine);
        bool ready = PrepareScratchFolder(machine, work);
        if (!ready || !backup.BeginBackup(work)) {
            outcome.message = std::string(kBackupNotCreatedText);
            return outcome;
        }
        outcome.archive = backup.ArchivePath();
    }

    bool flag = true;
    auto running = [&] { return controls.running ? controls.running() : flag; };
    if (controls.setRunning) controls.setRunning(true);
    if (controls.setProgressRange) controls.setProgressRange(checked);
    outcome.ran = true;

    // First everything is saved; nothing is removed until the archive that holds it is
    // closed and on the disk, so that a run killed at any moment loses nothing.
    //
    // A finding to remove once its archive is on the disk. Its target and identity are
    // made again then: hundreds of thousands of copies of their texts would be kept
    // meanwhile, in fresh memory, for no purpose.
    struct Planned {
        size_t problem = 0;  // its place in `problems`
        bool existed = false;
    };
    std::vector<Planned> planned;
    planned.reserve(static_cast<size_t>(checked));
    // Identities are long key paths that share their beginnings, hundreds of thousands of
    // them: kept back to back in a table, not in a string and a node each. Only the
    // saving needs it; it goes before the removals keep a table of their own.
    auto saved = std::make_unique<TextTable>(std::numeric_limits<size_t>::max());
    // Copies a killed run left in the work folder are shortcuts too, and a scan finds
    // them; the folder was emptied above, and they are never saved again.
    std::string scratch = AnsiLower(WriteWorkFolder(machine)) + "\\";
    int number = 1;
    for (size_t index = 0; index < problems.size(); ++index) {
        if (!running()) break;
        auto& problem = problems[index];
        ExpandRoot(*problem);
        if (problem->isChecked) {
            Target target = TargetOf(*problem);
            if (target.kind != Target::kNone) {
                const std::string identity = Identity(target);
                Planned item{index, TargetExists(machine, target)};
                bool ours =
                    target.kind == Target::kFile && AnsiLower(target.file).rfind(scratch, 0) == 0;
                // A second finding of the same thing is saved once.
                bool save = backupOn && item.existed && !ours && !saved->Find(identity);
                if (ours && !item.existed) {
                    ++outcome.removed;
                } else if (save && SaveTarget(machine, backup, *problem, target, number) != 1) {
                    ++outcome.notBackedUp;
                    outcome.failures.push_back("Could not back up " + TargetText(target) +
                                               "; it was not removed.");
                } else {
                    // A table too full to hold it saves a repeat again, which costs only room.
                    if (save) saved->FindOrAdd(identity);
                    planned.push_back(item);
                }
            }
            if (controls.stepProgress) controls.stepProgress();
        }
        if (controls.pumpEvents) controls.pumpEvents();
        ++number;
    }
    outcome.aborted = !running();
    saved.reset();

    bool archived = true;
    if (backupOn) {
        FixBackup::FinishResult finished = backup.FinishBackup();
        archived = finished.ok;
        if (!finished.ok || finished.empty) outcome.archive.clear();
    }
    if (!archived) {
        outcome.backupFailed = true;
        outcome.message = std::string(kBackupNotWrittenText);
    } else {
        // What became of each identity, in its byte: the removal's value plus 1.
        TextTable done(std::numeric_limits<size_t>::max());
        std::vector<std::filesystem::path> desktopChanged;
        for (const Planned& item : planned) {
            // The details dialog, opened meanwhile, shortens roots again.
            Problem& problem = *problems[item.problem];
            ExpandRoot(problem);
            const Target target = TargetOf(problem);
            const std::string identity = Identity(target);
            Removal result;
            if (const uint8_t* earlier = done.Find(identity); earlier && *earlier) {
                result = static_cast<Removal>(*earlier - 1);
                // A name the code page cannot hold may stand for several values: the one
                // saved is gone and another answers to the name still. It was never saved,
                // so it stays, and the finding says so.
                if (result == Removal::kRemoved && target.kind == Target::kValue &&
                    TargetExists(machine, target)) {
                    result = Removal::kFailed;
                }
            } else if (item.existed && !TargetExists(machine, target)) {
                // An earlier finding of this run took it (a key below a removed key).
                result = Removal::kRemoved;
            } else {
                result = RemoveTarget(machine, target);
            }
            bool added = false;
            if (uint8_t* byte = done.FindOrAdd(identity, &added); byte && added) {
                *byte = static_cast<uint8_t>(static_cast<int>(result) + 1);
            }
            if (target.kind == Target::kHostFile && result == Removal::kRemoved) {
                desktopChanged.push_back(target.hostFile);
            }
            if (result == Removal::kRemoved) {
                ++outcome.removed;
            } else if (result == Removal::kQueued) {
                ++outcome.queued;
            } else {
                ++outcome.notRemoved;
                outcome.failures.push_back("Could not remove " + TargetText(target) + ".");
            }
            if (controls.pumpEvents) controls.pumpEvents();
        }
        if (auto folders = CurrentXdgFolders(); !desktopChanged.empty() && folders) {
            RefreshDesktopCaches(*folders, desktopChanged);
        }
        outcome.message =
            std::string(outcome.aborted ? kSystemRepairAbortedText : kSelectedProblemsFixedText);
        if (outcome.queued > 0) {
            outcome.message += "\n" + std::to_string(outcome.queued) +
                               " item(s) will be removed when Wine next starts.";
        }
        if (outcome.notBackedUp > 0) {
            outcome.message += "\n" + std::to_string(outcome.notBackedUp) +
                               " item(s) could not be backed up and were not removed.";
        }
        if (outcome.notRemoved > 0) {
            outcome.message +=
                "\n" + std::to_string(outcome.notRemoved) + " item(s) could not be removed.";
        }
    }
    return outcome;
}

}  // namespace hivewise
