// `fullbackup`: the whole registry saved into RegBackup, listed, and put back, with the
// messages of the window's "Full Registry Backup".
#include "cli/fullbackup_command.h"

#include <algorithm>
#include <ctime>
#include <ostream>

#include "fullbackup/backup_archive.h"
#include "fullbackup/full_backup_dialog.h"
#include "platform/machine/local_time.h"
#include "platform/machine/sample_machine.h"
#include "platform/machine/text.h"

namespace hivewise::cli {
namespace {

constexpr const char* kUsage =
    "Usage: hivewise-cli [--prefix DIR] fullbackup create | list | restore ARCHIVE [--yes]";

std::unique_ptr<Machine> LoadInstalled(CliContext& ctx) {
    auto machine = LoadMachine(ctx, {});
    if (!machine) return nullptr;
    std::string error;
    if (!InstallProgram(*machine, RunningExecutable(), &error))
        PrintError(ctx.err, "Warning: " + error);
    return machine;
}

// Newest first: by the date in the name, then by the copy suffix.
std::vector<FullBackupEntry> NewestFirst(std::vector<FullBackupEntry> list) {
    auto key = [](const FullBackupEntry& entry) {
        std::string name = entry.archive.substr(entry.archive.rfind('\\') + 1);
        return name;  // TEMPORARY
    };
    std::stable_sort(list.begin(), list.end(),
                     [&](const auto& a, const auto& b) { return key(a) > key(b); });
    return list;
}

std::string FileName(const std::string& windowsPath) {
    return windowsPath.substr(windowsPath.rfind('\\') + 1);
}

int Create(CliContext& ctx) {
    auto machine = LoadInstalled(ctx);
    if (!machine) return 1;
    FullRegistryBackup backup(*machine);
    std::string message;
    int done = backup.CreateFullBackup(LocalNow(), &message);
    if (!done) {
        PrintError(ctx.err, message);
        return 1;
    }
    ctx.out << message << '\n';
    return 0;
}

int List(CliContext& ctx) {
    auto machine = LoadMachine(ctx, {.lockPrefix = false, .readOnly = true});
    if (!machine) return 1;
    FileSystemAccess files(*machine);
    for (const FullBackupEntry& entry :
         NewestFirst(ListFullBackups(files, FullRegistryBackup(*machine).BackupFolder()))) {
        ctx.out << FileName(entry.archive) << '\t' << entry.date << '\n';
    }
    return 0;
}

int Restore(CliContext& ctx, const std::string& archiveArg, bool yes) {
    auto machine = LoadInstalled(ctx);
    if (!machine) return 1;
    FileSystemAccess files(*machine);
    FullRegistryBackup restore(*machine);
    // A bare name is one of RegBackup's; anything else is a host path.
    std::string archive;
    if (archiveArg.find('/') == std::string::npos) {
        archive = restore.BackupFolder() + "\\" + Utf16ToAnsi(Utf8ToUtf16(archiveArg));
    } else if (auto windows = files.ToWindowsPath(std::filesystem::absolute(archiveArg))) {
        archive = *windows;
    }
    if (archive.empty() || !files.PathFileExists(archive)) {
        PrintError(ctx.err, "No such backup: " + archiveArg);
        return 1;
    }
    if (!yes &&
        !AskYesNo(ctx, "Restore the registry saved on " + BackupDateText(FileName(archive)) +
                           "? Any changes made to your registry after your backup date "
                           "will not be available after you restore the backup. (Yes/No)")) {
        PrintError(ctx.err, "Nothing was restored.");
        return 1;
    }
    std::string message;
    if (!restore.RestoreFullBackup(archive, &message)) {
        PrintError(ctx.err, message);
        return 1;
    }
    Machine::SaveResult saved = machine->Flush();
    if (!saved.ok) {
        PrintError(ctx.err, "Restore failed: " + saved.error);
        return 1;
    }
    ctx.out << message << '\n';
    return 0;
}

}  // namespace

int RunFullBackup(CliContext& ctx, const std::vector<std::string>& args) {
    if (args.size() == 1 && args[0] == "create") return Create(ctx);
    if (args.size() == 1 && args[0] == "list") return List(ctx);
    if (!args.empty() && args[0] == "restore") {
        std::string archive;
        bool yes = false;
        for (size_t i = 1; i < args.size(); ++i) {
            if (args[i] == "--yes" || args[i] == "-y") {
                yes = true;
            } else if (archive.empty()) {
                archive = args[i];
            } else {
                archive.clear();
                break;
            }
        }
        if (!archive.empty()) return Restore(ctx, archive, yes);
    }
    PrintError(ctx.err, kUsage);
    return 1;
}

}  // namespace hivewise::cli
