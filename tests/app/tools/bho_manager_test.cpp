#include "app/tools/bho_manager.h"

#include "app/tools/manager_fixture.h"
#include "app/tools/removed_entries_dialog.h"

namespace hivewise {
namespace {

using testing::ManagerTest;

constexpr std::u16string_view kBhoKey =
    u"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Browser Helper Objects";

class BhoManagerTest : public ManagerTest {
  protected:
    void SetUp() override {
        ManagerTest::SetUp();
        AddObject(u"{X}", u"Helper", u"C:\\Tool\\helper.dll");
        Set(Lm(std::u16string(kBhoKey) + u"\\{X}"), u"NoExplorer", kRegDword,
            std::string("\x01\0\0\0", 4));
        Lm(std::u16string(kBhoKey) + u"\\{X}\\Settings");
        Lm(std::u16string(kBhoKey) + u"\\{Y}");  // no name, no class
    }
    void AddObject(std::u16string_view id, std::u16string_view name, std::u16string_view server) {
        SetText(Lm(std::u16string(kBhoKey) + u"\\" + std::u16string(id)), u"", name);
        SetText(Lm(u"Software\\Classes\\CLSID\\" + std::u16string(id) + u"\\InprocServer32"), u"",
                server);
    }
    RegKey* Objects() { return Find(machine->LocalMachine(), kBhoKey); }
    RegKey* Area() { return Find(machine->CurrentUser(), u"Software\\Hivewise\\BHOBkup"); }
};

TEST_F(BhoManagerTest, ListsObjectsWithTheirServers) {
    BhoManager manager(*machine, prompts);
    manager.Fill();
    ASSERT_EQ(manager.Rows().size(), 2u);
    EXPECT_EQ(manager.Rows()[0].name, "Helper");
    EXPECT_EQ(manager.Rows()[0].path, "C:\\Tool\\helper.dll");
    EXPECT_EQ(manager.Rows()[1].name, "");
    EXPECT_EQ(manager.Rows()[1].path, "");
    EXPECT_EQ(manager.ClassIds()[1], "{Y}");
    manager.Select(1);
    EXPECT_TRUE(manager.Details().Empty());
}

TEST_F(BhoManagerTest, RemovalParksTheObjectAndRestoreBringsItBackWhole) {
    // What the object's key held.
    std::vector<RegValue> before = Find(Objects(), u"{X}")->Values();
    BhoManager manager(*machine, prompts);
    manager.Fill();
    manager.RemoveChecked();
    EXPECT_EQ(prompts.messages, std::vector<std::string>{"Please Check an Item to Remove"});
    EXPECT_FALSE(Area());

    prompts.messages.clear();
    manager.SetChecked(0, true);
    EXPECT_EQ(manager.RemoveChecked().removed, 1);
    EXPECT_EQ(prompts.messages, std::vector<std::string>{"Item(s) Removed"});
    EXPECT_EQ(Text(Area(), u"C:\\Tool\\helper.dll?Helper"), "{X}");
    EXPECT_FALSE(Objects()->FindSubKey(u"{X}"));
    EXPECT_TRUE(Find(machine->LocalMachine(), u"Software\\Classes\\CLSID\\{X}\\InprocServer32"));
    ASSERT_EQ(manager.Rows().size(), 1u);

    RemovedEntriesDialog dialog(*machine, prompts, RemovedEntriesMode::HelperObjects);
    dialog.Fill();
    ASSERT_EQ(dialog.Rows().size(), 1u);
    EXPECT_EQ(dialog.Rows()[0].firstColumn, "Helper");
    EXPECT_EQ(dialog.Rows()[0].secondColumn, "C:\\Tool\\helper.dll");
    dialog.SetChecked(0, true);
    EXPECT_TRUE(dialog.Restore());
    RegKey* restored = Objects()->FindSubKey(u"{X}");
    ASSERT_TRUE(restored);
    ASSERT_EQ(restored->Values().size(), before.size());
    for (size_t i = 0; i < before.size(); ++i) {
        EXPECT_EQ(restored->Values()[i].name, before[i].name);
        EXPECT_EQ(restored->Values()[i].type, before[i].type);
        EXPECT_EQ(restored->Values()[i].data, before[i].data);
    }
    EXPECT_TRUE(restored->FindSubKey(u"Settings"));
    EXPECT_TRUE(Area()->Values().empty());
    EXPECT_TRUE(Area()->SubKeys().empty());
}

TEST_F(BhoManagerTest, ParkedNamesSplitAtTheServerPath) {
    std::string path, name;
    SplitHelperParkingName("C:\\x.dll?Tool", "", &path, &name);
    EXPECT_EQ(path, "C:\\x.dll");
    EXPECT_EQ(name, "Tool");
    SplitHelperParkingName("C:\\x.dll?Tool?Bar", "", &path, &name);
    EXPECT_EQ(name, "Tool?Bar");
    SplitHelperParkingName("Whole Name", "", &path, &name);
    EXPECT_EQ(path, "");
    EXPECT_EQ(name, "Whole Name");
    // A server path holding "?" is recognised by the class's registration.
    SplitHelperParkingName("C:\\odd?dir\\x.dll?Tool", "C:\\odd?dir\\x.dll", &path, &name);
    EXPECT_EQ(path, "C:\\odd?dir\\x.dll");
    EXPECT_EQ(name, "Tool");

    AddObject(u"{Q}", u"Quest", u"C:\\odd?dir\\q.dll");
    BhoManager manager(*machine, prompts);
    manager.Fill();
    ASSERT_EQ(manager.ClassIds()[0], "{Q}");
    manager.SetChecked(0, true);
    manager.RemoveChecked();
    RemovedEntriesDialog dialog(*machine, prompts, RemovedEntriesMode::HelperObjects);
    dialog.Fill();
    ASSERT_EQ(dialog.Rows().size(), 1u);
    EXPECT_EQ(dialog.Rows()[0].firstColumn, "Quest");
    EXPECT_EQ(dialog.Rows()[0].secondColumn, "C:\\odd?dir\\q.dll");
}

TEST_F(BhoManagerTest, AParkedNameAloneRestoresAsTheObjectName) {
    // Parked by an earlier version: a value only, no copy of the key.
    RegKey* area = Cu(u"Software\\Hivewise\\BHOBkup");
    SetText(area, u"Plain Name", u"{P}");
    SetText(area, u"C:\\x.dll?Tool", u"{T}");
    RemovedEntriesDialog dialog(*machine, prompts, RemovedEntriesMode::HelperObjects);
    dialog.Fill();
    ASSERT_EQ(dialog.Rows().size(), 2u);
    dialog.SetChecked(0, true);
    dialog.SetChecked(1, true);
    EXPECT_TRUE(dialog.Restore());
    EXPECT_EQ(Text(Find(Objects(), u"{P}"), u""), "Plain Name");
    EXPECT_EQ(Text(Find(Objects(), u"{T}"), u""), "Tool");
    EXPECT_TRUE(area->Values().empty());
}

// Two objects that park under one name (no names, the same server) keep a copy each.
TEST_F(BhoManagerTest, ObjectsOfOneParkingNameAreParkedSideBySide) {
    AddObject(u"{Z}", u"", u"C:\\Tool\\helper.dll");
    SetText(Find(Objects(), u"{Y}"), u"Extra", u"y");
    SetText(Find(Objects(), u"{Z}"), u"Extra", u"z");
    SetText(Lm(u"Software\\Classes\\CLSID\\{Y}\\InprocServer32"), u"", u"C:\\Tool\\helper.dll");
    SetText(Find(Objects(), u"{X}"), u"", u"");
    BhoManager manager(*machine, prompts);
    manager.Fill();
    ASSERT_EQ(manager.Rows().size(), 3u);
    for (size_t i = 0; i < 3; ++i)
        manager.SetChecked(i, true);
    EXPECT_EQ(manager.RemoveChecked().removed, 3);
    ASSERT_TRUE(Area());
    EXPECT_EQ(Area()->Values().size(), 3u);
    EXPECT_EQ(Text(Area(), u"C:\\Tool\\helper.dll?"), "{X}");
    EXPECT_EQ(Text(Area(), u"C:\\Tool\\helper.dll? (2)"), "{Y}");
    EXPECT_EQ(Text(Area(), u"C:\\Tool\\helper.dll? (3)"), "{Z}");

    RemovedEntriesDialog dialog(*machine, prompts, RemovedEntriesMode::HelperObjects);
    dialog.Fill();
    ASSERT_EQ(dialog.Rows().size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(dialog.Rows()[i].firstColumn, "");
        EXPECT_EQ(dialog.Rows()[i].secondColumn, "C:\\Tool\\helper.dll");
        dialog.SetChecked(i, true);
    }
    EXPECT_TRUE(dialog.Restore());
    EXPECT_EQ(Text(Find(Objects(), u"{Y}"), u"Extra"), "y");
    EXPECT_EQ(Text(Find(Objects(), u"{Z}"), u"Extra"), "z");
    EXPECT_TRUE(Find(Objects(), u"{X}\\Settings"));
    EXPECT_TRUE(Area()->Values().empty());
    RegKey* names = Find(machine->CurrentUser(), u"Software\\Hivewise\\ParkedNames\\BHOBkup");
    EXPECT_TRUE(!names || names->Values().empty());

    // The same object parked again takes its own place, not a new one.
    manager.Fill();
    manager.SetChecked(0, true);
    manager.RemoveChecked();
    ASSERT_TRUE(Objects()->FindSubKey(u"{Y}"));
    SetText(Lm(std::u16string(kBhoKey) + u"\\{X}"), u"", u"");
    manager.Fill();
    for (size_t i = 0; i < manager.Rows().size(); ++i)
        manager.SetChecked(i, manager.ClassIds()[i] == "{X}");
    manager.RemoveChecked();
    EXPECT_EQ(Area()->Values().size(), 1u);
}

TEST_F(BhoManagerTest, KeepsAnObjectWhoseParkingFailed) {
    BreakWithLink(Cu(u"Software\\Hivewise\\BHOBkup"));
    BhoManager manager(*machine, prompts);
    manager.Fill();
    manager.SetChecked(0, true);
    manager.SetChecked(1, true);
    RemovalOutcome outcome = manager.RemoveChecked();
    EXPECT_EQ(outcome.removed, 0);
    EXPECT_EQ(prompts.messages,
              (std::vector<std::string>{"Could not back up Helper; it was not removed.",
                                        "Could not back up {Y}; it was not removed."}));
    EXPECT_EQ(manager.Rows().size(), 2u);
}

}  // namespace
}  // namespace hivewise
