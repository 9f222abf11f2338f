#include "cli/backups_command.h"

#include <algorithm>

#include "app/backups/restore_backup_dialog.h"
#include "cli/cli_prompts.h"
#include "cli/exit_status.h"
#include "platform/machine/prefix_lock.h"
#include "platform/machine/text.h"
#include "report/json_writer.h"
#include "report/output_text.h"

namespace hivewise::cli {
namespace {

std::string Ansi(std::string_view utf8) {
    return Utf16ToAnsi(Utf8ToUtf16(utf8));
}

// "1,3,4" to 0-based rows below `count`; false on anything else.
bool ParseItems(const std::string& list, size_t count, std::vector<size_t>* rows) {
    size_t start = 0;
    for (;;) {
        size_t comma = list.find(',', start);
        std::string word = list.substr(start, comma == std::string::npos ? comma : comma - start);
        if (word.empty() || word.size() > 9 ||
            word.find_first_not_of("0123456789") != std::string::npos) {
            return false;
        }
        size_t number = std::stoul(word);
        if (number < 1 || number > count) return false;
        rows->push_back(number - 1);
        if (comma == std::string::npos) return true;
        start = comma + 1;
    }
}

// The dialog's messages, but each item that could not be put back on stderr, where a
// failure belongs, and only there.
class BackupsPrompts : public CliPrompts {
  public:
    BackupsPrompts(CliContext& ctx, bool answerYes) : CliPrompts(ctx, answerYes), ctx_(ctx) {}
    void Message(const std::string& text) override {
        if (text.rfind(CouldNotRestoreText(""), 0) == 0) {
            PrintError(ctx_.err, AnsiToUtf8(text));
            return;
        }
        CliPrompts::Message(text);
    }

  private:
    CliContext& ctx_;
};

void PrintList(CliContext& ctx, const std::vector<BackupArchive>& archives) {
    if (!ctx.json) {
        for (const BackupArchive& archive : archives)
            ctx.out << TerminalField(AnsiToUtf8(archive.fileName)) << '\t' << archive.text << '\n';
        return;
    }
    JsonWriter json(ctx.out);
    json.BeginObject().Key("archives").BeginArray();
    for (const BackupArchive& archive : archives) {
        json.BeginObject().Key("file").Text(archive.fileName).Key("date").Text(archive.text);
        json.EndObject();
    }
    json.EndArray().EndObject();
}

void PrintItems(CliContext& ctx, const std::string& archive, const std::vector<BackupRow>& rows) {
    if (!ctx.json) {
        // The item paths are registry and file names read from the archive.
        for (size_t i = 0; i < rows.size(); ++i) {
            ctx.out << (i + 1) << '\t' << ItemTypeText(rows[i].item) << '\t'
                    << TerminalField(AnsiToUtf8(ItemPathText(rows[i].item))) << '\n';
        }
        return;
    }
    JsonWriter json(ctx.out);
    json.BeginObject().Key("archive").Text(archive).Key("items").BeginArray();
    for (size_t i = 0; i < rows.size(); ++i) {
        json.BeginObject();
        json.Key("number").Number(static_cast<int64_t>(i + 1));
        json.Key("kind").Text(ItemTypeText(rows[i].item));
        json.Key("path").Text(ItemPathText(rows[i].item));
        json.EndObject();
    }
    json.EndArray().EndObject();
}

}  // namespace

int RunBackups(CliContext& ctx, const BackupsOptions& options) {
    using Action = BackupsOptions::Action;
    const Action action = options.action;
    bool readOnly = action == Action::List || action == Action::Show;
    bool wineRunning = false;
    auto machine = LoadMachine(ctx, {.lockPrefix = true, .readOnly = readOnly},
                               WhileWineRuns::Refuse, &wineRunning);
    if (!machine) return wineRunning ? kExitWineRunning : kExitFailed;

    if (action == Action::List) {
        PrintList(ctx, ListFixBackups(*machine));
        return kExitDone;
    }

    std::string archive = FindFixBackup(*machine, Ansi(options.archive));
    if (archive.empty()) {
        PrintError(ctx.err, "No fix backup " + options.archive +
                                ". `hivewise-cli backups list` lists them.");
        return kExitFailed;
    }
    BackupsPrompts prompts(ctx, options.yes);

    if (action == Action::Remove) {
        RemoveBackupDialog dialog(*machine, prompts);
        dialog.Open();
        const auto& dates = dialog.Dates();
        auto found = std::find_if(dates.begin(), dates.end(),
                                  [&](const BackupArchive& a) { return a.path == archive; });
        if (found == dates.end()) {
            PrintError(ctx.err, "Only archives in the backup folder can be removed.");
            return kExitFailed;
        }
        dialog.SelectDate(static_cast<int>(found - dates.begin()));
        dialog.Remove();
        if (prompts.Last() != kBackupDeletedText) return kExitFailed;
        if (ctx.json) {
            JsonWriter json(ctx.out);
            json.BeginObject().Key("removed").Text(found->fileName).EndObject();
        }
        return kExitDone;
    }

    RestoreBackupDialog dialog(*machine, prompts);
    dialog.Open();
    dialog.SelectArchive(archive);
    if (prompts.Last() == kInvalidBackupText) return kExitFailed;
    auto& rows = dialog.Rows();
    const std::string fileName = archive.substr(archive.rfind('\\') + 1);
    if (action == Action::Show) {
        PrintItems(ctx, fileName, rows);
        return kExitDone;
    }
    if (options.all) {
        dialog.SelectAll();
    } else {
        std::vector<size_t> chosen;
        if (!ParseItems(options.items, rows.size(), &chosen)) {
            PrintError(ctx.err, "--items takes item numbers from 1 to " +
                                    std::to_string(rows.size()) + ", separated by commas.");
            return kExitUsage;
        }
        for (size_t row : chosen)
            dialog.SetChecked(static_cast<int>(row), true);
    }
    bool restored = dialog.Restore();
    const RestoreResult& result = dialog.LastRestore();
    Machine::SaveResult saved = machine->Flush();
    if (!saved.ok) {
        PrintError(ctx.err, "The registry changes could not be saved: " +
                                (saved.error.empty() ? std::string("unknown error") : saved.error));
        return WineServerRunning(machine->PrefixDir()) ? kExitWineRunning : kExitFailed;
    }
    if (result.wineRunning) return kExitWineRunning;
    if (!restored) return kExitFailed;
    if (result.failed > 0 && result.restored == 0) return kExitFailed;
    if (ctx.json) {
        JsonWriter json(ctx.out);
        json.BeginObject().Key("archive").Text(fileName);
        json.Key("restored").Number(result.restored).Key("failed").BeginArray();
        for (const std::string& failure : result.failures)
            json.Text(failure);
        json.EndArray().EndObject();
    }
    return result.failed == 0 ? kExitDone : kExitPartial;
}

}  // namespace hivewise::cli
