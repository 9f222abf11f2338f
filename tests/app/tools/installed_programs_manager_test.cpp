#include "app/tools/installed_programs_manager.h"

#include "app/tools/manager_fixture.h"
#include "app/tools/removed_entries_dialog.h"
#include "tools/parked_entries.h"

namespace hivewise {
namespace {

using testing::ManagerTest;

constexpr std::u16string_view kUninstall =
    u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

class InstalledProgramsTest : public ManagerTest {
  protected:
    RegKey* Entry(std::u16string_view name) {
        return Lm(std::u16string(kUninstall) + u"\\" + std::u16string(name));
    }
    RegKey* Entries() { return Find(machine->LocalMachine(), kUninstall); }
    RegKey* Parked() { return Find(machine->CurrentUser(), u"Software\\Hivewise\\UninstallBkup"); }
};

TEST_F(InstalledProgramsTest, ListsNamedEntriesThatAreNoSystemComponents) {
    SetText(Entry(u"A"), u"DisplayName", u"Hidden");
    Set(Entry(u"A"), u"SystemComponent", kRegDword, std::string("\x01\0\0\0", 4));
    SetText(Entry(u"B"), u"DisplayName", u"Zero");
    Set(Entry(u"B"), u"SystemComponent", kRegDword, std::string(4, '\0'));
    SetText(Entry(u"C"), u"DisplayName", u"Text one");
    SetText(Entry(u"C"), u"SystemComponent", u"1");
    SetText(Entry(u"D"), u"UninstallString", u"C:\\unnamed.exe");
    SetText(Entry(u"E"), u"DisplayName", u"Plain");
    SetText(Entry(u"E"), u"UninstallString", u"C:\\e\\uninst.exe /S");
    Set(Entry(u"F"), u"DisplayName", kRegBinary, "");  // present, though empty

    InstalledProgramsManager manager(*machine, prompts);
    manager.Fill();
    std::vector<std::string> names;
    for (const EntryRow& row : manager.Rows())
        names.push_back(row.name);
    EXPECT_EQ(names, (std::vector<std::string>{"Zero", "Text one", "Plain", ""}));
    EXPECT_EQ(manager.Rows()[2].path, "C:\\e\\uninst.exe /S");
    EXPECT_EQ(manager.SubKeys()[2], "E");
}

TEST_F(InstalledProgramsTest, RemovalParksTheWholeKeyAndRestoreBringsItBack) {
    RegKey* tool = Entry(u"Tool");
    SetText(tool, u"DisplayName", u"Tool 1.0");
    SetText(tool, u"UninstallString", u"C:\\Tool\\uninst.exe");
    Set(tool, u"EstimatedSize", kRegDword, std::string("\x00\x04\0\0", 4));
    Set(tool, u"Blob", kRegBinary, std::string("\0\xff", 2));
    Set(Entry(u"Tool\\Parts\\Core"), u"Size", kRegQword, std::string(8, '\x01'));
    SetText(Entry(u"Other"), u"DisplayName", u"Other");
    std::vector<RegValue> before = tool->Values();

    InstalledProgramsManager manager(*machine, prompts);
    manager.Fill();
    ASSERT_EQ(manager.SubKeys()[1], "Tool");
    manager.SetChecked(1, true);
    EXPECT_EQ(manager.RemoveChecked().removed, 1);
    EXPECT_EQ(prompts.messages, std::vector<std::string>{"Item(s) Removed"});
    EXPECT_FALSE(Entries()->FindSubKey(u"Tool"));
    ASSERT_TRUE(Find(Parked(), u"Tool\\Parts\\Core"));
    EXPECT_EQ(Find(Parked(), u"Tool")->Values().size(), before.size());
    ASSERT_EQ(manager.Rows().size(), 1u);

    RemovedEntriesDialog dialog(*machine, prompts, RemovedEntriesMode::InstalledPrograms);
    dialog.Fill();
    ASSERT_EQ(dialog.Rows().size(), 1u);
    EXPECT_EQ(dialog.Rows()[0].firstColumn, "Tool 1.0");
    EXPECT_EQ(dialog.Rows()[0].secondColumn, "C:\\Tool\\uninst.exe");
    EXPECT_EQ(dialog.Rows()[0].parkingName, "Tool");
    dialog.SetChecked(0, true);
    EXPECT_TRUE(dialog.Restore());
    RegKey* restored = Entries()->FindSubKey(u"Tool");
    ASSERT_TRUE(restored);
    ASSERT_EQ(restored->Values().size(), before.size());
    for (size_t i = 0; i < before.size(); ++i) {
        EXPECT_EQ(restored->Values()[i].name, before[i].name);
        EXPECT_EQ(restored->Values()[i].type, before[i].type);
        EXPECT_EQ(restored->Values()[i].data, before[i].data);
    }
    EXPECT_TRUE(Find(restored, u"Parts\\Core")->FindValue(u"Size"));
    EXPECT_TRUE(Parked()->SubKeys().empty());
}

// An entry removed, installed again differently and removed again: both copies stay,
// and each goes back under the entry's own name.
TEST_F(InstalledProgramsTest, AnotherEntryOfAParkedNameIsParkedBesideIt) {
    InstalledProgramsManager manager(*machine, prompts);
    auto removeTool = [&](std::u16string_view version) {
        RegKey* tool = Entry(u"Tool");
        SetText(tool, u"DisplayName", u"Tool");
        SetText(tool, u"Version", version);
        manager.Fill();
        for (size_t i = 0; i < manager.SubKeys().size(); ++i)
            manager.SetChecked(i, manager.SubKeys()[i] == "Tool");
        EXPECT_EQ(manager.RemoveChecked().removed, 1);
    };
    removeTool(u"1");
    removeTool(u"1");  // the same entry again replaces its copy
    EXPECT_EQ(Parked()->SubKeys().size(), 1u);
    removeTool(u"2");
    ASSERT_EQ(Parked()->SubKeys().size(), 2u);
    EXPECT_EQ(Text(Find(Parked(), u"Tool"), u"Version"), "1");
    EXPECT_EQ(Text(Find(Parked(), u"Tool (2)"), u"Version"), "2");

    RemovedEntriesDialog dialog(*machine, prompts, RemovedEntriesMode::InstalledPrograms);
    dialog.Fill();
    ASSERT_EQ(dialog.Rows().size(), 2u);
    size_t second = dialog.Rows()[0].parkingName == "Tool (2)" ? 0 : 1;
    EXPECT_EQ(dialog.Rows()[second].entryName, "Tool");
    dialog.SetChecked(second, true);
    EXPECT_TRUE(dialog.Restore());
    EXPECT_EQ(Text(Entries()->FindSubKey(u"Tool"), u"Version"), "2");
    EXPECT_FALSE(Entries()->FindSubKey(u"Tool (2)"));
    EXPECT_EQ(Parked()->SubKeys().size(), 1u);
    EXPECT_EQ(Text(Find(Parked(), u"Tool"), u"Version"), "1");
}

TEST_F(InstalledProgramsTest, AFailedCopyRemovesNothingAndSaysSo) {
    SetText(Entry(u"Tool"), u"DisplayName", u"Tool 1.0");
    BreakWithLink(Cu(u"Software\\Hivewise\\UninstallBkup"));
    InstalledProgramsManager manager(*machine, prompts);
    manager.Fill();
    manager.SetChecked(0, true);
    RemovalOutcome outcome = manager.RemoveChecked();
    EXPECT_EQ(outcome.removed, 0);
    EXPECT_EQ(prompts.messages,
              std::vector<std::string>{"Could not back up Tool 1.0; it was not removed."});
    EXPECT_TRUE(Entries()->FindSubKey(u"Tool"));
    EXPECT_EQ(manager.Rows().size(), 1u);
}

TEST_F(InstalledProgramsTest, AFailedRestoreKeepsTheParkedCopyAndTheDialogOpen) {
    SetText(Entry(u"Tool"), u"DisplayName", u"Tool 1.0");
    InstalledProgramsManager manager(*machine, prompts);
    manager.Fill();
    manager.SetChecked(0, true);
    manager.RemoveChecked();
    // The machine's uninstall key can no longer be written.
    machine->Registry().DeleteKey(Entries());
    BreakWithLink(Lm(kUninstall));

    prompts.messages.clear();
    RemovedEntriesDialog dialog(*machine, prompts, RemovedEntriesMode::InstalledPrograms);
    dialog.Fill();
    dialog.SetChecked(0, true);
    EXPECT_FALSE(dialog.Restore());
    EXPECT_EQ(prompts.messages, std::vector<std::string>{"Could not restore Tool 1.0"});
    EXPECT_TRUE(Find(Parked(), u"Tool"));
}

}  // namespace
}  // namespace hivewise
