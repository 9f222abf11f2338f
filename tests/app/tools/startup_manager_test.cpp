#include "app/tools/startup_manager.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "app/tools/manager_fixture.h"
#include "app/tools/removed_entries_dialog.h"
#include "platform/machine/host_services.h"
#include "platform/machine/prefix_lock.h"

namespace hivewise {
namespace {

using testing::ManagerTest;

// Starts what exists on the host and records every attempt.
class RecordingHost : public NullHostServices {
  public:
    bool Launch(const std::string& target, const std::string& parameters, bool, int) override {
        attempts.push_back(target + "|" + parameters);
        return std::filesystem::exists(target);
    }
    std::vector<std::string> attempts;
};

class StartupManagerTest : public ManagerTest {
  protected:
    void SetUp() override {
        ManagerTest::SetUp();
        SetText(Lm(u"Software\\Microsoft\\Windows\\CurrentVersion\\Run"), u"Tool",
                u"C:\\Tool\\tool.exe /min");
        SetText(Lm(u"Software\\Microsoft\\Windows\\CurrentVersion\\Run"), u"Shared", u"C:\\lm.exe");
        SetText(Cu(u"Software\\Microsoft\\Windows\\CurrentVersion\\Run"), u"Shared", u"C:\\cu.exe",
                kRegExpandSz);
    }
    RegKey* LmRun() {
        return Find(machine->LocalMachine(), u"Software\\Microsoft\\Windows\\CurrentVersion\\Run");
    }
    RegKey* CuRun() {
        return Find(machine->CurrentUser(), u"Software\\Microsoft\\Windows\\CurrentVersion\\Run");
    }
};

TEST_F(StartupManagerTest, ListsMachineEntriesFirstThenTheUsers) {
    StartupProgramManager manager(*machine, prompts);
    manager.Fill();
    ASSERT_EQ(manager.Rows().size(), 3u);
    EXPECT_EQ(manager.Rows()[0].name, "Tool");
    EXPECT_EQ(manager.Rows()[0].path, "C:\\Tool\\tool.exe /min");
    EXPECT_EQ(manager.Entries()[1].machineWide, 1);
    EXPECT_EQ(manager.Rows()[2].name, "Shared");
    EXPECT_EQ(manager.Rows()[2].path, "C:\\cu.exe");
    EXPECT_EQ(manager.Entries()[2].machineWide, 0);
}

TEST_F(StartupManagerTest, RemovesCheckedEntriesAfterParkingThem) {
    StartupProgramManager manager(*machine, prompts);
    manager.Fill();
    manager.RemoveChecked();
    EXPECT_EQ(prompts.messages, std::vector<std::string>{"Please Check an Item to Remove"});
    EXPECT_EQ(manager.Rows().size(), 3u);

    prompts.messages.clear();
    manager.SetChecked(0, true);
    manager.SetChecked(2, true);
    RemovalOutcome outcome = manager.RemoveChecked();
    EXPECT_EQ(outcome.removed, 2);
    EXPECT_EQ(prompts.messages, std::vector<std::string>{"Item(s) Removed"});
    EXPECT_EQ(Text(Find(machine->CurrentUser(), u"Software\\Hivewise\\RunLMBkup"), u"Tool"),
              "C:\\Tool\\tool.exe /min");
    // The user's expandable command is parked as it was, type included.
    const RegValue* parked =
        Find(machine->CurrentUser(), u"Software\\Hivewise\\RunCUBkup")->FindValue(u"Shared");
    ASSERT_TRUE(parked);
    EXPECT_EQ(parked->type, kRegExpandSz);
    EXPECT_FALSE(LmRun()->FindValue(u"Tool"));
    EXPECT_FALSE(CuRun()->FindValue(u"Shared"));
    EXPECT_TRUE(LmRun()->FindValue(u"Shared"));
    ASSERT_EQ(manager.Rows().size(), 1u);
    EXPECT_EQ(manager.Rows()[0].path, "C:\\lm.exe");
}

TEST_F(StartupManagerTest, KeepsAnEntryWhoseParkingFailed) {
    BreakWithLink(Cu(u"Software\\Hivewise\\RunLMBkup"));
    StartupProgramManager manager(*machine, prompts);
    manager.Fill();
    manager.SetChecked(0, true);
    manager.SetChecked(2, true);
    RemovalOutcome outcome = manager.RemoveChecked();
    EXPECT_EQ(outcome.removed, 1);
    EXPECT_EQ(outcome.failed, 1);
    EXPECT_EQ(prompts.messages,
              (std::vector<std::string>{"Could not back up Tool; it was not removed.",
                                        "Item(s) Removed"}));
    EXPECT_TRUE(LmRun()->FindValue(u"Tool"));
    EXPECT_FALSE(CuRun()->FindValue(u"Shared"));
}

TEST_F(StartupManagerTest, DetailsComeFromTheProgramFileOfTheCommand) {
    EXPECT_EQ(StartupDetailsPath("\"C:\\Program Files\\Tool\\Tool.EXE\" -min"),
              "c:\\program files\\tool\\tool.exe");
    EXPECT_EQ(StartupDetailsPath("C:\\a.exe.bak\\b.exe x"), "c:\\a.exe");
    EXPECT_EQ(StartupDetailsPath("rundll32 x.dll,Run"), "rundll32 x.dll,run");

    std::filesystem::path pe = std::filesystem::path(testing::TestDataDir()) / "pe" / "version.dll";
    if (testing::TestDataDir().empty()) GTEST_SKIP() << "no test data";
    std::filesystem::create_directories(prefix.Dir() / "drive_c/Program Files/Tool");
    std::filesystem::copy_file(pe, prefix.Dir() / "drive_c/Program Files/Tool/Tool.exe");
    SetText(LmRun(), u"Versioned", u"\"C:\\Program Files\\Tool\\Tool.EXE\" -min");
    StartupProgramManager manager(*machine, prompts);
    manager.Fill();
    manager.Select(2);
    EXPECT_EQ(manager.Details().company, "Microsoft Corporation");
    EXPECT_EQ(manager.Details().description, "Wine version dll");
    EXPECT_EQ(manager.Details().fileName, "");  // no InternalName, so no version either
    EXPECT_EQ(manager.Details().productName, "Wine (Version : 5.1.2600.2180)");
    // A file without version details empties all four texts.
    manager.Select(0);
    EXPECT_TRUE(manager.Details().Empty());
}

TEST_F(StartupManagerTest, EmptyDetailsSayWhyTheyAreEmpty) {
    prefix.File("lm.exe", "MZ");
    StartupProgramManager manager(*machine, prompts);
    manager.Fill();
    EXPECT_EQ(manager.DetailsFile(), "");
    EXPECT_EQ(manager.DetailsNote(), "");
    manager.Select(0);  // C:\Tool\tool.exe is not there
    EXPECT_EQ(manager.DetailsFile(), "c:\\tool\\tool.exe");
    EXPECT_EQ(manager.DetailsNote(), kProgramFileMissingNote);
    manager.Select(1);  // C:\lm.exe is, without a version resource
    EXPECT_EQ(manager.DetailsNote(), kNoVersionDetailsNote);
    EXPECT_TRUE(manager.Details().Empty());
}

TEST_F(StartupManagerTest, RunSelectedTriesEachSplitPoint) {
    RecordingHost host;
    machine->SetHost(&host);
    prefix.File("Tool/tool.exe", "MZ");
    StartupProgramManager manager(*machine, prompts);
    manager.Fill();
    manager.RunSelected();
    EXPECT_EQ(prompts.messages, std::vector<std::string>{"Please Select an Item to run"});

    prompts.messages.clear();
    manager.Select(0);
    manager.RunSelected();
    ASSERT_EQ(host.attempts.size(), 2u);
    EXPECT_EQ(host.attempts[1], (prefix.Dir() / "drive_c/Tool/tool.exe").string() + "| /min");
    EXPECT_TRUE(prompts.messages.empty());

    // A command whose program is missing: every split point once, then the message.
    SetText(LmRun(), u"Tool", u"C:\\Gone\\x y.exe -a -b");
    manager.Fill();
    manager.Select(0);
    host.attempts.clear();
    manager.RunSelected();
    EXPECT_EQ(host.attempts.size(), 4u);
    EXPECT_EQ(prompts.messages, std::vector<std::string>{"Could not launch application"});
    machine->SetHost(nullptr);
}

TEST_F(StartupManagerTest, AfterAProgramWasStartedNothingIsRemovedUntilTheMachineIsReadAgain) {
    StartupProgramManager manager(*machine, prompts);
    manager.Fill();
    manager.SetChecked(0, true);
    // A program started in the prefix, still running: Wine owns the prefix even before
    // its server shows.
    pid_t program = ::fork();
    ASSERT_GE(program, 0);
    if (program == 0) {
        ::pause();
        ::_exit(0);
    }
    NoteWineStarted(prefix.Dir(), program);
    RemovalOutcome outcome = manager.RemoveChecked();
    EXPECT_TRUE(outcome.refused);
    EXPECT_EQ(prompts.messages, std::vector<std::string>{WineRunningMessage(prefix.Dir())});
    EXPECT_TRUE(LmRun()->FindValue(u"Tool"));
    EXPECT_FALSE(WineEndedSinceStart(prefix.Dir()));

    // The program ended: still refused until the machine is read again.
    ::kill(program, SIGKILL);
    ::waitpid(program, nullptr, 0);
    EXPECT_TRUE(WineEndedSinceStart(prefix.Dir()));
    EXPECT_TRUE(manager.RemoveChecked().refused);
    ForgetWineStarted(prefix.Dir());
    EXPECT_FALSE(WineEndedSinceStart(prefix.Dir()));
    prompts.messages.clear();
    EXPECT_EQ(manager.RemoveChecked().removed, 1);
    EXPECT_EQ(prompts.messages, std::vector<std::string>{"Item(s) Removed"});
}

TEST_F(StartupManagerTest, AMachineOpenedReadOnlyRemovesNothing) {
    machine.reset();
    machine = prefix.Load({.lockPrefix = false, .readOnly = true});
    SetText(Lm(u"Software\\Microsoft\\Windows\\CurrentVersion\\Run"), u"Tool", u"C:\\t.exe");
    StartupProgramManager manager(*machine, prompts);
    manager.Fill();
    manager.SetChecked(0, true);
    EXPECT_TRUE(manager.RemoveChecked().refused);
    EXPECT_EQ(prompts.messages, std::vector<std::string>{machine->SaveRefusal()});
    EXPECT_TRUE(LmRun()->FindValue(u"Tool"));
}

TEST_F(StartupManagerTest, RestoreDialogPutsEntriesBackExactly) {
    std::string before = CuRun()->FindValue(u"Shared")->data;
    StartupProgramManager manager(*machine, prompts);
    manager.Fill();
    for (size_t i = 0; i < manager.Rows().size(); ++i)
        manager.SetChecked(i, true);
    manager.RemoveChecked();

    RemovedEntriesDialog dialog(*machine, prompts, RemovedEntriesMode::Startup);
    dialog.Fill();
    // The user's area is listed first; the same name parked for the machine is its own row.
    ASSERT_EQ(dialog.Rows().size(), 3u);
    EXPECT_EQ(dialog.Rows()[0].firstColumn, "Shared");
    EXPECT_EQ(dialog.Rows()[0].root, kHkeyCurrentUser);
    EXPECT_EQ(dialog.Rows()[1].firstColumn, "Tool");
    EXPECT_EQ(dialog.Rows()[2].secondColumn, "C:\\lm.exe");

    prompts.messages.clear();
    EXPECT_FALSE(dialog.Restore());
    EXPECT_EQ(prompts.messages, std::vector<std::string>{"Please Check an Item to Remove"});

    prompts.messages.clear();
    dialog.SetChecked(0, true);
    EXPECT_TRUE(dialog.Restore());
    EXPECT_EQ(prompts.messages, std::vector<std::string>{"Selected Item(s) Restored"});
    const RegValue* restored = CuRun()->FindValue(u"Shared");
    ASSERT_TRUE(restored);
    EXPECT_EQ(restored->type, kRegExpandSz);
    EXPECT_EQ(restored->data, before);
    EXPECT_FALSE(LmRun()->FindValue(u"Shared"));
    EXPECT_TRUE(
        Find(machine->CurrentUser(), u"Software\\Hivewise\\RunLMBkup")->FindValue(u"Shared"));

    // Another value of a parked name is parked beside the older copy, never over it.
    SetText(LmRun(), u"Tool", u"C:\\Tool\\newer.exe");
    manager.Fill();
    manager.SetChecked(0, true);
    manager.RemoveChecked();
    RegKey* area = Find(machine->CurrentUser(), u"Software\\Hivewise\\RunLMBkup");
    EXPECT_EQ(Text(area, u"Tool"), "C:\\Tool\\tool.exe /min");
    EXPECT_EQ(Text(area, u"Tool (2)"), "C:\\Tool\\newer.exe");
    EXPECT_EQ(area->Values().size(), 3u);
    // The same entry parked again replaces its own copy only.
    SetText(LmRun(), u"Tool", u"C:\\Tool\\newer.exe");
    manager.Fill();
    manager.SetChecked(0, true);
    manager.RemoveChecked();
    EXPECT_EQ(area->Values().size(), 3u);

    // Both are listed by the name they had and go back under it.
    dialog.Fill();
    std::vector<size_t> tools;
    for (size_t i = 0; i < dialog.Rows().size(); ++i) {
        if (dialog.Rows()[i].firstColumn == "Tool") tools.push_back(i);
    }
    ASSERT_EQ(tools.size(), 2u);
    EXPECT_EQ(dialog.Rows()[tools[1]].secondColumn, "C:\\Tool\\newer.exe");
    dialog.SetChecked(tools[1], true);
    EXPECT_TRUE(dialog.Restore());
    EXPECT_EQ(Text(LmRun(), u"Tool"), "C:\\Tool\\newer.exe");
    EXPECT_FALSE(LmRun()->FindValue(u"Tool (2)"));
    EXPECT_EQ(Text(area, u"Tool"), "C:\\Tool\\tool.exe /min");
    EXPECT_FALSE(area->FindValue(u"Tool (2)"));
    RegKey* names = Find(machine->CurrentUser(), u"Software\\Hivewise\\ParkedNames\\RunLMBkup");
    EXPECT_TRUE(!names || names->Values().empty());
}

TEST_F(StartupManagerTest, AFailedRestoreIsNamedAndStaysParked) {
    StartupProgramManager manager(*machine, prompts);
    manager.Fill();
    manager.SetChecked(0, true);
    manager.SetChecked(2, true);
    manager.RemoveChecked();
    // The machine's Run key can no longer be written.
    machine->Registry().DeleteKey(LmRun());
    BreakWithLink(Lm(u"Software\\Microsoft\\Windows\\CurrentVersion\\Run"));

    prompts.messages.clear();
    RemovedEntriesDialog dialog(*machine, prompts, RemovedEntriesMode::Startup);
    dialog.Fill();
    ASSERT_EQ(dialog.Rows().size(), 2u);
    dialog.SetChecked(0, true);
    dialog.SetChecked(1, true);
    RestoreOutcome outcome;
    EXPECT_TRUE(dialog.Restore(&outcome));
    EXPECT_EQ(outcome.restored, 1);
    EXPECT_EQ(prompts.messages,
              (std::vector<std::string>{"Could not restore Tool", "Selected Item(s) Restored"}));
    EXPECT_EQ(Text(Find(machine->CurrentUser(), u"Software\\Hivewise\\RunLMBkup"), u"Tool"),
              "C:\\Tool\\tool.exe /min");
    EXPECT_TRUE(CuRun()->FindValue(u"Shared"));
}

}  // namespace
}  // namespace hivewise
