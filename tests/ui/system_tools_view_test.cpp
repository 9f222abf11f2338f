#include <QTest>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/app_fixture.h"
#include "app/save_changes.h"
#include "app/tools/bho_manager.h"
#include "app/tools/installed_programs_manager.h"
#include "app/tools/startup_manager.h"
#include "platform/machine/sample_machine.h"
#include "platform/machine/text.h"
#include "platform/registry/registry_access.h"
#include "ui/entry_manager_view.h"
#include "ui/removed_entries_view.h"
#include "ui/ui_fixture.h"

namespace hivewise::testing {
namespace {

namespace fs = std::filesystem;
using ui::EntryManagerView;
using ui::RemovedEntriesView;

// Every key and value of the registry (type and bytes), the parking areas left out.
void Snapshot(const RegKey& key, const RegKey* skip, const std::string& path,
              std::ostringstream& out) {
    if (&key == skip) return;
    out << "[" << path << (key.IsLink() ? "] link\n" : "]\n");
    for (const RegValue& value : key.Values()) {
        out << Utf16ToUtf8(value.name) << "=" << value.type << ":";
        for (unsigned char c : value.data)
            out << static_cast<int>(c) << ',';
        out << "\n";
    }
    for (const RegKey* child : key.SubKeys())
        Snapshot(*child, skip, path + "\\" + Utf16ToUtf8(child->Name()), out);
}

std::string Snapshot(Machine& machine) {
    std::ostringstream out;
    RegKey* parking = machine.Registry().Find(machine.CurrentUser(), u"Software\\Hivewise");
    Snapshot(*machine.Registry().Root(), parking, "", out);
    return out.str();
}

void CheckAll(QTreeWidget* list) {
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        list->topLevelItem(i)->setCheckState(0, Qt::Checked);
}

class SystemToolsViewTest : public ::testing::Test {
  protected:
    void Load() {
        auto loaded = Machine::Load(dir, {.lockPrefix = false});
        machine = std::move(loaded.machine);
        ASSERT_TRUE(machine) << loaded.error;
    }

    // Through the manager's window: every entry removed, then every one put back through
    // the restore window. Returns how many entries the manager listed.
    template <typename Manager>
    int RoundTrip() {
        auto openRestore = [this](RemovedEntriesMode mode) {
            RemovedEntriesDialog logic(*machine, prompts, mode);
            RemovedEntriesView view(logic);
            view.show();
            EXPECT_EQ(view.windowTitle(), "Restore Removed Registry Entries");
            CheckAll(view.List());
            QTest::mouseClick(view.RestoreButton(), Qt::LeftButton);
            return view.result() == QDialog::Accepted;
        };
        Manager logic(*machine, prompts, openRestore);
        EntryManagerView view(logic, [this] { SaveChanges(*machine, prompts); });
        view.show();
        int listed = view.List()->topLevelItemCount();
        CheckAll(view.List());
        QTest::mouseClick(view.RemoveButton(), Qt::LeftButton);
        EXPECT_EQ(view.List()->topLevelItemCount(), 0) << logic.Title();
        QTest::mouseClick(view.RestoreButton(), Qt::LeftButton);
        EXPECT_EQ(view.List()->topLevelItemCount(), listed) << logic.Title();
        return listed;
    }

    void RoundTripAll() {
        std::string before = Snapshot(*machine);
        EXPECT_GT(RoundTrip<StartupProgramManager>(), 0);
        EXPECT_GT(RoundTrip<BhoManager>(), 0);
        EXPECT_GT(RoundTrip<InstalledProgramsManager>(), 0);
        for (const auto& [text, icon] : prompts.messages) {
            EXPECT_TRUE(text == "Item(s) Removed" || text == "Selected Item(s) Restored") << text;
        }
        EXPECT_EQ(Snapshot(*machine), before);
        // What was saved to the prefix's files is the same registry.
        Load();
        EXPECT_EQ(Snapshot(*machine), before);
    }

    TempPrefix prefix;
    fs::path dir = prefix.Dir();
    std::unique_ptr<Machine> machine;
    FakePrompts prompts;
};

TEST_F(SystemToolsViewTest, SampleMachineComesBackExactly) {
    auto templateDir = FindSampleTemplate(RunningExecutable());
    ASSERT_TRUE(templateDir);
    dir = prefix.Dir() / "sample";
    std::string error;
    ASSERT_TRUE(CreateSampleMachine(*templateDir, dir, &error)) << error;
    Load();
    RoundTripAll();
}

TEST_F(SystemToolsViewTest, WineMadeRegistryWithAnInstalledProgramComesBackExactly) {
    fs::path wine = TestDataDir() / "wine-prefix";
    if (TestDataDir().empty()) GTEST_SKIP() << "no test data";
    for (const char* file : {"system.reg", "user.reg", "userdef.reg"})
        fs::copy_file(wine / file, dir / file);
    fs::create_directories(dir / "drive_c/Program Files/Tinker");
    fs::copy_file(TestDataDir() / "pe" / "version.dll",
                  dir / "drive_c/Program Files/Tinker/tinker.exe");
    Load();
    // A program "installed": a Run value, an uninstall entry and a helper object.
    RegistryAccess registry(*machine);
    auto write = [&](RegHandle root, const std::string& key, const std::string& name, uint32_t type,
                     const std::string& data) {
        RegHandle handle = 0;
        ASSERT_EQ(registry.CreateKey(root, key, &handle), kErrorSuccess);
        registry.SetValue(handle, name, type, data);
        registry.CloseKey(handle);
    };
    const std::string id = "{0D1E2F30-4152-6374-8596-A7B8C9DAEBFC}";
    write(kHkeyLocalMachine, "Software\\Microsoft\\Windows\\CurrentVersion\\Run", "Tinker", kRegSz,
          "\"C:\\Program Files\\Tinker\\tinker.exe\" /tray");
    write(kHkeyCurrentUser, "Software\\Microsoft\\Windows\\CurrentVersion\\Run", "TinkerUser",
          kRegExpandSz, "%ProgramFiles%\\Tinker\\tinker.exe");
    std::string uninstall = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tinker";
    write(kHkeyLocalMachine, uninstall, "DisplayName", kRegSz, "Tinker 1.0");
    write(kHkeyLocalMachine, uninstall, "EstimatedSize", kRegDword, std::string("\0\4\0\0", 4));
    write(kHkeyLocalMachine, uninstall + "\\Parts", "Blob", kRegBinary, std::string("\0\xff", 2));
    write(kHkeyClassesRoot, "CLSID\\" + id + "\\InprocServer32", "", kRegSz,
          "C:\\Program Files\\Tinker\\tinker.exe");
    std::string bho =
        "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Browser Helper Objects\\" + id;
    write(kHkeyLocalMachine, bho, "", kRegSz, "Tinker Helper");
    write(kHkeyLocalMachine, bho, "NoExplorer", kRegDword, std::string("\1\0\0\0", 4));
    ASSERT_TRUE(machine->Flush().ok);

    // The selected program's version details show in the window.
    {
        StartupProgramManager logic(*machine, prompts);
        EntryManagerView view(logic, {});
        view.show();
        ASSERT_GE(view.List()->topLevelItemCount(), 1);
        view.List()->setCurrentItem(view.List()->topLevelItem(0));
        EXPECT_EQ(view.DetailText(3)->text(), "Microsoft Corporation");
        EXPECT_EQ(view.DetailText(2)->text(), "Wine version dll");
    }
    RoundTripAll();
}

}  // namespace
}  // namespace hivewise::testing
