#include "cli/update_command.h"

#include <ostream>

#include "update/update_check.h"

namespace hivewise::cli {
namespace {

// The check's messages go to the error stream, one line each; it asks nothing here.
class CliMessages : public UserPrompts {
  public:
    explicit CliMessages(CliContext& ctx) : ctx_(ctx) {}
    void Message(const std::string& text) override { PrintError(ctx_.err, text); }
    bool AskYesNo(const std::string&) override { return false; }

  private:
    CliContext& ctx_;
};

}  // namespace

int RunUpdate(CliContext& ctx, const std::string& from) {
    // Only the installed version is read: the prefix is never written.
    std::unique_ptr<Machine> machine = LoadMachine(ctx, {.lockPrefix = false, .readOnly = true});
    if (!machine) return 1;
    CliMessages prompts(ctx);
    std::string version = CheckForUpdate(*machine, prompts, from);
    if (version.empty()) {
        ctx.out << kNoUpdatesText << '\n';
    } else {
        ctx.out << "Updates Available: " << version << '\n';
    }
    return 0;
}

}  // namespace hivewise::cli
