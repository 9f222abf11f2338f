#include "cli/update_command.h"

#include <ostream>

#include "cli/exit_status.h"
#include "report/json_writer.h"
#include "report/output_text.h"
#include "update/update_check.h"

namespace hivewise::cli {
namespace {

// The check's messages go to the error stream, one line each; it asks nothing here.
class CliMessages : public UserPrompts {
  public:
    explicit CliMessages(CliContext& ctx) : ctx_(ctx) {}
    void Message(const std::string& text) override {
        PrintError(ctx_.err, text);
        silent_ = false;
    }
    bool AskYesNo(const std::string&) override { return false; }
    // Whether nothing was said yet.
    bool Silent() const { return silent_; }

  private:
    CliContext& ctx_;
    bool silent_ = true;
};

}  // namespace

int RunUpdate(CliContext& ctx, const std::string& from) {
    // Only the installed version is read: the prefix is never written.
    std::unique_ptr<Machine> machine = LoadMachine(ctx, {.lockPrefix = false, .readOnly = true});
    if (!machine) return kExitFailed;
    CliMessages prompts(ctx);
    bool checked = false;
    std::string version = CheckForUpdate(*machine, prompts, from, &checked);
    // An unreachable page is no answer: "No updates available" would be a guess.
    if (!checked) {
        if (prompts.Silent()) PrintError(ctx.err, "The version page could not be read.");
        return kExitFailed;
    }
    if (ctx.json) {
        JsonWriter json(ctx.out);
        json.BeginObject().Key("updateAvailable").Bool(!version.empty()).Key("version");
        if (version.empty()) {
            json.Null();
        } else {
            json.Text(version);
        }
        json.EndObject();
    } else if (version.empty()) {
        ctx.out << kNoUpdatesText << '\n';
    } else {
        ctx.out << "Updates Available: " << TerminalSafe(version) << '\n';
    }
    return kExitDone;
}

}  // namespace hivewise::cli
