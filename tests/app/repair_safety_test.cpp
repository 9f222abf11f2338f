#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <set>

#include "app/backups/restore_backup_dialog.h"
#include "app/repair_flow_fixture.h"
#include "app/repair_problems_flow.h"
#include "platform/registry/registry_access.h"
#include "repair/zip_archive.h"

namespace hivewise {
namespace {

namespace fs = std::filesystem;
using testing::RepairFlowTest;

constexpr const char* kShortcuts[] = {
    "users/Public/Desktop/Word.lnk",
    "windows/Start Menu/Word.lnk",
    "users/Public/Desktop/Sheet.lnk",
    "windows/Start Menu/Programs/Tool.lnk",
};

// Every file and its bytes in every archive of the backup folder.
std::multiset<std::string> ArchivedBytes(const fs::path& folder) {
    std::multiset<std::string> all;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
        if (entry.path().extension() != ".zip") continue;
        ZipReader reader;
        if (reader.Open(entry.path(), kFixBackupPassword) != ZipStatus::kOk) continue;
        for (int i = 0; i < reader.EntryCount(); ++i) {
            std::string bytes;
            if (reader.ReadEntry(i, &bytes) == ZipStatus::kOk) all.insert(bytes);
        }
    }
    return all;
}

// Repairs `prefix` with one finding per shortcut and one key; `killAt` ends the process
// at that pump (0: never), as a crash or kill -9 would, without saving anything more.
void RepairShortcuts(testing::TempPrefix& prefix, int killAt) {
    auto machine = prefix.Load();
    ASSERT_TRUE(machine) << prefix.LastError();
    ResultStore results;
    for (const char* shortcut : kShortcuts) {
        std::string path = std::string("C:\\") + shortcut;
        std::replace(path.begin(), path.end(), '/', '\\');
        results.Problems().push_back(std::make_unique<Problem>(14, ProblemTexts{.itemText = path}));
    }
    results.Problems().push_back(
        std::make_unique<Problem>(4, ProblemTexts{.location = "HKLM\\Software\\HKCUTools"}));
    testing::RecordingPrompts prompts;
    RepairControls controls;
    int pumps = 0;
    controls.pumpEvents = [&] {
        if (++pumps == killAt) ::_exit(0);
    };
    RepairSelectedProblems(*machine, results, prompts, controls);
    machine->Flush();
}

TEST(RepairKillTest, AKilledRepairNeverLosesAFile) {
    // Five findings: five pumps while saving, five while removing; a kill after each.
    for (int killAt = 1; killAt <= 11; ++killAt) {
        SCOPED_TRACE("killed at pump " + std::to_string(killAt));
        testing::TempPrefix prefix;
        prefix.SystemReg(testing::kRepairSystemReg);
        prefix.UserReg(testing::kRepairUserReg);
        prefix.File("Program Files/Hivewise/hivewise.exe", "MZ");
        for (const char* shortcut : kShortcuts)
            prefix.File(shortcut, std::string("shortcut ") + shortcut);

        pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            RepairShortcuts(prefix, killAt);
            ::_exit(0);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);

        // The next run starts from whatever the killed one left, and finishes.
        RepairShortcuts(prefix, 0);
        fs::path folder = prefix.Dir() / "drive_c/Program Files/Hivewise/HivewiseBackup";
        std::multiset<std::string> archived = ArchivedBytes(folder);
        for (const char* shortcut : kShortcuts) {
            EXPECT_FALSE(fs::exists(prefix.Dir() / "drive_c" / shortcut)) << shortcut;
            // Saved twice when the first run was killed after its archive was closed.
            EXPECT_GE(archived.count(std::string("shortcut ") + shortcut), 1u) << shortcut;
        }
        // No empty archive and no temporary file is left behind.
        for (const auto& entry : fs::directory_iterator(folder)) {
            std::string name = entry.path().filename().string();
            EXPECT_EQ(entry.path().extension(), ".zip") << name;
            EXPECT_GT(fs::file_size(entry.path()), 22u) << name;
        }
        auto machine = prefix.Load();
        EXPECT_FALSE(RegistryAccess(*machine).KeyExists(kHkeyLocalMachine, "Software\\HKCUTools"));
    }
}

class RepairSafetyTest : public RepairFlowTest {
  protected:
    RepairOutcome Repair() {
        RepairControls controls;
        controls.running = [this] { return running; };
        controls.setRunning = [this](bool on) { running = on; };
        controls.pumpEvents = [this] {
            if (onPump) onPump();
        };
        return RepairSelectedProblems(*machine, results, prompts, controls);
    }
    fs::path BackupDir() { return prefix.Dir() / "drive_c/Program Files/Hivewise/HivewiseBackup"; }

    bool running = false;
    std::function<void()> onPump;
};

TEST_F(RepairSafetyTest, LeftoversOfAKilledRunAreRemovedAndFinishedArchivesKept) {
    AddFindings();
    RepairOutcome first = Repair();
    ASSERT_FALSE(first.archive.empty());
    auto archives = Archives();
    ASSERT_EQ(archives.size(), 1u);
    // What a run killed while writing leaves: an archive never filled, the temporary
    // archive of its close, a staged file, and a half copy in the work folder.
    std::string empty = std::string("PK\x05\x06", 4) + std::string(18, '\0');
    prefix.Write("drive_c/Program Files/Hivewise/HivewiseBackup/1,2,2030_3,4,5.zip", empty);
    prefix.Write("drive_c/Program Files/Hivewise/HivewiseBackup/1,2,2030_3,4,5.zip.aB3xYz", "x");
    prefix.Write("drive_c/Program Files/Hivewise/HivewiseBackup/.1,2,2030_3,4,5.zip.Qw12er", "y");
    prefix.Write("drive_c/Program Files/Hivewise/HivewiseBackup/notes.txt", "the user's");
    prefix.Write("drive_c/Program Files/Hivewise/HivewiseBackup/keep.zip.old", "the user's");
    fs::create_directories(WorkDir());
    std::ofstream(WorkDir() / ".hivewise-copy-Ab12Cd") << "half";
    // A scan finds the killed run's copies as broken shortcuts too.
    std::ofstream(WorkDir() / "Left.lnk") << "copy";

    results.Problems().clear();
    prefix.File("windows/Old.lnk", "old shortcut");
    Add(14, "", "", "", "C:\\windows\\Old.lnk");
    Add(14, "", "", "", WriteWorkFolder(*machine) + "\\Left.lnk");
    prompts.messages.clear();
    RepairOutcome second = Repair();
    EXPECT_EQ(second.removed, 2);
    EXPECT_EQ(second.queued, 0);
    EXPECT_EQ(second.message, kSelectedProblemsFixedText);
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(BackupDir()))
        names.insert(entry.path().filename().string());
    EXPECT_EQ(names,
              (std::set<std::string>{archives[0].filename().string(), BareName(second.archive),
                                     "notes.txt", "keep.zip.old"}));
    EXPECT_TRUE(fs::is_empty(WorkDir()));
}

TEST_F(RepairSafetyTest, ARunThatSavesNothingLeavesNoArchive) {
    AddFindings();
    running = false;
    // Aborted before the first finding.
    RepairControls controls;
    controls.running = [] { return false; };
    RepairOutcome outcome = RepairSelectedProblems(*machine, results, prompts, controls);
    EXPECT_TRUE(outcome.aborted);
    EXPECT_EQ(outcome.removed, 0);
    EXPECT_TRUE(outcome.archive.empty());
    EXPECT_TRUE(Archives().empty());
    EXPECT_TRUE(DriveFile("users/Public/Desktop/Word.lnk"));

    // Cancel at the question: nothing at all happens.
    prompts.ok = false;
    std::string before = testing::RegistryDump(*machine);
    outcome = Repair();
    EXPECT_FALSE(outcome.ran);
    EXPECT_EQ(testing::RegistryDump(*machine), before);
    EXPECT_TRUE(Archives().empty());
    EXPECT_TRUE(DriveFile("users/Public/Desktop/Word.lnk"));
}

TEST_F(RepairSafetyTest, AReadOnlyMachineRefusesBeforeTouchingAnything) {
    AddFindings();
    machine.reset();
    machine = prefix.Load({.lockPrefix = false, .readOnly = true});
    ASSERT_TRUE(machine);
    std::string before = testing::RegistryDump(*machine);
    RepairOutcome outcome = Repair();
    EXPECT_FALSE(outcome.ran);
    EXPECT_EQ(outcome.refused, RepairOutcome::Refusal::kCannotSave);
    EXPECT_TRUE(prompts.okCancelQuestions.empty());
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_EQ(prompts.messages[0], machine->SaveRefusal());
    EXPECT_EQ(testing::RegistryDump(*machine), before);
    EXPECT_TRUE(DriveFile("users/Public/Desktop/Word.lnk"));
    EXPECT_TRUE(Archives().empty());

    // A registry file changed on disk since loading would refuse the save as well.
    machine.reset();
    machine = prefix.Load();
    prefix.Write("user.reg", prefix.Read("user.reg") + "\n");
    prompts.messages.clear();
    outcome = Repair();
    EXPECT_EQ(outcome.refused, RepairOutcome::Refusal::kCannotSave);
    EXPECT_NE(prompts.messages.at(0).find("changed on disk"), std::string::npos);
    EXPECT_TRUE(DriveFile("users/Public/Desktop/Word.lnk"));
}

TEST_F(RepairSafetyTest, EachFindingCountsByWhatHappenedToIt) {
    // Twice the same value, a key and a key below it, a file that can only be queued.
    Add(6, "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs", "C:\\gone\\shared.dll",
        "c:\\gone\\shared.dll");
    Add(13, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs",
        "C:\\gone\\shared.dll", "c:\\gone\\shared.dll");
    Add(1, "HKCLASS\\CLSID\\{11111111-0000-0000-0000-000000000001}");
    Add(1, "HKCLASS\\CLSID\\{11111111-0000-0000-0000-000000000001}\\InprocServer32");
    Add(14, "", "", "", "C:\\windows\\Config.ini");
    Add(4, "HKLM\\Software\\NoSuchKey");
    fs::path readOnly = prefix.Dir() / "drive_c/windows/Config.ini";
    fs::permissions(readOnly, fs::perms::owner_read | fs::perms::group_read);
    RepairOutcome outcome = Repair();
    EXPECT_EQ(outcome.removed, 4);
    EXPECT_EQ(outcome.queued, 1);
    EXPECT_EQ(outcome.notRemoved, 1);
    EXPECT_EQ(outcome.notBackedUp, 0);
    EXPECT_EQ(outcome.failures, std::vector<std::string>{
                                    "Could not remove HKEY_LOCAL_MACHINE\\Software\\NoSuchKey."});
    EXPECT_EQ(outcome.message,
              "Selected Problems Fixed\n1 item(s) will be removed when Wine next starts.\n"
              "1 item(s) could not be removed.");
    EXPECT_TRUE(DriveFile("windows/Config.ini"));
    // The value is saved once, however many findings name it.
    auto archives = Archives();
    ASSERT_EQ(archives.size(), 1u);
    std::vector<BackupItem> items;
    {
        ZipReader reader;
        ASSERT_EQ(reader.Open(archives[0], kFixBackupPassword), ZipStatus::kOk);
        std::string config;
        ASSERT_EQ(reader.ReadEntry(reader.FindEntry(kConfigEntry, true), &config), ZipStatus::kOk);
        size_t values = 0;
        for (size_t at = 0; (at = config.find("[TYPE:REG_VALUE]", at)) != std::string::npos; ++at)
            ++values;
        EXPECT_EQ(values, 1u);
    }
}

TEST_F(RepairSafetyTest, ARestoreWithFailuresSaysSo) {
    AddFindings();
    Repair();
    // The value's key is gone since: that item cannot go back; nor can the finding that
    // names no shortcut, which no repair removes.
    ASSERT_EQ(RegistryAccess(*machine).DeleteKeyTree(
                  kHkeyCurrentUser, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run"),
              kErrorSuccess);
    prompts.messages.clear();
    RestoreBackupDialog dialog(*machine, prompts);
    dialog.Open();
    dialog.SelectDate(0);
    dialog.SelectAll();
    EXPECT_TRUE(dialog.Restore());
    const RestoreResult& result = dialog.LastRestore();
    EXPECT_EQ(result.failed, 2);
    EXPECT_EQ(result.restored, 8);
    ASSERT_EQ(result.failures.size(), 2u);
    EXPECT_EQ(prompts.messages.back(), PartlyRestoredText(8, 2));
    EXPECT_NE(prompts.messages.back(), kEntriesRestoredText);
}

}  // namespace
}  // namespace hivewise
