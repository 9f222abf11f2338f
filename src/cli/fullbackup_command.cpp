// `fullbackup`: the whole registry saved into RegBackup, listed, and put back, with the
// messages of the window's "Full Registry Backup".
#include "cli/fullbackup_command.h"

#include <ostream>

#include "cli/exit_status.h"
#include "fullbackup/full_registry_backup.h"
#include "platform/machine/local_time.h"
#include "platform/machine/prefix_lock.h"
#include "platform/machine/sample_machine.h"
#include "platform/machine/text.h"
#include "repair/backup_records.h"
#include "repair/restore_backup.h"
#include "report/json_writer.h"
#include "report/output_text.h"

namespace hivewise::cli {
namespace {

// The machine, installed into; when it cannot be loaded, `status` says why.
LoadedMachine LoadInstalled(CliContext& ctx, int* status) {
    bool wineRunning = false;
    auto machine = LoadMachine(ctx, {}, WhileWineRuns::Refuse, &wineRunning);
    *status = wineRunning ? kExitWineRunning : kExitFailed;
    if (!machine) return nullptr;
    std::string error;
    if (!InstallProgram(*machine, RunningExecutable(), &error))
        PrintError(ctx.err, "Warning: " + error);
    return machine;
}

// The outcome of create and restore: the archive and the message the window shows.
void PrintDone(CliContext& ctx, const std::string& archive, const std::string& message) {
    if (!ctx.json) {
        ctx.out << message << '\n';
        return;
    }
    JsonWriter json(ctx.out);
    json.BeginObject().Key("archive").Text(archive).Key("message").Text(message).EndObject();
}

std::string FileName(const std::string& windowsPath) {
    return windowsPath.substr(windowsPath.rfind('\\') + 1);
}

int Create(CliContext& ctx) {
    int status = kExitFailed;
    auto machine = LoadInstalled(ctx, &status);
    if (!machine) return status;
    FullRegistryBackup backup(*machine);
    std::string message;
    int done = backup.CreateFullBackup(LocalNow(), &message);
    if (!done) {
        PrintError(ctx.err, message);
        return kExitFailed;
    }
    PrintDone(ctx, FileName(backup.LastArchive()), message);
    return kExitDone;
}

int List(CliContext& ctx) {
    auto machine = LoadMachine(ctx, {.lockPrefix = false, .readOnly = true});
    if (!machine) return kExitFailed;
    std::string folder = FullRegistryBackup(*machine).BackupFolder();
    std::vector<BackupArchive> archives = ListBackupArchives(*machine, folder);
    if (!ctx.json) {
        for (const BackupArchive& archive : archives)
            ctx.out << TerminalField(archive.fileName) << '\t' << archive.text << '\n';
        return kExitDone;
    }
    JsonWriter json(ctx.out);
    json.BeginObject().Key("archives").BeginArray();
    for (const BackupArchive& archive : archives) {
        json.BeginObject().Key("file").Text(archive.fileName).Key("date").Text(archive.text);
        json.EndObject();
    }
    json.EndArray().EndObject();
    return kExitDone;
}

int Restore(CliContext& ctx, const std::string& archiveArg, bool yes) {
    int status = kExitFailed;
    auto machine = LoadInstalled(ctx, &status);
    if (!machine) return status;
    FullRegistryBackup restore(*machine);
    std::string archive =
        FindBackupArchive(*machine, restore.BackupFolder(), Utf16ToAnsi(Utf8ToUtf16(archiveArg)));
    if (archive.empty()) {
        PrintError(ctx.err, "No such backup: " + archiveArg);
        return kExitFailed;
    }
    std::string name = FileName(archive);
    if (!yes &&
        !AskYesNo(ctx, "Restore the registry saved on " +
                           FormatBackupDate(name.substr(0, name.rfind('.'))) +
                           "? Any changes made to your registry after your backup date "
                           "will not be available after you restore the backup. (Yes/No)")) {
        PrintError(ctx.err, "Nothing was restored.");
        return kExitFailed;
    }
    std::string message;
    if (!restore.RestoreFullBackup(archive, &message)) {
        PrintError(ctx.err, message);
        return WineServerRunning(machine->PrefixDir()) ? kExitWineRunning : kExitFailed;
    }
    Machine::SaveResult saved = machine->Flush();
    if (!saved.ok) {
        PrintError(ctx.err, "Restore failed: " + saved.error);
        return WineServerRunning(machine->PrefixDir()) ? kExitWineRunning : kExitFailed;
    }
    PrintDone(ctx, name, message);
    return kExitDone;
}

}  // namespace

int RunFullBackup(CliContext& ctx, const FullBackupOptions& options) {
    switch (options.action) {
        case FullBackupOptions::Action::Create:
            return Create(ctx);
        case FullBackupOptions::Action::List:
            return List(ctx);
        case FullBackupOptions::Action::Restore:
            break;
    }
    return Restore(ctx, options.archive, options.yes);
}

}  // namespace hivewise::cli
