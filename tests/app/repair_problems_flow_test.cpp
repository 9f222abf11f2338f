#include "app/repair_problems_flow.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "app/backups/restore_backup_dialog.h"
#include "app/repair_flow_fixture.h"
#include "platform/machine/prefix_lock.h"
#include "platform/machine/shell_link_writer.h"
#include "platform/registry/registry_access.h"
#include "repair/zip_archive.h"

namespace hivewise {
namespace {

namespace fs = std::filesystem;
using testing::RepairFlowTest;

class RepairRunTest : public RepairFlowTest {
  protected:
    RepairOutcome Repair() {
        RepairControls controls;
        controls.running = [this] { return running; };
        controls.setRunning = [this](bool on) {
            running = on;
            runningChanges.push_back(on);
        };
        controls.setProgressRange = [this](int maximum) { progressMaximum = maximum; };
        controls.stepProgress = [this] { ++progress; };
        controls.pumpEvents = [this] {
            if (onPump) onPump();
        };
        controls.showSectionSelection = [this] { ++selectionShown; };
        return RepairSelectedProblems(*machine, results, prompts, controls);
    }
    bool KeyExists(RegHandle root, const std::string& path) {
        return RegistryAccess(*machine).KeyExists(root, path);
    }
    bool ValueExists(const std::string& path, const std::string& name) {
        RegistryAccess registry(*machine);
        RegHandle key;
        if (registry.OpenKey(kHkeyLocalMachine, path, kKeyRead, &key) != kErrorSuccess &&
            registry.OpenKey(kHkeyCurrentUser, path, kKeyRead, &key) != kErrorSuccess) {
            return false;
        }
        std::string data;
        long status = registry.QueryValue(key, name, 4096, nullptr, &data);
        registry.CloseKey(key);
        return status == kErrorSuccess;
    }
    std::vector<std::string> EntryNames(const fs::path& archive) {
        ZipReader reader;
        EXPECT_EQ(reader.Open(archive, kFixBackupPassword), ZipStatus::kOk);
        std::vector<std::string> names;
        for (const ZipEntryInfo& entry : reader.Entries())
            names.push_back(entry.name);
        std::sort(names.begin(), names.end());
        return names;
    }

    bool running = false;
    std::vector<bool> runningChanges;
    int progressMaximum = -1;
    int progress = 0;
    int selectionShown = 0;
    std::function<void()> onPump;
};

constexpr const char* kSharedDlls = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";
constexpr const char* kRun = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr const char* kClsid = "Software\\Classes\\CLSID\\{11111111-0000-0000-0000-000000000001}";

TEST_F(RepairRunTest, RepairThenRestoreGivesEverythingBackExactly) {
    std::string before = testing::RegistryDump(*machine);
    AddFindings();
    // Unticked findings are neither saved nor removed, but count in the export numbers.
    Problem& kept = Add(6, "HKLM\\" + std::string(kSharedDlls), "C:\\windows\\kept.dll", "");
    kept.isChecked = 0;
    auto& list = results.Problems();
    std::unique_ptr<Problem> unticked = std::move(list.back());
    list.pop_back();
    list.insert(list.begin() + 2, std::move(unticked));

    RepairOutcome outcome = Repair();
    EXPECT_EQ(outcome.message, kSelectedProblemsFixedText);
    // The notice asks, with the number of items it removes; Cancel is the safe answer.
    EXPECT_EQ(prompts.messages.size(), 1u);
    EXPECT_EQ(prompts.okCancelQuestions,
              std::vector<std::string>{std::string(kAutoBackupNotice) +
                                       "\n\n10 item(s) will be removed."});
    EXPECT_EQ(outcome.removed, 10);
    EXPECT_EQ(progressMaximum, 10);
    EXPECT_EQ(progress, 10);
    EXPECT_EQ(runningChanges, (std::vector<bool>{true, false}));
    EXPECT_EQ(selectionShown, 1);

    EXPECT_FALSE(KeyExists(kHkeyLocalMachine, kClsid));
    EXPECT_FALSE(KeyExists(kHkeyLocalMachine, "Software\\HKCUTools"));
    EXPECT_FALSE(ValueExists(kSharedDlls, "C:\\gone\\shared.dll"));
    EXPECT_FALSE(ValueExists(kSharedDlls, "C:\\gone\\bin.dll"));
    EXPECT_TRUE(ValueExists(kSharedDlls, "C:\\windows\\kept.dll"));
    EXPECT_FALSE(ValueExists(kRun, "Stale"));
    EXPECT_TRUE(ValueExists(kRun, "Other"));
    EXPECT_FALSE(ValueExists("Control Panel\\Sounds", "Beep"));
    EXPECT_TRUE(ValueExists("Control Panel\\Sounds", "Empty"));
    EXPECT_FALSE(DriveFile("users/Public/Desktop/Word.lnk"));
    EXPECT_FALSE(DriveFile("windows/Start Menu/Word.lnk"));
    EXPECT_FALSE(DriveFile("windows/Config.ini"));
    // Locations keep their expanded roots; a root name inside a path is left alone.
    EXPECT_EQ(results.Problems().back()->Location(), "HKEY_LOCAL_MACHINE\\Software\\HKCUTools");

    auto archives = Archives();
    ASSERT_EQ(archives.size(), 1u);
    EXPECT_EQ(EntryNames(archives[0]),
              (std::vector<std::string>{"Config.ini", "Config~2.ini", "Word.lnk", "Word~2.lnk",
                                        "rkBackUp1.reg", "rkBackUp11.reg", "rkBackUp2.reg"}));
    if (testing::HaveProgram("unzip")) {
        fs::path out = prefix.Dir() / "unzipped";
        std::string command = "unzip -qq -P quarrytwine '" + archives[0].string() + "' -d '" +
                              out.string() + "' >/dev/null 2>&1";
        ASSERT_EQ(std::system(command.c_str()), 0);
        EXPECT_EQ(prefix.Read("unzipped/Word~2.lnk"), "second shortcut");
        EXPECT_NE(prefix.Read("unzipped/Config.ini").find("[TYPE:FILE]\r\r\n"), std::string::npos);
    }
    if (testing::HaveProgram("7z")) {
        std::string command = "7z t -pquarrytwine '" + archives[0].string() + "' >/dev/null 2>&1";
        EXPECT_EQ(std::system(command.c_str()), 0);
    }
    // The work folder is emptied; it stays.
    fs::path work = WorkDir();
    EXPECT_TRUE(fs::is_directory(work));
    EXPECT_TRUE(fs::is_empty(work));

    prompts.messages.clear();
    RestoreBackupDialog dialog(*machine, prompts);
    dialog.Open();
    ASSERT_EQ(dialog.Dates().size(), 1u);
    EXPECT_FALSE(dialog.Dates()[0].text.empty());
    dialog.SelectDate(0);
    ASSERT_EQ(dialog.Rows().size(), 10u);
    EXPECT_EQ(ItemTypeText(dialog.Rows()[0].item), "RegKey");
    EXPECT_EQ(ItemPathText(dialog.Rows()[0].item),
              "HKEY_CLASSES_ROOT\\CLSID\\{11111111-0000-0000-0000-000000000001}");
    EXPECT_EQ(ItemTypeText(dialog.Rows()[2].item), "RegValue");
    EXPECT_EQ(ItemTypeText(dialog.Rows()[6].item), "ShortCut");
    EXPECT_FALSE(dialog.Restore());  // nothing ticked
    EXPECT_EQ(prompts.messages.back(), kNoBackupItemsSelectedText);
    dialog.SelectAll();
    EXPECT_TRUE(dialog.Restore());
    // Only shortcuts are put back as files: the shortcut section removes nothing else.
    EXPECT_EQ(prompts.messages,
              (std::vector<std::string>{std::string(kNoBackupItemsSelectedText),
                                        "Could not restore C:\\windows\\Config.ini",
                                        PartlyRestoredText(9, 1)}));

    EXPECT_EQ(testing::RegistryDump(*machine), before);
    EXPECT_EQ(prefix.Read("drive_c/users/Public/Desktop/Word.lnk"), "first shortcut");
    EXPECT_EQ(prefix.Read("drive_c/windows/Start Menu/Word.lnk"), "second shortcut");
    EXPECT_FALSE(DriveFile("windows/Config.ini"));
    EXPECT_FALSE(fs::exists(prefix.Dir() / "drive_c/Program Files/Hivewise/HivewiseBackup/Temp"));
}

TEST_F(RepairRunTest, AbortAfterTheFirstFindingKeepsWhatWasSaved) {
    AddFindings();
    onPump = [this] { running = false; };  // "Abort" pressed while the first one ran
    RepairOutcome outcome = Repair();
    EXPECT_TRUE(outcome.aborted);
    EXPECT_EQ(prompts.messages.back(), kSystemRepairAbortedText);
    EXPECT_FALSE(KeyExists(kHkeyLocalMachine, kClsid));
    EXPECT_TRUE(ValueExists(kSharedDlls, "C:\\gone\\shared.dll"));
    EXPECT_TRUE(KeyExists(kHkeyLocalMachine, "Software\\HKCUTools"));
    auto archives = Archives();
    ASSERT_EQ(archives.size(), 1u);
    EXPECT_EQ(EntryNames(archives[0]), (std::vector<std::string>{"Config.ini", "rkBackUp1.reg"}));
}

TEST_F(RepairRunTest, NothingToRepairAndBackupSwitchedOff) {
    Repair();
    EXPECT_EQ(prompts.messages, std::vector<std::string>{std::string(kNoProblemsFoundText)});
    AddFindings();
    for (auto& problem : results.Problems())
        problem->isChecked = 0;
    Repair();
    EXPECT_EQ(prompts.messages.back(), kNoItemsCheckedText);
    for (auto& problem : results.Problems())
        problem->isChecked = 1;

    ASSERT_TRUE(RegistryAccess(*machine).WriteSetting("NoAutoBackup", "1"));
    std::string before = testing::RegistryDump(*machine);
    prompts.yes = false;
    RepairOutcome outcome = Repair();
    EXPECT_FALSE(outcome.ran);
    EXPECT_EQ(prompts.questions, std::vector<std::string>{std::string(kNoAutoBackupQuestion)});
    EXPECT_EQ(testing::RegistryDump(*machine), before);
    EXPECT_TRUE(Archives().empty());

    prompts.yes = true;
    outcome = Repair();
    EXPECT_EQ(outcome.removed, 10);
    EXPECT_FALSE(KeyExists(kHkeyLocalMachine, kClsid));
    EXPECT_TRUE(Archives().empty());
}

TEST_F(RepairRunTest, NothingIsRemovedWithoutAnArchive) {
    AddFindings();
    // The backup folder's name is taken by a file: no archive can be made there.
    prefix.File("Program Files/Hivewise/HivewiseBackup", "in the way");
    std::string before = testing::RegistryDump(*machine);
    RepairOutcome outcome = Repair();
    EXPECT_FALSE(outcome.ran);
    EXPECT_EQ(prompts.messages.back(), kBackupNotCreatedText);
    EXPECT_EQ(testing::RegistryDump(*machine), before);
    EXPECT_TRUE(DriveFile("users/Public/Desktop/Word.lnk"));
}

// The work folder, or the temporary folder above it, linked to a folder of the user's.
TEST_F(RepairRunTest, AWorkFolderLinkedOutOfThePrefixIsNeverEmptiedOrPacked) {
    testing::TempPrefix outside;
    outside.Write("home/precious.txt", "keep me");
    const fs::path home = outside.Dir() / "home";
    fs::path work = WorkDir();
    fs::create_directories(work.parent_path());
    fs::create_directory_symlink(home, work);
    AddFindings();
    RepairOutcome outcome = Repair();
    ASSERT_TRUE(outcome.ran);
    EXPECT_EQ(outcome.removed, 10);
    EXPECT_EQ(outside.Read("home/precious.txt"), "keep me");
    EXPECT_FALSE(fs::is_symlink(work));
    ASSERT_EQ(Archives().size(), 1u);
    ZipReader reader;
    ASSERT_EQ(reader.Open(Archives()[0], kFixBackupPassword), ZipStatus::kOk);
    EXPECT_EQ(reader.FindEntry("precious.txt", true), -1);

    // The temporary folder itself leads out: no backup, so nothing is removed.
    fs::remove_all(work);
    fs::path temp = work.parent_path();
    fs::remove_all(temp);
    fs::create_directory_symlink(home, temp);
    results.Problems().clear();
    prompts.messages.clear();
    Add(4, "HKLM\\Software\\HKCUTools");
    std::string before = testing::RegistryDump(*machine);
    EXPECT_FALSE(Repair().ran);
    EXPECT_EQ(prompts.messages.back(), kBackupNotCreatedText);
    EXPECT_EQ(testing::RegistryDump(*machine), before);
    EXPECT_EQ(outside.Read("home/precious.txt"), "keep me");
    EXPECT_EQ(std::distance(fs::directory_iterator(home), fs::directory_iterator()), 1);
}

TEST_F(RepairRunTest, FindingsWhoseSaveFailsStayAndAreCounted) {
    Add(1, "HKEY_CLASSES_ROOT\\CLSID\\{11111111-0000-0000-0000-000000000001}");
    Add(14, "", "", "", "C:\\windows\\Start Menu");  // a folder: its copy fails
    Add(6, "HKLM\\" + std::string(kSharedDlls), "C:\\gone\\shared.dll", "x");
    Add(4, "HKLM\\Software\\HKCUTools");
    Add(4, "HKLM\\Software\\NoSuchKey");   // gone already: nothing to save, removal fails
    Add(0, "HKLM\\Software\\HKCUTools");   // never removed
    Add(77, "HKLM\\Software\\HKCUTools");  // a section this program does not know
    fs::path work = WorkDir();
    int pumped = 0;
    onPump = [&] {
        // A record list's name in the work folder taken by a folder mid-run: the records
        // are the backup's own and all of them reach the archive.
        if (++pumped == 2) fs::create_directory(work / "Config.ini");
    };
    RepairOutcome outcome = Repair();
    EXPECT_EQ(outcome.removed, 3);
    EXPECT_EQ(outcome.notBackedUp, 1);
    EXPECT_EQ(outcome.notRemoved, 1);
    EXPECT_EQ(prompts.messages.back(),
              "Selected Problems Fixed\n1 item(s) could not be backed up and were not removed.\n"
              "1 item(s) could not be removed.");
    EXPECT_FALSE(KeyExists(kHkeyLocalMachine, kClsid));
    EXPECT_FALSE(ValueExists(kSharedDlls, "C:\\gone\\shared.dll"));
    EXPECT_FALSE(KeyExists(kHkeyLocalMachine, "Software\\HKCUTools"));
    EXPECT_TRUE(DriveFile("windows/Start Menu/Word.lnk"));

    ASSERT_EQ(Archives().size(), 1u);
    std::string config;
    ASSERT_TRUE(FixBackup(*machine).ReadConfig(ListFixBackups(*machine)[0].path, &config));
    std::vector<BackupItem> items = ReadConfigItems(config);
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[1].kind, kBackupValue);
    EXPECT_EQ(items[2].first, "HKEY_LOCAL_MACHINE\\Software\\HKCUTools");
}

TEST_F(RepairRunTest, NothingIsRemovedWhenTheArchiveCannotBeWritten) {
    Add(4, "HKLM\\Software\\HKCUTools");
    Add(14, "", "", "", "C:\\users\\Public\\Desktop\\Word.lnk");
    fs::path folder = prefix.Dir() / "drive_c" / "Program Files" / "Hivewise" / "HivewiseBackup";
    onPump = [&] {
        // The backup folder goes away under the running repair.
        fs::remove_all(folder);
        std::ofstream(folder) << "in the way";
    };
    std::string before = testing::RegistryDump(*machine);
    RepairOutcome outcome = Repair();
    EXPECT_TRUE(outcome.archive.empty());
    EXPECT_TRUE(outcome.backupFailed);
    EXPECT_EQ(prompts.messages.back(), kBackupNotWrittenText);
    EXPECT_EQ(testing::RegistryDump(*machine), before);
    EXPECT_TRUE(DriveFile("users/Public/Desktop/Word.lnk"));
}

TEST_F(RepairRunTest, TwoBackupsInOneSecondAreBothKept) {
    FixBackup first(*machine), second(*machine);
    FileSystemAccess files(*machine);
    ASSERT_TRUE(files.CreateDirectoryPath("C:\\windows\\temp\\w"));
    ASSERT_TRUE(first.BeginBackup("C:\\windows\\temp\\w"));
    ASSERT_TRUE(second.BeginBackup("C:\\windows\\temp\\w"));
    EXPECT_NE(first.ArchivePath(), second.ArchivePath());
    std::string a = BareName(first.ArchivePath()), b = BareName(second.ArchivePath());
    if (a.substr(0, a.size() - 4) == b.substr(0, b.size() - 6)) {
        EXPECT_EQ(b.substr(b.size() - 6), "_2.zip");
    }
    ASSERT_TRUE(first.AppendConfigRecord("[TYPE:FILE]\r\n[DEST_PATH:C:\\a.lnk]\r\n"));
    EXPECT_TRUE(first.FinishBackup().ok);
    ASSERT_TRUE(second.AppendConfigRecord("[TYPE:FILE]\r\n[DEST_PATH:C:\\b.lnk]\r\n"));
    EXPECT_TRUE(second.FinishBackup().ok);
    std::vector<BackupArchive> listed = ListFixBackups(*machine);
    ASSERT_EQ(listed.size(), 2u);
    EXPECT_EQ(listed[0].fileName, b);  // newest first
    EXPECT_EQ(listed[0].text, FormatBackupDate(b.substr(0, b.size() - 4)));
}

TEST_F(RepairRunTest, SoundFindingsRemoveTheSoundValueOnly) {
    Add(12, "HKEY_CURRENT_USER\\Control Panel\\Sounds\\", "Empty", "");
    Add(12, "HKEY_CURRENT_USER\\Control Panel\\Sounds\\C:\\gone\\beep.wav", "Beep",
        "C:\\gone\\beep.wav");
    RepairOutcome outcome = Repair();
    EXPECT_EQ(outcome.removed, 1);
    EXPECT_EQ(outcome.message, kSelectedProblemsFixedText);
    EXPECT_TRUE(ValueExists("Control Panel\\Sounds", "Empty"));
    EXPECT_TRUE(ValueExists("Control Panel\\Sounds", "Ok"));
    EXPECT_FALSE(ValueExists("Control Panel\\Sounds", "Beep"));
}

// A sound event's file is its scheme key's default value, which the finding names
// "(Default)": that value goes, the key and every other sound stay.
TEST_F(RepairRunTest, SoundEventFindingsRemoveTheSchemeDefault) {
    const std::string scheme = "AppEvents\\Schemes\\Apps\\Racer\\Lap\\.Current";
    RegistryAccess registry(*machine);
    RegHandle key = 0;
    ASSERT_EQ(registry.CreateKey(kHkeyCurrentUser, scheme, &key), kErrorSuccess);
    registry.CloseKey(key);
    ASSERT_TRUE(registry.WriteValue(kHkeyCurrentUser, scheme, "", "C:\\gone\\lap.wav", kRegSz));
    ASSERT_TRUE(registry.WriteValue(kHkeyCurrentUser, scheme, "Label", "Lap", kRegSz));
    Add(12, "HKEY_CURRENT_USER\\" + scheme + "\\C:\\gone\\lap.wav", "(Default)",
        "C:\\gone\\lap.wav");
    RepairOutcome outcome = Repair();
    EXPECT_EQ(outcome.removed, 1);
    EXPECT_EQ(outcome.message, kSelectedProblemsFixedText);
    EXPECT_FALSE(ValueExists(scheme, ""));
    EXPECT_TRUE(ValueExists(scheme, "Label"));
    EXPECT_TRUE(ValueExists("Control Panel\\Sounds", "Beep"));
}

// Findings of an old scan or a crafted list naming shortcuts outside the prefix: through
// a profile folder linked to the home folder, a file link, or drive Z:. None is saved or
// removed, now or at the next restart; the shortcut inside still goes.
TEST_F(RepairRunTest, NothingOutsideThePrefixIsRemoved) {
    testing::TempFolder home;
    ShellLinkFields fields;
    fields.targetPath = "C:\\Old\\app.exe";
    std::string shortcut = BuildShellLink(fields);
    for (const char* name : {"Desktop/a.lnk", "Desktop/b.lnk", "Desktop/old desktop/c.lnk"})
        home.Write(name, shortcut);
    fs::path user = prefix.Dir() / "drive_c" / "users" / "u";
    fs::create_directories(user);
    fs::create_directory_symlink(home.Dir() / "Desktop", user / "Desktop");
    fs::create_symlink(home.Dir() / "Desktop" / "b.lnk", user / "linked.lnk");
    fs::create_directory_symlink("/", prefix.Dir() / "dosdevices" / "z:");
    machine = prefix.Load();
    ASSERT_TRUE(machine) << prefix.LastError();

    Add(14, "", "", "", "C:\\users\\u\\Desktop\\a.lnk");
    Add(14, "", "", "", "C:\\users\\u\\Desktop\\old desktop\\c.lnk");
    Add(14, "", "", "", "C:\\users\\u\\linked.lnk");
    Add(14, "", "", "", home.OnDriveZ("Desktop\\b.lnk"));
    Add(14, "", "", "", "\\\\?\\" + home.OnDriveZ("Desktop\\b.lnk"));
    Add(14, "", "", "", home.OnDriveZ("Desktop\\gone.lnk"));
    Add(14, "", "", "", "C:\\users\\Public\\Desktop\\Word.lnk");
    RepairOutcome outcome = Repair();
    EXPECT_EQ(outcome.removed, 1);
    EXPECT_EQ(outcome.notRemoved, 6);
    EXPECT_FALSE(DriveFile("users/Public/Desktop/Word.lnk"));
    for (const char* name : {"Desktop/a.lnk", "Desktop/b.lnk", "Desktop/old desktop/c.lnk"})
        EXPECT_EQ(home.Read(name), shortcut) << name;
    EXPECT_TRUE(fs::is_symlink(user / "linked.lnk"));
    EXPECT_FALSE(ValueExists("System\\CurrentControlSet\\Control\\Session Manager",
                             "PendingFileRenameOperations"));
    auto archives = Archives();
    ASSERT_EQ(archives.size(), 1u);
    EXPECT_EQ(EntryNames(archives[0]), (std::vector<std::string>{"Config.ini", "Word.lnk"}));
}

// Value names as Wine and careless installers write them: each must be saved, removed
// and put back exactly, whatever its name holds.
TEST_F(RepairRunTest, ValuesWithAwkwardNamesRoundTripExactly) {
    RegKey* menus =
        machine->Registry().Create(machine->CurrentUser(), u"Software\\Wine\\MenuFiles");
    ASSERT_TRUE(menus);
    const std::vector<std::u16string> names = {
        u"\\\\?\\Z:\\home\\user\\.config\\menus\\applications-merged\\wine-Programs-FakeApp-"
        u"FakeApp.menu",
        u"C:\\gone\\\\double\\",
        u"",
        u"closing]bracket]",
        u"[opening[bracket",
        u"[TYPE:REG_KEY]",
        u"line\r\nbreak\n",
        u"caf\u00e9 \u4e2d\u6587",
        u"\u4e2d",
        u"?",
    };
    std::string data = Utf16ToBytes(u"C:\\gone\\FakeApp.lnk");
    data.append(2, '\0');
    for (const std::u16string& name : names)
        machine->Registry().SetValue(menus, name, kRegSz, data);
    // One of binary type, as a program might leave: its bytes must come back as they were.
    machine->Registry().SetValue(menus, u"bin]\u00e9", kRegBinary, std::string("\x00\xff\r\n", 4));
    std::string before = testing::RegistryDump(*machine);

    // The findings name the values as the complete registry scan reports them.
    RegistryAccess registry(*machine);
    RegHandle key = 0;
    ASSERT_EQ(registry.OpenKey(kHkeyCurrentUser, "Software\\Wine\\MenuFiles", kKeyRead, &key),
              kErrorSuccess);
    for (uint32_t index = 0;; ++index) {
        std::string name, text;
        if (registry.EnumValue(key, index, &name, 16383, nullptr, &text) != kErrorSuccess) break;
        Add(13, "HKEY_CURRENT_USER\\Software\\Wine\\MenuFiles", name, "c:\\gone\\fakeapp.lnk");
    }
    registry.CloseKey(key);
    ASSERT_EQ(results.Problems().size(), names.size() + 1);

    RepairOutcome outcome = Repair();
    // "\u4e2d" and "?" both read "?": the findings cannot tell them apart, so one value is
    // saved and removed, and the other stays, reported as not removed.
    EXPECT_EQ(outcome.removed, static_cast<int>(names.size()));
    EXPECT_EQ(outcome.notRemoved, 1);
    ASSERT_EQ(menus->Values().size(), 1u);
    EXPECT_EQ(menus->Values()[0].name, u"\u4e2d");

    prompts.messages.clear();
    RestoreBackupDialog dialog(*machine, prompts);
    dialog.Open();
    ASSERT_EQ(dialog.Dates().size(), 1u);
    dialog.SelectDate(0);
    ASSERT_EQ(dialog.Rows().size(), names.size());
    dialog.SelectAll();
    EXPECT_TRUE(dialog.Restore());
    EXPECT_EQ(prompts.messages, (std::vector<std::string>{std::string(kEntriesRestoredText)}));
    EXPECT_EQ(testing::RegistryDump(*machine), before);
    for (const std::u16string& name : names) {
        const RegValue* value = menus->FindValue(name);
        ASSERT_TRUE(value) << Utf16ToUtf8(name);
        EXPECT_EQ(value->name, name);
        EXPECT_EQ(value->data, data);
    }
}

// Holds the lock that Wine's server holds for a prefix while it runs.
class FakeWineServer {
  public:
    explicit FakeWineServer(const fs::path& prefix) {
        struct stat st {};
        ::stat(prefix.c_str(), &st);
        char dir[128];
        std::snprintf(dir, sizeof dir, "/tmp/.wine-%u/server-%llx-%llx",
                      static_cast<unsigned>(::getuid()), static_cast<unsigned long long>(st.st_dev),
                      static_cast<unsigned long long>(st.st_ino));
        dir_ = dir;
        fs::create_directories(dir_);
        int ready[2];
        if (::pipe(ready) != 0) return;
        child_ = ::fork();
        if (child_ == 0) {
            int fd = ::open((dir_ / "lock").c_str(), O_RDWR | O_CREAT, 0600);
            struct flock lock {};
            lock.l_type = F_WRLCK;
            ::fcntl(fd, F_SETLK, &lock);
            char c = 1;
            (void)!::write(ready[1], &c, 1);
            ::pause();
            ::_exit(0);
        }
        char c;
        (void)!::read(ready[0], &c, 1);
        ::close(ready[0]);
        ::close(ready[1]);
    }
    ~FakeWineServer() {
        if (child_ > 0) {
            ::kill(child_, SIGKILL);
            ::waitpid(child_, nullptr, 0);
        }
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

  private:
    fs::path dir_;
    pid_t child_ = -1;
};

TEST_F(RepairRunTest, NothingIsRemovedOrRestoredWhileWineRuns) {
    AddFindings();
    Repair();
    std::string afterRepair = testing::RegistryDump(*machine);
    // Put one thing back by hand, so that a refused repair is visible.
    FakeWineServer wine(prefix.Dir());
    prompts.messages.clear();
    RestoreBackupDialog dialog(*machine, prompts);
    dialog.Open();
    dialog.SelectDate(0);
    dialog.SelectAll();
    EXPECT_FALSE(dialog.Restore());
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_EQ(prompts.messages[0], WineRunningMessage(prefix.Dir()));
    EXPECT_EQ(testing::RegistryDump(*machine), afterRepair);

    prompts.messages.clear();
    RepairOutcome outcome = Repair();
    EXPECT_FALSE(outcome.ran);
    EXPECT_EQ(prompts.messages, std::vector<std::string>{WineRunningMessage(prefix.Dir())});
    EXPECT_EQ(Archives().size(), 1u);
}

}  // namespace
}  // namespace hivewise
