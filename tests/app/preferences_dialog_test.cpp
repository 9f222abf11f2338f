#include "app/preferences_dialog.h"

#include <gtest/gtest.h>

#include "app_fixture.h"
#include "platform/registry/registry_access.h"

namespace hivewise::testing {
namespace {

class PreferencesTest : public AppTest {
  protected:
    void SetUp() override {
        AppTest::SetUp();
        prefix.File("Program Files/Hivewise/logs/.keep");
        prefix.File("Users/me/Logs/.keep");
        Reload();
        ASSERT_EQ(settings().FirstRun(), Settings::FirstRunResult::DefaultsWritten);
    }
    Settings settings() { return Settings(*machine); }
    std::optional<std::string> RunEntry() {
        RegistryAccess reg(*machine);
        RegHandle key;
        if (reg.OpenKey(kHkeyCurrentUser, kRunKey, kKeyRead, &key) != kErrorSuccess) return {};
        std::string data;
        long status = reg.QueryValue(key, kRunValueName, 260, nullptr, &data);
        reg.CloseKey(key);
        if (status != kErrorSuccess) return {};
        return data.substr(0, data.find('\0'));
    }
};

TEST_F(PreferencesTest, OpensWithTheSettingsAndSavesInUserReg) {
    PreferencesDialog dialog(*machine, prompts);
    dialog.Open();
    EXPECT_TRUE(dialog.PathFieldEnabled());
    EXPECT_FALSE(dialog.CheckForUpdatesVisible());
    auto& c = dialog.Controls();
    EXPECT_TRUE(c.generateLog);
    EXPECT_TRUE(c.checkItems);
    EXPECT_FALSE(c.noAutoBackup);
    EXPECT_FALSE(c.runAtStartup);
    EXPECT_EQ(c.logPath, "C:\\Program Files\\Hivewise\\logs");

    c.logPath = "c:\\users\\ME\\logs";  // any case reaches the folder
    c.checkItems = false;
    c.noAutoBackup = true;
    c.runAtStartup = true;
    ASSERT_TRUE(dialog.Ok());
    EXPECT_TRUE(prompts.messages.empty());

    Reload();
    EXPECT_EQ(settings().Read("Log File Path"), "c:\\users\\ME\\logs");
    EXPECT_EQ(settings().Read("CheckAllItems"), "0");
    EXPECT_EQ(settings().Read("NoAutoBackup"), "1");
    EXPECT_EQ(settings().Read("AutoRun"), "1");
    EXPECT_EQ(RunEntry(), "C:\\Program Files\\Hivewise\\hivewise.exe");
}

TEST_F(PreferencesTest, LoggingOffAtOpeningKeepsThePathFieldDisabledAndStillChecked) {
    settings().Write("Generate Log", "0");
    settings().Write("Log File Path", "C:\\Nowhere");
    PreferencesDialog dialog(*machine, prompts);
    dialog.Open();
    EXPECT_FALSE(dialog.PathFieldEnabled());
    dialog.Controls().generateLog = true;
    EXPECT_FALSE(dialog.PathFieldEnabled());
    dialog.Browse();  // its button is disabled with the field
    EXPECT_TRUE(prompts.chooserTitles.empty());

    dialog.Controls().generateLog = false;
    dialog.Controls().noAutoBackup = true;
    EXPECT_FALSE(dialog.Ok());
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_EQ(prompts.messages[0].first, "Invalid Log File Path");
    EXPECT_EQ(settings().Read("NoAutoBackup"), "0");  // nothing saved

    // With logging off an existing path is accepted but not stored.
    dialog.Controls().logPath = "C:\\Users\\me\\Logs";
    ASSERT_TRUE(dialog.Ok());
    EXPECT_EQ(settings().Read("Generate Log"), "0");
    EXPECT_EQ(settings().Read("Log File Path"), "C:\\Nowhere");
    EXPECT_EQ(settings().Read("NoAutoBackup"), "1");
}

TEST_F(PreferencesTest, FolderChooserFillsEmptiesOrRefusesThePath) {
    PreferencesDialog dialog(*machine, prompts);
    dialog.Open();

    prompts.chosenFolder = prefix.Dir() / "drive_c" / "Users" / "me" / "Logs";
    dialog.Browse();
    EXPECT_EQ(prompts.chooserTitles.at(0), "Choose the folder for the scan logs");
    EXPECT_EQ(dialog.Controls().logPath, "C:\\Users\\me\\Logs");

    // A host folder no drive of the machine reaches.
    TempPrefix elsewhere;
    prompts.chosenFolder = elsewhere.Dir();
    dialog.Browse();
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_EQ(prompts.messages[0].first, "Cannot use this path for extraction");
    EXPECT_EQ(dialog.Controls().logPath, "");

    dialog.Controls().logPath = "C:\\Users\\me\\Logs";
    prompts.chosenFolder.reset();  // cancelled
    dialog.Browse();
    EXPECT_EQ(dialog.Controls().logPath, "");
    EXPECT_FALSE(dialog.Ok());
    EXPECT_EQ(prompts.messages.back().first, "Invalid Log File Path");
    EXPECT_EQ(settings().Read("Log File Path"), "C:\\Program Files\\Hivewise\\logs");
}

TEST_F(PreferencesTest, UntickedRunAtStartupRemovesTheEntry) {
    PreferencesDialog dialog(*machine, prompts);
    dialog.Open();
    ASSERT_TRUE(dialog.Ok());  // never set: removing is no error
    EXPECT_FALSE(RunEntry());
    EXPECT_TRUE(prompts.messages.empty());

    ASSERT_TRUE(settings().SetRunEntry());
    dialog.Open();
    dialog.Controls().runAtStartup = false;
    ASSERT_TRUE(dialog.Ok());
    EXPECT_FALSE(RunEntry());
    EXPECT_EQ(settings().Read("AutoRun"), "0");
    Reload();
    EXPECT_FALSE(RunEntry());
    EXPECT_EQ(RegistryAccess(*machine).ReadStringValue(kHkeyCurrentUser, kRunKey, "Other"),
              "C:\\other.exe");
}

TEST_F(PreferencesTest, CancelSavesNothing) {
    int ignoreLists = 0;
    PreferencesDialog dialog(*machine, prompts, [&] { ++ignoreLists; });
    dialog.Open();
    dialog.ShowIgnoreList();
    EXPECT_EQ(ignoreLists, 1);
    dialog.Controls().checkItems = false;
    dialog.Cancel();
    EXPECT_EQ(settings().Read("CheckAllItems"), "1");
}

}  // namespace
}  // namespace hivewise::testing
