#include "app/update_check_flow.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/user_prompts.h"
#include "platform/machine/string_table.h"
#include "update/update_fixture.h"

namespace hivewise::testing {
namespace {

// Records what the user is shown and answers questions as set.
class FakeUserPrompts : public UserPrompts {
  public:
    void Message(const std::string& text) override { messages.push_back(text); }
    bool AskYesNo(const std::string& text) override {
        questions.push_back(text);
        return yes;
    }
    std::vector<std::string> messages, questions;
    bool yes = true;
};

class Owner : public UpdateCheckOwner {
  public:
    void SetWaitCursor(bool on) override { log.push_back(on ? "wait-on" : "wait-off"); }
    void CloseAndQuit() override { log.push_back("close-and-quit"); }
    std::vector<std::string> log;
};

// The update check's prefix, with the dialog's prompts and owner.
class UpdateFlowTest : public UpdateCheckTest {
  protected:
    FakeUserPrompts prompts;
    Owner owner;
};

TEST_F(UpdateFlowTest, AMissingVersionSettingIsReported) {
    WriteVersion("\"Other\"=\"1\"\n");
    RunUpdateCheck(*machine, prompts, owner, server.Url());
    EXPECT_EQ(prompts.messages, (std::vector<std::string>{std::string(kInstallationCorruptText),
                                                          std::string(kNoUpdatesText)}));
    EXPECT_EQ(owner.log, (std::vector<std::string>{"wait-on", "wait-off"}));
}

TEST_F(UpdateFlowTest, NoUpdateOrNoAnswerSaysSo) {
    published = "6.2";
    RunUpdateCheck(*machine, prompts, owner, server.Url());
    const std::string refused = "http://127.0.0.1:" + std::to_string(RefusingPort()) + "/";
    RunUpdateCheck(*machine, prompts, owner, refused);
    EXPECT_EQ(prompts.messages,
              (std::vector<std::string>{std::string(kNoUpdatesText), std::string(kNoUpdatesText)}));
    EXPECT_TRUE(prompts.questions.empty());
    EXPECT_TRUE(host.launches.empty());
}

TEST_F(UpdateFlowTest, AcceptedUpdateStartsTheUpdaterAndEnds) {
    prompts.yes = false;
    RunUpdateCheck(*machine, prompts, owner, server.Url());
    EXPECT_EQ(prompts.questions, std::vector<std::string>{std::string(kUpdatesAvailableText)});
    EXPECT_EQ(owner.log, (std::vector<std::string>{"wait-on", "wait-off"}));

    // Without the updater the program still ends, as the user asked for the update.
    prompts.yes = true;
    RunUpdateCheck(*machine, prompts, owner, server.Url());
    EXPECT_TRUE(host.launches.empty());
    EXPECT_EQ(owner.log.back(), "close-and-quit");

    prefix.File("Program Files/Hivewise/updater.exe", "MZ");
    owner.log.clear();
    RunUpdateCheck(*machine, prompts, owner, server.Url());
    ASSERT_EQ(host.launches.size(), 1u);
    EXPECT_EQ(host.launches[0].first,
              (prefix.Dir() / "drive_c" / "Program Files" / "Hivewise" / "updater.exe").string());
    EXPECT_EQ(host.launches[0].second,
              " -url \"" + LoadResourceText(kIdsUpdateFolderUrl) +
                  "\\hivewise.exe\" -dest \"C:\\Program Files\\Hivewise\\hivewise.exe\"");
    EXPECT_FALSE(host.waited);
    EXPECT_EQ(owner.log, (std::vector<std::string>{"wait-on", "wait-off", "close-and-quit"}));
}

}  // namespace
}  // namespace hivewise::testing
