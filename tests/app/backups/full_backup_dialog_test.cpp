#include "app/backups/full_backup_dialog.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "app/user_prompts.h"
#include "fullbackup/full_backup_fixture.h"
#include "repair/backup_records.h"

namespace hivewise {
namespace {

using testing::At;
using testing::Entries;
using testing::FullBackupTest;

class RecordingPrompts : public UserPrompts {
  public:
    void Message(const std::string& text) override { messages.push_back(text); }
    bool AskYesNo(const std::string& text) override {
        questions.push_back(text);
        return yes;
    }
    std::vector<std::string> messages;
    std::vector<std::string> questions;
    bool yes = true;
};

TEST_F(FullBackupTest, DialogAsksForAChoiceAndADate) {
    RecordingPrompts prompts;
    FullBackupDialog dialog(*machine, prompts);
    EXPECT_EQ(dialog.NextButtonText(), "Next");
    EXPECT_EQ(dialog.PressNext(), FullBackupDialog::Next::Stay);
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_EQ(prompts.messages[0], kSelectOption);

    dialog.Choose(FullBackupDialog::Option::Restore);
    EXPECT_EQ(dialog.PressNext(), FullBackupDialog::Next::Stay);
    EXPECT_EQ(dialog.CurrentStep(), FullBackupDialog::Step::SelectDate);
    EXPECT_EQ(dialog.NextButtonText(), "Finish");
    EXPECT_EQ(dialog.PressNext(), FullBackupDialog::Next::Stay);
    EXPECT_EQ(prompts.messages.back(), kSelectBackupDateText);
}

TEST_F(FullBackupTest, DialogAsksBeforeRestoringAndSavesOnlyARestoredRegistry) {
    std::string archive = BackupThenChange();
    Rewritten(archive, "1,2,2027_3,4,5.zip",
              [](Entries& e) { e.emplace_back("notes.txt", "not ours\n"); });
    std::string changed = Snapshot();
    RecordingPrompts prompts;
    int saves = 0;
    auto save = [&] { return ++saves, machine->Flush().ok; };
    auto restore = [&](const std::string& fileName) {
        FullBackupDialog dialog(*machine, prompts);
        dialog.Choose(FullBackupDialog::Option::Restore);
        EXPECT_EQ(dialog.PressNext(), FullBackupDialog::Next::Stay);
        for (size_t row = 0; row < dialog.Backups().size(); ++row) {
            if (dialog.Backups()[row].fileName == fileName) dialog.Select(static_cast<int>(row));
        }
        if (dialog.PressNext() != FullBackupDialog::Next::RunRestore) return false;
        dialog.StartRestore();
        while (dialog.RestoreRunning())
            std::this_thread::yield();
        return dialog.FinishRestore(save);
    };

    // No leaves everything as it is.
    prompts.yes = false;
    EXPECT_FALSE(restore("1,2,2026_3,4,5.zip"));
    ASSERT_EQ(prompts.questions.size(), 1u);
    EXPECT_NE(prompts.questions[0].find(FormatBackupDate("1,2,2026_3,4,5")), std::string::npos)
        << prompts.questions[0];
    EXPECT_TRUE(prompts.messages.empty());
    EXPECT_EQ(Snapshot(), changed);

    // A failed restore is reported and nothing is saved.
    prompts.yes = true;
    EXPECT_FALSE(restore("1,2,2027_3,4,5.zip"));
    EXPECT_EQ(prompts.messages, std::vector<std::string>{kFullRestoreFailed});
    EXPECT_EQ(saves, 0);
    EXPECT_EQ(Snapshot(), changed);

    EXPECT_TRUE(restore("1,2,2026_3,4,5.zip"));
    EXPECT_EQ(saves, 1);
    ASSERT_EQ(prompts.messages.size(), 3u);
    EXPECT_EQ(prompts.messages[1], kFullRestoreDone);
    EXPECT_EQ(prompts.messages[2], kRestoredNotice);
    EXPECT_EQ(RegistryAccess(*machine).ReadStringValue(kHkeyCurrentUser, "Software\\Mine", "Name"),
              "value");
}

TEST_F(FullBackupTest, ProgressBarWrapsAndTheOutcomeIsShownOnce) {
    RecordingPrompts prompts;
    BackupProgressDialog progress(*machine, prompts);
    progress.Open(At(5, 6, 2026, 7, 8, 9));
    int ticks = 0;
    while (!progress.Tick())
        ++ticks;
    EXPECT_EQ(progress.Position(), BackupProgressDialog::kBarRange);
    EXPECT_TRUE(progress.Succeeded());
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_EQ(prompts.messages[0], kFullBackupDone);

    BackupProgressDialog idle(*machine, prompts);
    for (int i = 0; i < 51; ++i)
        idle.Tick();
    EXPECT_EQ(idle.Position(), 0);
}

}  // namespace
}  // namespace hivewise
