#include "app/ignore_list_dialog.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "platform/temp_prefix.h"

namespace hivewise {
namespace {

class RecordingPrompts : public UserPrompts {
  public:
    void Message(const std::string& text) override { messages.push_back(text); }
    bool AskYesNo(const std::string& text) override {
        messages.push_back(text);
        return true;
    }
    std::vector<std::string> messages;
};

RegistryTreeNode* Child(const std::vector<std::unique_ptr<RegistryTreeNode>>& children,
                        const std::string& name) {
    for (const auto& child : children)
        if (child->text == name) return child.get();
    return nullptr;
}

class IgnoreListTest : public ::testing::Test {
  protected:
    void SetUp() override {
        prefix.SystemReg(R"(
[Software\\Example\\Deeper\\Deepest] 1700000000

[Software\\Other] 1700000000
)");
        prefix.UserReg("");
        prefix.File("Program Files/Hivewise/hivewise.exe", "MZ");
        Reload();
    }
    void Reload() {
        machine = prefix.Load();
        ASSERT_TRUE(machine) << prefix.LastError();
    }
    std::string FileText() const {
        return prefix.Read("drive_c/Program Files/Hivewise/Iglist.lst");
    }

    testing::TempPrefix prefix;
    std::unique_ptr<Machine> machine;
    RecordingPrompts prompts;
};

TEST_F(IgnoreListTest, PresetKeyIsListedWithLongRootAndWalkedTo) {
    prefix.File("Program Files/Hivewise/Iglist.lst", "HKEY_LOCAL_MACHINE\\Software\\Example\r\r\n");
    IgnoreListDialog dialog(*machine, prompts);
    std::vector<bool> loading;
    dialog.onLoadingChanged = [&](bool on) { loading.push_back(on); };
    dialog.Open("HKLM\\SOFTWARE\\EXAMPLE\\deeper\\Missing");
    EXPECT_EQ(loading, (std::vector<bool>{true, false}));
    ASSERT_EQ(dialog.Roots().size(), 3u);
    EXPECT_EQ(dialog.Roots()[0]->text, "HKEY_CLASSES_ROOT");
    EXPECT_EQ(dialog.Roots()[2]->text, "HKEY_LOCAL_MACHINE");
    // Appended even though the file already lists a key of that name.
    ASSERT_EQ(dialog.Rows().size(), 2u);
    EXPECT_EQ(dialog.Rows()[1].path, "HKEY_LOCAL_MACHINE\\SOFTWARE\\EXAMPLE\\deeper\\Missing");
    EXPECT_EQ(dialog.CurrentRow(), 1);
    ASSERT_TRUE(dialog.Selected());
    EXPECT_EQ(dialog.Selected()->FullPath(), "HKEY_LOCAL_MACHINE\\Software\\Example\\Deeper");
    // Walking loaded each level on the way, and no further.
    ASSERT_EQ(dialog.Selected()->children.size(), 1u);
    EXPECT_TRUE(dialog.Selected()->children[0]->children.empty());
    EXPECT_EQ(LongRootLocation("HKCU\\Software\\HKLMTool"),
              "HKEY_CURRENT_USER\\Software\\HKLMTool");
}

TEST_F(IgnoreListTest, AddRemoveAndSave) {
    IgnoreList mainList = {"old"};
    IgnoreListDialog dialog(*machine, prompts, &mainList);
    dialog.Open();
    dialog.Add();
    EXPECT_EQ(prompts.messages.back(), kSelectKeyFirst);

    RegistryTreeNode* software = Child(dialog.Roots()[2]->children, "Software");
    ASSERT_TRUE(software);
    EXPECT_TRUE(software->children.empty());  // read when first selected
    dialog.SelectItem(software);
    RegistryTreeNode* example = Child(software->children, "Example");
    RegistryTreeNode* other = Child(software->children, "Other");
    ASSERT_TRUE(example && other);
    dialog.SelectItem(example);
    dialog.Add();
    dialog.SelectItem(other);
    dialog.Add();
    ASSERT_EQ(dialog.Rows().size(), 2u);
    EXPECT_EQ(dialog.Rows()[0].path, "HKEY_LOCAL_MACHINE\\Software\\Example");

    // The same key in other letters is not added twice.
    prompts.messages.clear();
    example->text = "EXAMPLE";
    dialog.SelectItem(example);
    dialog.Add();
    EXPECT_EQ(dialog.Rows().size(), 2u);
    EXPECT_EQ(dialog.ScrollRow(), 0);
    EXPECT_EQ(prompts.messages, (std::vector<std::string>{std::string(kKeyAlreadyAdded)}));

    dialog.Remove();
    EXPECT_EQ(prompts.messages.back(), kSelectItemsToRemove);
    dialog.SelectItem(software);
    dialog.Add();
    dialog.SetRowChecked(0, true);
    dialog.SetRowChecked(1, true);
    dialog.Remove();
    EXPECT_EQ(prompts.messages.back(), kItemsRemoved);
    ASSERT_EQ(dialog.Rows().size(), 1u);
    EXPECT_EQ(dialog.Rows()[0].path, "HKEY_LOCAL_MACHINE\\Software");

    EXPECT_TRUE(dialog.Save());
    EXPECT_EQ(prompts.messages.back(), kIgnoreDataSaved);
    EXPECT_TRUE(dialog.Closed());
    EXPECT_EQ(mainList, (IgnoreList{"HKEY_LOCAL_MACHINE\\Software"}));
    EXPECT_EQ(FileText(), "HKEY_LOCAL_MACHINE\\Software\r\r\n");
}

TEST_F(IgnoreListTest, UnwritableFileIsReportedAndNothingChanges) {
    // A folder where the file should be: it cannot be replaced.
    std::filesystem::create_directories(prefix.Dir() / "drive_c/Program Files/Hivewise/Iglist.lst");
    Reload();
    IgnoreList mainList = {"HKEY_LOCAL_MACHINE\\Kept"};
    IgnoreListDialog dialog(*machine, prompts, &mainList);
    dialog.Open("HKLM\\Software\\Other");
    EXPECT_FALSE(dialog.Save());
    EXPECT_EQ(prompts.messages.back(), kIgnoreDataNotSaved);
    EXPECT_FALSE(dialog.Closed());
    EXPECT_EQ(mainList, (IgnoreList{"HKEY_LOCAL_MACHINE\\Kept"}));
}

}  // namespace
}  // namespace hivewise

namespace hivewise {
namespace {

TEST_F(IgnoreListTest, ClosingAnyWayButCancelKeepsWhatWasAdded) {
    IgnoreList mainList;
    {
        IgnoreListDialog unchanged(*machine, prompts, &mainList);
        unchanged.Open();
        EXPECT_FALSE(unchanged.Changed());
        EXPECT_TRUE(unchanged.CloseKeeping());
        EXPECT_FALSE(unchanged.Saved()) << "nothing to keep, nothing written";
        EXPECT_TRUE(prompts.messages.empty());
    }
    IgnoreListDialog dialog(*machine, prompts, &mainList);
    dialog.Open("HKLM\\Software\\Other");
    EXPECT_TRUE(dialog.Changed());
    ASSERT_TRUE(dialog.CloseKeeping());
    EXPECT_TRUE(dialog.Saved());
    EXPECT_EQ(FileText(), "HKEY_LOCAL_MACHINE\\Software\\Other\r\r\n");
    EXPECT_EQ(mainList, IgnoreList{"HKEY_LOCAL_MACHINE\\Software\\Other"});
    EXPECT_EQ(prompts.messages.back(), kIgnoreDataSaved);

    // Cancel drops a new entry.
    IgnoreListDialog cancelled(*machine, prompts, &mainList);
    cancelled.Open("HKLM\\Software\\Example");
    cancelled.Cancel();
    EXPECT_EQ(FileText(), "HKEY_LOCAL_MACHINE\\Software\\Other\r\r\n");
}

}  // namespace
}  // namespace hivewise
