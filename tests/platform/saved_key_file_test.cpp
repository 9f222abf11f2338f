#include <gtest/gtest.h>

#include "platform/registry/hive_file.h"
#include "platform/registry/registry_access.h"
#include "temp_prefix.h"

namespace hivewise {
namespace {

using testing::TempPrefix;

class SavedKeyFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        prefix.SystemReg(
            "\n[Software\\\\Vendor] 1700000000\n#time=1d9b1f5e0c8a000\n\"Name\"=\"value\"\n"
            "\"Bytes\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,"
            "17,18,19,1a,1b,1c,1d,1e,1f\n"
            "\n[Software\\\\Vendor\\\\Empty] 1700000000\n#time=1d9b1f5e0c8a000\n");
        prefix.UserReg("\n[Software] 1700000000\n");
        machine = prefix.Load();
        ASSERT_TRUE(machine) << prefix.LastError();
        registry = std::make_unique<RegistryAccess>(*machine);
    }

    // The key's file as the key save writes it.
    std::string Saved(const std::string& subKey) {
        RegHandle key = 0;
        EXPECT_EQ(registry->OpenKey(kHkeyLocalMachine, subKey, kKeyQueryValue, &key), 0);
        EXPECT_EQ(registry->SaveKey(key, "C:\\saved.hiv"), 0);
        registry->CloseKey(key);
        std::string text = prefix.Read("drive_c/saved.hiv");
        std::filesystem::remove(prefix.Dir() / "drive_c" / "saved.hiv");
        return text;
    }

    static bool Whole(std::string_view text, WholeHive* whole = nullptr) {
        WholeHive ignored;
        return CheckWholeHive(text, whole ? whole : &ignored, nullptr);
    }

    TempPrefix prefix;
    std::unique_ptr<Machine> machine;
    std::unique_ptr<RegistryAccess> registry;
};

TEST_F(SavedKeyFileTest, ASavedKeyCutAnywhereIsRefused) {
    std::string text = Saved("Software");
    WholeHive whole;
    ASSERT_TRUE(Whole(text, &whole)) << text;
    EXPECT_EQ(whole.relativeTo, u"REGISTRY\\Machine\\Software");
    EXPECT_EQ(whole.sections, 2u);
    for (size_t size = 0; size < text.size(); ++size)
        EXPECT_FALSE(Whole(text.substr(0, size))) << "cut at " << size;

    std::string carriageReturns = text;
    for (char& c : carriageReturns)
        if (c == '\n') c = '\r';
    EXPECT_FALSE(Whole(carriageReturns));
    std::string lineEndsOfTwo;
    for (char c : text)
        lineEndsOfTwo += c == '\n' ? std::string("\r\n") : std::string(1, c);
    EXPECT_TRUE(Whole(lineEndsOfTwo));
    std::string strayReturn = text;
    strayReturn.insert(strayReturn.find("\"Name\""), "\r");
    EXPECT_FALSE(Whole(strayReturn));
}

TEST_F(SavedKeyFileTest, AMissingKeyIsSavedAsAWholeHeader) {
    std::string text = SavedKeyHeader(u"REGISTRY\\Machine\\Security", "win64") + SavedKeyTrailer();
    WholeHive whole;
    ASSERT_TRUE(Whole(text, &whole));
    EXPECT_EQ(whole.sections, 0u);
    EXPECT_EQ(whole.relativeTo, u"REGISTRY\\Machine\\Security");
    EXPECT_FALSE(Whole(SavedKeyHeader(u"REGISTRY\\Machine\\Security", "win64")));
}

// Files of an older save carry no end line: whole ones are taken, and a cut is found
// wherever it leaves an unfinished line or section.
TEST_F(SavedKeyFileTest, UnmarkedFilesAreCheckedByTheirLines) {
    std::string text = NewHiveHeader(u"REGISTRY\\Machine\\Software", "win32") +
                       "\n[Vendor] 1700000000\n#time=1d9b1f5e0c8a000\n\"Count\"=dword:0000002a\n"
                       "\"Bytes\"=hex:00,01,\\\n  02,03\n";
    WholeHive whole;
    ASSERT_TRUE(Whole(text, &whole));
    EXPECT_EQ(whole.sections, 1u);
    EXPECT_FALSE(Whole(text.substr(0, text.size() - 1)));          // within the last line
    EXPECT_FALSE(Whole(text.substr(0, text.find("dword:") + 8)));  // within a dword
    EXPECT_FALSE(Whole(text.substr(0, text.find("  02"))));        // after a continuation
    EXPECT_FALSE(Whole(text.substr(0, text.find("#time"))));       // after a key line
    EXPECT_FALSE(
        Whole("\x7f"
              "ELF\x02\x01\x01\n"));
    EXPECT_FALSE(Whole(""));
}

TEST_F(SavedKeyFileTest, CheckKeyFileReadsWhatRestoreKeysPutsBack) {
    prefix.File("whole.hiv", Saved("Software\\Vendor"));
    SavedKeyFile saved;
    ASSERT_EQ(registry->CheckKeyFile("C:\\whole.hiv", &saved), kErrorSuccess);
    EXPECT_EQ(saved.relativeTo, u"REGISTRY\\Machine\\Software\\Vendor");
    EXPECT_FALSE(saved.onlyHeader);
    prefix.File("cut.hiv", saved.content.substr(0, saved.content.size() / 2));
    SavedKeyFile cut;
    EXPECT_EQ(registry->CheckKeyFile("C:\\cut.hiv", &cut), kErrorBadDb);
    EXPECT_EQ(registry->CheckKeyFile("C:\\none.hiv", &cut), kErrorFileNotFound);

    // Restored onto a new key beside the old one, both the same afterwards.
    std::vector<KeyRestore> items{{kHkeyLocalMachine, "Software\\Copy", saved}};
    ASSERT_EQ(registry->RestoreKeys(items), kErrorSuccess);
    EXPECT_EQ(registry->ReadStringValue(kHkeyLocalMachine, "Software\\Copy", "Name"), "value");
    EXPECT_TRUE(registry->KeyExists(kHkeyLocalMachine, "Software\\Copy\\Empty"));
    // A key inside another restored key would be lost to it.
    std::vector<KeyRestore> nested{{kHkeyLocalMachine, "Software\\Copy", saved},
                                   {kHkeyLocalMachine, "software\\copy\\Empty", saved}};
    EXPECT_EQ(registry->RestoreKeys(nested), kErrorInvalidParameter);
    // A header alone restores nothing onto a missing key and is refused over an existing one.
    SavedKeyFile header{
        SavedKeyHeader(u"REGISTRY\\Machine\\Software\\Copy", "win32") + SavedKeyTrailer(),
        u"REGISTRY\\Machine\\Software\\Copy", true};
    std::vector<KeyRestore> absent{{kHkeyLocalMachine, "Software\\Absent", header}};
    EXPECT_EQ(registry->RestoreKeys(absent), kErrorSuccess);
    EXPECT_FALSE(registry->KeyExists(kHkeyLocalMachine, "Software\\Absent"));
    std::vector<KeyRestore> present{{kHkeyLocalMachine, "Software\\Copy", header}};
    EXPECT_EQ(registry->RestoreKeys(present), kErrorBadDb);
    EXPECT_EQ(registry->ReadStringValue(kHkeyLocalMachine, "Software\\Copy", "Name"), "value");
}

}  // namespace
}  // namespace hivewise
