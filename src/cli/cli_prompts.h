#pragma once

#include <ostream>
#include <string>

#include "app/user_prompts.h"
#include "cli/cli_context.h"
#include "platform/machine/text.h"

// The window's message boxes and questions on the terminal: messages are printed, and
// questions are asked on standard input unless the user answered them in advance.
namespace hivewise::cli {

class CliPrompts : public UserPrompts {
  public:
    CliPrompts(CliContext& ctx, bool answerYes) : ctx_(ctx), answerYes_(answerYes) {}

    // With --json stdout holds the command's object alone; the messages go beside it.
    void Message(const std::string& text) override {
        std::ostream& to = ctx_.json ? ctx_.err : ctx_.out;
        to << Utf16ToUtf8(AnsiToUtf16(text)) << '\n';
        to.flush();
        last_ = text;
    }
    bool AskYesNo(const std::string& text) override {
        if (answerYes_) return true;
        return cli::AskYesNo(ctx_, Utf16ToUtf8(AnsiToUtf16(text)) + " [y/n]");
    }
    // On the terminal OK is "y"; no answer (the end of the input, Ctrl-C) is Cancel.
    bool AskOkCancel(const std::string& text) override {
        if (answerYes_) return true;
        return cli::AskYesNo(ctx_, Utf16ToUtf8(AnsiToUtf16(text)) + "\nProceed? [y/n]");
    }
    // The latest message shown.
    const std::string& Last() const { return last_; }

  private:
    CliContext& ctx_;
    bool answerYes_;
    std::string last_;
};

}  // namespace hivewise::cli
