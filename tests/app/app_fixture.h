#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/user_prompts.h"
#include "platform/machine/machine.h"
#include "platform/temp_prefix.h"

namespace hivewise::testing {

// Records what the logic shows the user, and answers the folder chooser from a script.
class FakePrompts : public AppPrompts {
  public:
    using AppPrompts::Message;
    void Message(const std::string& text, MessageIcon icon) override {
        messages.emplace_back(text, icon);
        if (log) log->push_back("message:" + text);
    }
    bool AskYesNo(const std::string&) override { return yes; }
    std::optional<std::filesystem::path> ChooseFolder(const std::string& title) override {
        chooserTitles.push_back(title);
        return chosenFolder;
    }
    void SetWaitCursor(bool on) override {
        if (log) log->push_back(on ? "wait-on" : "wait-off");
    }

    std::vector<std::pair<std::string, MessageIcon>> messages;
    std::vector<std::string> chooserTitles;
    std::optional<std::filesystem::path> chosenFolder;
    bool yes = true;
    std::vector<std::string>* log = nullptr;
};

// A user hive with the keys every Windows account has.
inline constexpr const char* kUserHive = R"(
[Software] 1700000000

[Software\\Microsoft\\Windows\\CurrentVersion\\Run] 1700000000
"Other"="C:\\other.exe"
)";

// A prefix with a stock user hive, loaded without the instance lock.
class AppTest : public ::testing::Test {
  protected:
    void SetUp() override {
        prefix.SystemReg("\n[Software\\\\Classes] 1700000000\n");
        prefix.UserReg(kUserHive);
        Reload();
    }
    void Reload(MachineOptions options = {.lockPrefix = false}) {
        machine.reset();
        machine = prefix.Load(options);
        ASSERT_TRUE(machine) << prefix.LastError();
    }

    TempPrefix prefix;
    std::unique_ptr<Machine> machine;
    FakePrompts prompts;
};

}  // namespace hivewise::testing
