#pragma once

#include <string>
#include <vector>

#include "app/user_prompts.h"

namespace hivewise::testing {

// Records every message; answers questions with `yes`, OK-or-Cancel ones with `ok`.
class RecordingPrompts : public UserPrompts {
  public:
    void Message(const std::string& text) override { messages.push_back(text); }
    bool AskYesNo(const std::string& text) override {
        questions.push_back(text);
        return yes;
    }
    bool AskOkCancel(const std::string& text) override {
        okCancelQuestions.push_back(text);
        return ok;
    }
    std::vector<std::string> messages;
    std::vector<std::string> questions;
    std::vector<std::string> okCancelQuestions;
    bool yes = true;
    bool ok = true;
};

}  // namespace hivewise::testing
