#include "app/settings.h"

#include <gtest/gtest.h>

#include "app/startup.h"
#include "app_fixture.h"
#include "platform/registry/registry_access.h"

namespace hivewise::testing {
namespace {

using SettingsTest = AppTest;

std::vector<std::pair<std::string, std::string>> StoredSettings(Machine& machine) {
    RegistryAccess reg(machine);
    std::vector<std::pair<std::string, std::string>> values;
    RegHandle key;
    if (reg.OpenKey(kHkeyCurrentUser, kSettingsKey, kKeyRead, &key) != kErrorSuccess) return values;
    std::string name, data;
    uint32_t type = 0;
    for (uint32_t i = 0; reg.EnumValue(key, i, &name, 16383, &type, &data) == kErrorSuccess; ++i) {
        EXPECT_EQ(type, kRegSz) << name;
        values.emplace_back(name, data.substr(0, data.find('\0')));
    }
    reg.CloseKey(key);
    return values;
}

TEST_F(SettingsTest, FirstRunWritesExactlyTheDefaultsAndTheyReachUserReg) {
    machine->SetProgramFolder("C:\\Program Files\\Hivewise");
    Settings settings(*machine);
    EXPECT_FALSE(settings.KeyExists());
    EXPECT_EQ(settings.FirstRun(), Settings::FirstRunResult::DefaultsWritten);
    ASSERT_TRUE(machine->Flush().ok);

    std::vector<std::pair<std::string, std::string>> expected = {
        {"Registry Integrity", "1"},
        {"ActiveX/Classes Section", "1"},
        {"Program ID Section", "1"},
        {"Add Remove Programs", "1"},
        {"Windows Fonts", "1"},
        {"Shared Program Files", "1"},
        {"Help Files", "1"},
        {"Startup Programs", "1"},
        {"System Services", "1"},
        {"VXD Section", "1"},
        {"File Associations", "1"},
        {"Sounds Section", "1"},
        {"Complete Registry Scan", "1"},
        {"Invalid Shortcuts", "1"},
        {"Application Paths", "1"},
        {"Generate Log", "1"},
        {"Log File Path", "C:\\Program Files\\Hivewise\\logs"},
        {"AutoRun", "0"},
        {"NoAutoBackup", "0"},
        {"CheckAllItems", "1"},
        {"Version", "6.2"},
    };
    Reload();
    EXPECT_EQ(StoredSettings(*machine), expected);
    // The file itself holds them as Wine writes string values.
    std::string userReg = prefix.Read("user.reg");
    EXPECT_NE(userReg.find("[Software\\\\Hivewise]"), std::string::npos);
    EXPECT_NE(userReg.find("\"Log File Path\"=\"C:\\\\Program Files\\\\Hivewise\\\\logs\""),
              std::string::npos);
    // The log folder itself is left to the log writer.
    EXPECT_FALSE(std::filesystem::exists(prefix.Dir() / "drive_c/Program Files/Hivewise/logs"));
}

TEST_F(SettingsTest, FirstRunLeavesExistingSettingsAlone) {
    Settings settings(*machine);
    ASSERT_EQ(settings.FirstRun(), Settings::FirstRunResult::DefaultsWritten);
    ASSERT_TRUE(settings.Write("Generate Log", "0"));
    EXPECT_EQ(settings.FirstRun(), Settings::FirstRunResult::AlreadySet);
    EXPECT_EQ(settings.Read("Generate Log"), "0");
}

TEST_F(SettingsTest, WithoutSoftwareKeyNothingIsCreatedAndEverythingReadsOff) {
    prefix.UserReg("\n[Environment] 1700000000\n");
    Reload();
    Settings settings(*machine);
    EXPECT_EQ(settings.FirstRun(), Settings::FirstRunResult::Failed);
    EXPECT_FALSE(settings.KeyExists());
    EXPECT_FALSE(settings.Write("AutoRun", "1"));
    EXPECT_FALSE(settings.Flag("CheckAllItems"));
    EXPECT_FALSE(settings.Read("Version"));
}

TEST_F(SettingsTest, FlagIsOnOnlyForExactlyOne) {
    Settings settings(*machine);
    ASSERT_EQ(settings.FirstRun(), Settings::FirstRunResult::DefaultsWritten);
    for (const char* off : {"yes", "01", "0", "", " 1", "1 ", "true", "2"}) {
        ASSERT_TRUE(settings.Write("CheckAllItems", off));
        EXPECT_FALSE(settings.Flag("CheckAllItems")) << '"' << off << '"';
    }
    ASSERT_TRUE(settings.Write("CheckAllItems", "1"));
    EXPECT_TRUE(settings.Flag("CheckAllItems"));
    EXPECT_FALSE(settings.Flag("No Such Setting"));
    // Names compare without regard to case, as the registry does.
    EXPECT_TRUE(settings.Flag("checkallitems"));
}

TEST_F(SettingsTest, RunEntryIsSetAndRemoved) {
    Settings settings(*machine);
    RegistryAccess reg(*machine);
    settings.RemoveRunEntry();  // never set: no harm, other entries stay
    EXPECT_EQ(reg.ReadStringValue(kHkeyCurrentUser, kRunKey, "Other"), "C:\\other.exe");

    ASSERT_TRUE(settings.SetRunEntry());
    EXPECT_EQ(reg.ReadStringValue(kHkeyCurrentUser, kRunKey, "Hivewise.exe"),
              "C:\\Program Files\\Hivewise\\hivewise.exe");
    settings.RemoveRunEntry();
    std::string data;
    RegHandle key;
    ASSERT_EQ(reg.OpenKey(kHkeyCurrentUser, kRunKey, kKeyRead, &key), kErrorSuccess);
    EXPECT_EQ(reg.QueryValue(key, "Hivewise.exe", 260, nullptr, &data), kErrorFileNotFound);
    reg.CloseKey(key);
}

TEST_F(SettingsTest, RunEntryIsNotWrittenWhenTheRunKeyIsMissing) {
    prefix.UserReg("\n[Software] 1700000000\n");
    Reload();
    Settings settings(*machine);
    EXPECT_FALSE(settings.SetRunEntry());
    EXPECT_FALSE(RegistryAccess(*machine).KeyExists(kHkeyCurrentUser, kRunKey));
    settings.RemoveRunEntry();
}

TEST(SettingsCorpusTest, FirstRunOnAWinebootPrefixWritesTheDefaults) {
    if (TestDataDir().empty()) GTEST_SKIP() << "test data not found";
    TempPrefix prefix;
    for (const char* name : {"system.reg", "user.reg", "userdef.reg"}) {
        std::filesystem::copy_file(TestDataDir() / "wine-prefix" / name, prefix.Dir() / name);
        std::filesystem::permissions(prefix.Dir() / name, std::filesystem::perms::owner_write,
                                     std::filesystem::perm_options::add);
    }
    std::string before = prefix.Read("user.reg");
    auto machine = prefix.Load();
    ASSERT_TRUE(machine) << prefix.LastError();
    ASSERT_EQ(Settings(*machine).FirstRun(), Settings::FirstRunResult::DefaultsWritten);
    ASSERT_TRUE(machine->Flush().ok);
    machine.reset();

    machine = prefix.Load();
    ASSERT_TRUE(machine) << prefix.LastError();
    EXPECT_EQ(StoredSettings(*machine), DefaultSettings("C:\\Program Files\\Hivewise"));
    // Everything else of the hive is kept.
    std::string after = prefix.Read("user.reg");
    size_t block = after.find("[Software\\\\Hivewise]");
    ASSERT_NE(block, std::string::npos);
    size_t blockEnd = after.find("\n\n", block);
    ASSERT_NE(blockEnd, std::string::npos);
    EXPECT_EQ(after.substr(0, block) + after.substr(blockEnd + 2), before);
}

}  // namespace
}  // namespace hivewise::testing
