// Registries built to break the program: links that loop or multiply, keys nested far
// deeper than Windows allows, names that only differ by a NUL or by case, files out of
// order. Each must give a clear error or a correct result, and leave alone what it did
// not change.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/registry/hive_file.h"
#include "platform/registry/registry_access.h"
#include "platform/temp_prefix.h"

namespace hivewise {
namespace {

using testing::TempPrefix;
namespace fs = std::filesystem;
using testing::LinkTo;

constexpr char16_t kUser[] = u"\\Registry\\User\\S-1-5-21-0-0-0-1000\\";

class HostileRegistry : public ::testing::Test {
  protected:
    std::unique_ptr<Machine> Load(const std::string& userSections) {
        prefix.SystemReg("\n[Software\\\\Wine] 1700000000\n\"v\"=\"1\"\n");
        prefix.UserReg(userSections);
        auto machine = prefix.Load();
        EXPECT_TRUE(machine) << prefix.LastError();
        return machine;
    }
    TempPrefix prefix;
};

TEST_F(HostileRegistry, LinkLoopsEndInAnErrorNotTheStack) {
    // A key linking to itself, and two linking to each other, with the environment among them.
    auto machine =
        Load("\n[Environment] 1700000000\n" + LinkTo(std::u16string(kUser) + u"Environment") +
             "\n[Software\\\\A] 1700000000\n" + LinkTo(std::u16string(kUser) + u"Software\\B") +
             "\n[Software\\\\B] 1700000000\n" + LinkTo(std::u16string(kUser) + u"Software\\A"));
    ASSERT_TRUE(machine);  // the environment was read past the looping key
    RegistryAccess registry(*machine);
    RegHandle key;
    EXPECT_EQ(registry.OpenKey(kHkeyCurrentUser, "Environment", kKeyRead, &key),
              kErrorCantResolveFilename);
    EXPECT_EQ(registry.OpenKey(kHkeyCurrentUser, "Software\\A", kKeyRead, &key),
              kErrorCantResolveFilename);
    EXPECT_EQ(registry.CreateKey(kHkeyCurrentUser, "Software\\B\\x", &key),
              kErrorCantResolveFilename);
    EXPECT_FALSE(registry.KeyExists(kHkeyCurrentUser, "Software\\A"));
    // Counting through the links stays bounded too.
    EXPECT_EQ(registry.CountValues(kHkeyCurrentUser, "Software", true), 0u);
}

TEST_F(HostileRegistry, LinksToOneAnotherAreCountedOnlySoOften) {
    // 25 keys, each with two links to the next: 2^25 paths if every link were followed.
    std::string sections;
    for (int k = 0; k < 25; ++k) {
        char name[8];
        std::snprintf(name, sizeof name, "K%02d", k);
        char next[8];
        std::snprintf(next, sizeof next, "K%02d", k + 1);
        sections += std::string("\n[Software\\\\D\\\\") + name + "] 1700000000\n\"v\"=\"0\"\n";
        for (const char* sub : {"a", "b"}) {
            sections +=
                std::string("\n[Software\\\\D\\\\") + name + "\\\\" + sub + "] 1700000000\n";
            std::u16string target = std::u16string(kUser) + u"Software\\D\\";
            for (char c : std::string(next))
                target.push_back(static_cast<char16_t>(c));
            sections += LinkTo(target);
        }
    }
    auto machine = Load(sections);
    ASSERT_TRUE(machine);
    RegistryAccess registry(*machine);
    unsigned count = registry.CountValues(kHkeyCurrentUser, "Software\\D\\K00", true);
    EXPECT_GE(count, 25u);
    EXPECT_LE(count, static_cast<unsigned>(kMaxLinksPerWalk + 2));
}

TEST_F(HostileRegistry, KeysDeeperThanWindowsAllowsLoadSaveAndAreRefused) {
    std::string path = "Software";
    for (int i = 0; i < 20000; ++i)
        path += "\\\\d";
    auto machine = Load("\n[" + path + "] 1700000000\n\"v\"=\"x\"\n");
    ASSERT_TRUE(machine);
    RegistryAccess registry(*machine);
    RegHandle key;
    std::string deep = "Software";
    for (int i = 0; i < 600; ++i)
        deep += "\\d";
    EXPECT_EQ(registry.OpenKey(kHkeyCurrentUser, deep, kKeyRead, &key), kErrorInvalidParameter);
    EXPECT_NE(registry.CreateKey(kHkeyCurrentUser, "Software\\New" + deep, &key), kErrorSuccess);
    // A change elsewhere in the file writes the deep section back as it was.
    ASSERT_EQ(registry.CreateKey(kHkeyCurrentUser, "Software\\Hivewise", &key), kErrorSuccess);
    ASSERT_EQ(registry.SetValue(key, "n", kRegSz, "1"), kErrorSuccess);
    registry.CloseKey(key);
    auto saved = machine->Flush();
    ASSERT_TRUE(saved.ok) << saved.error;
    EXPECT_NE(prefix.Read("user.reg").find("[" + path + "] 1700000000\n\"v\"=\"x\"\n"),
              std::string::npos);
    machine.reset();
    EXPECT_TRUE(prefix.Load()) << prefix.LastError();
}

TEST_F(HostileRegistry, RewrittenSectionsKeepEveryNameExactly) {
    // "A" is named only in other sections' paths, once as "a"; "B\0" and "Software\0" end
    // in a NUL and are keys of their own.
    auto machine = Load(
        "\n[A\\\\B] 1\n#time=1\n\"s\"=\"x\"\n"
        "\n[a\\\\C] 1\n#time=1\n\"s\"=\"y\"\n"
        "\n[A\\\\D\\0] 1\n#time=1\n\"n\\0\"=\"z\"\n"
        "\n[Software] 1\n#time=1\n\"s\"=\"1\"\n"
        "\n[Software\\0] 1\n#time=1\n\"s\"=\"2\"\n");
    ASSERT_TRUE(machine);
    RegistryStore& store = machine->Registry();
    RegKey* user = machine->CurrentUser();
    ASSERT_TRUE(store.Find(user, std::u16string(u"Software\0", 9)));
    EXPECT_NE(store.Find(user, std::u16string(u"Software\0", 9)), store.Find(user, u"Software"));
    // Every section rewritten: each changed key gets a new value.
    for (std::u16string path :
         {std::u16string(u"A\\B"), std::u16string(u"a\\C"), std::u16string(u"A\\D\0", 4),
          std::u16string(u"Software"), std::u16string(u"Software\0", 9)}) {
        RegKey* key = store.Find(user, path);
        ASSERT_TRUE(key);
        store.SetValue(key, u"new", kRegDword, std::string(4, '\0'));
    }
    ASSERT_TRUE(machine->Flush().ok);
    std::string text = prefix.Read("user.reg");
    EXPECT_NE(text.find("\n[a\\\\C] "), std::string::npos) << text;
    EXPECT_NE(text.find("\n[A\\\\D\\0] "), std::string::npos) << text;
    EXPECT_NE(text.find("\"n\\0\"=\"z\""), std::string::npos) << text;
    EXPECT_NE(text.find("\n[Software\\0] "), std::string::npos) << text;
    machine.reset();
    machine = prefix.Load();
    ASSERT_TRUE(machine);
    RegKey* nul =
        machine->Registry().Find(machine->CurrentUser(), std::u16string(u"Software\0", 9));
    ASSERT_TRUE(nul);
    ASSERT_TRUE(nul->FindValue(u"s"));
    EXPECT_EQ(nul->FindValue(u"s")->data, std::string("2\0\0\0", 4));
}

// A key named only in other sections' paths takes the spelling that a loader (Wine's
// too) meets first. A rewrite writes a section that spells it so before any that spells
// it otherwise, and still copies untouched sections as they stood.
TEST_F(HostileRegistry, ImpliedKeysKeepTheirCaseThroughARewrite) {
    auto rewriteAndReload = [this](const std::string& userReg) {
        prefix.SystemReg("\n[Software\\\\Wine] 1700000000\n\"v\"=\"1\"\n");
        prefix.Write("user.reg", userReg);
        auto machine = prefix.Load();
        EXPECT_TRUE(machine) << prefix.LastError();
        if (!machine) return machine;
        // An unrelated change makes the file be written again.
        RegistryAccess registry(*machine);
        RegHandle key = 0;
        EXPECT_EQ(registry.CreateKey(kHkeyCurrentUser, "Software\\Hivewise", &key), kErrorSuccess);
        EXPECT_EQ(registry.SetValue(key, "x", kRegSz, "1"), kErrorSuccess);
        EXPECT_TRUE(machine->Flush().ok);
        machine.reset();
        return prefix.Load();
    };

    // The whole of one section's own path spelled otherwise, and a key with a section
    // of its own that an earlier section named first.
    std::string small = TempPrefix::Header("REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000", "win32") +
                        "\n[Top\\\\Mid\\\\b] 1\n\"v\"=\"1\"\n"
                        "\n[top\\\\mid\\\\a] 1\n\"v\"=\"2\"\n"
                        "\n[x\\\\y] 1\n\"v\"=\"3\"\n"
                        "\n[X] 1\n\"v\"=\"4\"\n";
    auto machine = rewriteAndReload(small);
    ASSERT_TRUE(machine);
    RegistryStore& store = machine->Registry();
    RegKey* user = machine->CurrentUser();
    ASSERT_TRUE(store.Find(user, u"top\\mid\\a"));
    EXPECT_EQ(store.Find(user, u"top")->Name(), u"Top");
    EXPECT_EQ(store.Find(user, u"top\\mid")->Name(), u"Mid");
    EXPECT_EQ(store.Find(user, u"x")->Name(), u"x");
    ASSERT_TRUE(store.Find(user, u"Software\\Hivewise"));
    std::string text = prefix.Read("user.reg");
    EXPECT_NE(text.find("\n[top\\\\mid\\\\a] 1\n\"v\"=\"2\"\n"), std::string::npos) << text;

    fs::path file = testing::TestDataDir() / "hostile" / "implied-key-case-change.reg";
    if (!fs::exists(file)) GTEST_SKIP() << "test data not found: " << file;
    std::ifstream in(file, std::ios::binary);
    std::string reproducer((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    machine = rewriteAndReload(reproducer);
    ASSERT_TRUE(machine);
    text = prefix.Read("user.reg");
    // Every section of the file stands as it stood, in the file's order.
    size_t body = reproducer.find("\n[A\\\\B]");
    ASSERT_NE(body, std::string::npos);
    EXPECT_NE(text.find(reproducer.substr(body)), std::string::npos);
    EXPECT_LT(text.find("\n[A\\\\B]"), text.find("\n[a\\\\a\\\\"));
    RegKey* top = machine->Registry().Find(machine->CurrentUser(), u"a");
    ASSERT_TRUE(top);
    EXPECT_EQ(top->Name(), u"A");
    ASSERT_FALSE(top->SubKeys().empty());
    EXPECT_EQ(top->SubKeys().front()->Name(), u"a");
    RegKey* b = machine->Registry().Find(top, u"B");
    ASSERT_TRUE(b && b->FindValue(u"d"));
    EXPECT_EQ(b->FindValue(u"d")->data, std::string("\1\0\0\0", 4));
}

TEST_F(HostileRegistry, AnUntouchedFileIsNeverRewritten) {
    // Sections out of sorted order: written anew they would move.
    std::string system = TempPrefix::Header("REGISTRY\\\\Machine", "win32") +
                         "\n[Software\\\\Zeta] 1700000000\n\"v\"=\"1\"\n"
                         "\n[Software\\\\Alpha] 1700000000\n\"v\"=\"2\"\n";
    prefix.Write("system.reg", system);
    prefix.UserReg("\n[Software] 1700000000\n");
    auto machine = prefix.Load();
    ASSERT_TRUE(machine) << prefix.LastError();
    EXPECT_FALSE(machine->HasUnsavedChanges());
    RegistryAccess registry(*machine);
    RegHandle key;
    ASSERT_EQ(registry.CreateKey(kHkeyCurrentUser, "Software\\Hivewise", &key), kErrorSuccess);
    ASSERT_EQ(registry.SetValue(key, "x", kRegSz, "1"), kErrorSuccess);
    EXPECT_TRUE(machine->HasUnsavedChanges());
    auto saved = machine->Flush();
    ASSERT_TRUE(saved.ok) << saved.error;
    EXPECT_FALSE(machine->HasUnsavedChanges());
    EXPECT_EQ(prefix.Read("system.reg"), system);
    EXPECT_NE(prefix.Read("user.reg").find("Hivewise"), std::string::npos);
}

TEST_F(HostileRegistry, WritesNoFileWouldSaveAndProtectedKeysAreRefused) {
    auto machine = Load("\n[Software\\\\App] 1700000000\n\"v\"=\"1\"\n");
    ASSERT_TRUE(machine);
    RegistryAccess registry(*machine);
    RegHandle key;
    // Directly under HKEY_USERS no file saves anything.
    EXPECT_EQ(registry.CreateKey(kHkeyUsers, "Orphan\\Sub", &key), kErrorAccessDenied);
    EXPECT_FALSE(registry.KeyExists(kHkeyUsers, "Orphan"));
    EXPECT_FALSE(registry.WriteValue(kHkeyUsers, "", "v", "x", kRegSz));
    // HKLM's own top-level keys and the files' branches are never deleted.
    EXPECT_EQ(registry.DeleteKeyTree(kHkeyLocalMachine, "Software"), kErrorAccessDenied);
    EXPECT_EQ(registry.DeleteKeyTree(kHkeyUsers, "S-1-5-21-0-0-0-1000"), kErrorAccessDenied);
    EXPECT_TRUE(registry.KeyExists(kHkeyLocalMachine, "Software\\Wine"));
    // Their values are saved like any other key's.
    EXPECT_TRUE(registry.WriteValue(kHkeyLocalMachine, "Software", "top", "1", kRegSz));
    EXPECT_EQ(registry.DeleteKeyTree(kHkeyCurrentUser, "Software\\App"), kErrorSuccess);
}

TEST(HiveFileValues, AStringOfAnotherTypeKeepsItsText) {
    auto hive = ParseHive(TempPrefix::Header("REGISTRY\\\\Machine", "win32") +
                              "\n[K] 1700000000\n\"n\"=str(4):\"ab\"\n",
                          nullptr);
    ASSERT_TRUE(hive);
    RegKey* key = hive->store.Find(hive->base, u"K");
    ASSERT_TRUE(key && key->FindValue(u"n"));
    EXPECT_EQ(key->FindValue(u"n")->type, kRegDword);
    EXPECT_EQ(key->FindValue(u"n")->data, std::string("a\0b\0\0\0", 6));
}

}  // namespace
}  // namespace hivewise
