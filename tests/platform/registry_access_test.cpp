#include "platform/registry/registry_access.h"

#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/files/path_resolver.h"
#include "platform/machine/text.h"
#include "temp_prefix.h"

namespace hivewise {
namespace {

using testing::TempPrefix;

class RecordingHost : public NullHostServices {
  public:
    void ShowMessage(const std::string& text) override { messages.push_back(text); }
    std::vector<std::string> messages;
};

class RegistryAccessTest : public ::testing::Test {
  protected:
    void SetUp() override {
        prefix.SystemReg(
            "\n[Software\\\\Counts] 1700000000\n\"a\"=\"1\"\n\"b\"=\"2\"\n\"c\"=\"3\"\n"
            "\n[Software\\\\Counts\\\\One] "
            "1700000000\n\"1\"=\"\"\n\"2\"=\"\"\n\"3\"=\"\"\n\"4\"=\"\"\n"
            "\n[Software\\\\Counts\\\\Two] "
            "1700000000\n\"1\"=\"\"\n\"2\"=\"\"\n\"3\"=\"\"\n\"4\"=\"\"\n"
            "\n[Software\\\\Classes\\\\.txt] 1700000000\n@=\"txtfile\"\n"
            "\n[Software\\\\Text] 1700000000\n\"Caf\\x00e9\"=\"na\\x00efve \\x20ac5\"\n"
            "\"Long\"=\"" +
            std::string(255, 'x') +
            "\"\n"
            "\"Fits\"=\"" +
            std::string(254, 'x') +
            "\"\n"
            "\"Bin\"=hex:00,01,02\n"
            "\n[Software\\\\Linked] 1700000000\n#link\n"
            "\"SymbolicLinkValue\"=hex(6):5c,00,52,00,65,00,67,00,69,00,73,00,74,00,72,00,79,00,"
            "\\\n"
            "  5c,00,4d,00,61,00,63,00,68,00,69,00,6e,00,65,00,5c,00,53,00,6f,00,66,00,74,\\\n"
            "  00,77,00,61,00,72,00,65,00,5c,00,54,00,65,00,78,00,74,00\n");
        prefix.UserReg("\n[Software\\\\Hivewise] 1700000000\n\"Flag\"=\"1\"\n");
        machine = prefix.Load();
        ASSERT_TRUE(machine) << prefix.LastError();
        machine->SetHost(&host);
        reg = std::make_unique<RegistryAccess>(*machine);
    }
    TempPrefix prefix;
    RecordingHost host;
    std::unique_ptr<Machine> machine;
    std::unique_ptr<RegistryAccess> reg;
};

TEST_F(RegistryAccessTest, RootFromNameTakesOnlyTheExactLongNames) {
    EXPECT_EQ(RegistryAccess::RootFromName("HKEY_LOCAL_MACHINE"), kHkeyLocalMachine);
    EXPECT_EQ(RegistryAccess::RootFromName("HKEY_USERS"), kHkeyUsers);
    EXPECT_FALSE(RegistryAccess::RootFromName("hkey_local_machine"));
    EXPECT_FALSE(RegistryAccess::RootFromName("HKLM"));
    EXPECT_FALSE(RegistryAccess::RootFromName("HKEY_LOCAL_MACHINE\\"));
    // Registry-editor files and the command line take every name in any case; the
    // current configuration has no handle of its own.
    EXPECT_FALSE(RegistryAccess::RootFromName("HKEY_CURRENT_CONFIG"));
    ASSERT_TRUE(FindRootName("hkcc"));
    EXPECT_EQ(FindRootName("hkcc")->handle, kHkeyCurrentConfig);
    ASSERT_TRUE(FindRootName("Hkey_Classes_Root"));
    EXPECT_EQ(FindRootName("Hkey_Classes_Root")->shortName, "HKCR");
    EXPECT_FALSE(FindRootName("HKLM", true));
    EXPECT_FALSE(FindRootName("HKEY"));
    auto split = SplitRootPath("HKEY_CURRENT_USER\\Software\\X");
    ASSERT_TRUE(split);
    EXPECT_EQ(split->first, kHkeyCurrentUser);
    EXPECT_EQ(split->second, "Software\\X");
    EXPECT_FALSE(SplitRootPath("HKCU\\Software"));
    EXPECT_FALSE(SplitRootPath("HKEY_CURRENT_USER"));
}

TEST_F(RegistryAccessTest, ReadStringValueFailsLikeAMissingValueWhenDataDoesNotFit) {
    // 255 characters and the terminator are 256 bytes: one more than the capacity.
    EXPECT_EQ(reg->ReadStringValue(kHkeyLocalMachine, "Software\\Text", "Long"), "");
    EXPECT_EQ(reg->ReadStringValue(kHkeyLocalMachine, "Software\\Text", "Fits"),
              std::string(254, 'x'));
    EXPECT_EQ(reg->ReadStringValue(kHkeyLocalMachine, "Software\\Text", "Missing"), "");
    EXPECT_EQ(reg->ReadStringValue(kHkeyLocalMachine, "Software\\Nope", "Fits"), "");
    EXPECT_TRUE(host.messages.empty());
}

TEST_F(RegistryAccessTest, NamesAndStringsCrossTheBoundaryInTheAnsiCodePage) {
    EXPECT_EQ(reg->ReadStringValue(kHkeyLocalMachine, "software\\TEXT", "caf\xc9"),
              "na\xefve \x80"
              "5");
    RegHandle key;
    ASSERT_EQ(reg->OpenKey(kHkeyLocalMachine, "Software\\Text", kKeyAllAccess, &key), 0);
    uint32_t type = 0;
    std::string data;
    EXPECT_EQ(reg->QueryValue(key, "Bin", 3, &type, &data), 0);
    EXPECT_EQ(type, kRegBinary);
    EXPECT_EQ(data, std::string("\0\1\2", 3));
    EXPECT_EQ(reg->QueryValue(key, "Bin", 2, &type, &data), kErrorMoreData);
    // Text set through the boundary is stored as UTF-16 with its terminator.
    EXPECT_EQ(reg->SetValue(key, "Euro", kRegSz, "\x80"), 0);
    const RegValue* stored =
        machine->Registry().Find(machine->LocalMachine(), u"Software\\Text")->FindValue(u"euro");
    ASSERT_TRUE(stored);
    EXPECT_EQ(BytesToUtf16(stored->data), std::u16string(u"\u20ac\0", 2));
    EXPECT_EQ(reg->CloseKey(key), 0);
}

TEST_F(RegistryAccessTest, EnumerationFollowsTheRegistryOrderAndEndsWith259) {
    RegHandle key;
    ASSERT_EQ(reg->OpenKey(kHkeyLocalMachine, "Software\\Counts", kKeyAllAccess, &key), 0);
    std::string name;
    EXPECT_EQ(reg->EnumKey(key, 0, &name), 0);
    EXPECT_EQ(name, "One");
    EXPECT_EQ(reg->EnumKey(key, 1, &name), 0);
    EXPECT_EQ(name, "Two");
    EXPECT_EQ(reg->EnumKey(key, 2, &name), kErrorNoMoreItems);
    EXPECT_EQ(reg->EnumValue(key, 2, &name), 0);
    EXPECT_EQ(name, "c");
    EXPECT_EQ(reg->EnumValue(key, 3, &name), kErrorNoMoreItems);
    // A sub-key name longer than the capacity makes that index fail.
    RegHandle made;
    ASSERT_EQ(reg->CreateKey(key, std::string(256, 'z'), &made), 0);
    reg->CloseKey(made);
    EXPECT_EQ(reg->EnumKey(key, 2, &name, 255), kErrorMoreData);
    reg->CloseKey(key);
}

// Values read through a handle are decoded apart from the key, one key at a time: moving
// between keys of more and fewer values, and writing, must never show another key's values.
TEST_F(RegistryAccessTest, ValuesReadKeyByKeyStayTheirKeysAndFollowWrites) {
    RegHandle counts, one;
    ASSERT_EQ(reg->OpenKey(kHkeyLocalMachine, "Software\\Counts", kKeyAllAccess, &counts), 0);
    ASSERT_EQ(reg->OpenKey(kHkeyLocalMachine, "Software\\Counts\\One", kKeyAllAccess, &one), 0);
    auto valuesOf = [&](RegHandle key) {
        std::string all, name, data;
        uint32_t type = 0;
        for (uint32_t i = 0; reg->EnumValue(key, i, &name, 16383, &type, &data) == 0; ++i)
            all += name + "=" + data.c_str() + ";";
        return all;
    };
    EXPECT_EQ(valuesOf(one), "1=;2=;3=;4=;");
    EXPECT_EQ(valuesOf(counts), "a=1;b=2;c=3;");
    uint32_t subKeys = 0, values = 0;
    ASSERT_EQ(reg->QueryInfoKey(one, &subKeys, &values), 0);
    EXPECT_EQ(values, 4u);
    std::string data;
    EXPECT_EQ(reg->QueryValue(counts, "B", 100, nullptr, &data), 0);
    EXPECT_EQ(std::string(data.c_str()), "2");
    EXPECT_EQ(reg->QueryValue(counts, "4", 100, nullptr, &data), kErrorFileNotFound);

    ASSERT_EQ(reg->SetValue(counts, "b", kRegSz, std::string("changed\0", 8)), 0);
    EXPECT_EQ(valuesOf(counts), "a=1;b=changed;c=3;");
    RegistryAccess other(*machine);
    ASSERT_EQ(other.WriteValue(kHkeyLocalMachine, "Software\\Counts\\One", "5", "five", kRegSz),
              true);
    EXPECT_EQ(valuesOf(one), "1=;2=;3=;4=;5=five;");
    reg->CloseKey(counts);
    reg->CloseKey(one);
}

// Values read in batches are what reading them one by one gives, whatever does not fit,
// from any index and past the end; a write or a deletion moves the change count, which
// tells a batch's reader to read again.
TEST_F(RegistryAccessTest, ValueBatchesReadAsSingleValuesDoUntilTheRegistryChanges) {
    RegHandle key;
    ASSERT_EQ(reg->OpenKey(kHkeyLocalMachine, "Software\\Text", kKeyAllAccess, &key), 0);
    for (size_t capacity : {size_t{3}, size_t{255}, SIZE_MAX}) {
        for (uint32_t from = 0; from <= 4; ++from) {
            RegistryAccess::ValueBatch batch;
            ASSERT_EQ(reg->EnumValues(key, from, 2, capacity, capacity, &batch), 0);
            EXPECT_EQ(batch.first, from);
            EXPECT_EQ(batch.values.size(), from >= 4 ? 0u : std::min(2u, 4 - from));
            for (uint32_t i = 0; i < batch.values.size(); ++i) {
                SCOPED_TRACE(::testing::Message() << capacity << " " << from << " " << i);
                std::string name, data;
                uint32_t type = 0;
                const auto& got = batch.values[i];
                ASSERT_EQ(got.status,
                          reg->EnumValue(key, from + i, &name, capacity, &type, &data, capacity));
                if (got.status != 0) continue;
                EXPECT_EQ(got.name, name);
                EXPECT_EQ(got.type, type);
                EXPECT_EQ(got.data, data);
            }
        }
    }
    RegistryAccess::ValueBatch batch;
    ASSERT_EQ(reg->EnumValues(key, 0, 64, 16383, SIZE_MAX, &batch), 0);
    const uint64_t read = batch.changeCount;
    EXPECT_EQ(reg->ChangeCount(), read);
    ASSERT_EQ(reg->SetValue(key, "New", kRegSz, "x"), 0);
    EXPECT_NE(reg->ChangeCount(), read);
    ASSERT_EQ(reg->DeleteKeyTree(kHkeyLocalMachine, "Software\\Text"), 0);
    EXPECT_EQ(reg->EnumValues(key, 0, 64, 16383, SIZE_MAX, &batch), kErrorKeyDeleted);
    EXPECT_TRUE(batch.values.empty());
    reg->CloseKey(key);
}

TEST_F(RegistryAccessTest, CountsValuesOfAKeyOrOfItsWholeTree) {
    EXPECT_EQ(reg->CountValues(kHkeyLocalMachine, "Software\\Counts", false), 3u);
    EXPECT_EQ(reg->CountValues(kHkeyLocalMachine, "Software\\Counts", true), 11u);
    EXPECT_EQ(reg->CountSubKeys(kHkeyLocalMachine, "Software\\Counts"), 2u);
    EXPECT_EQ(reg->CountSubKeys(kHkeyLocalMachine, "Software\\Missing"), 0u);
    EXPECT_EQ(reg->CountValues(kHkeyLocalMachine, "Software\\Missing", true), 0u);
}

TEST_F(RegistryAccessTest, HandlesOutliveTheirDeletedKey) {
    RegHandle key;
    ASSERT_EQ(reg->OpenKey(kHkeyLocalMachine, "Software\\Counts\\One", kKeyAllAccess, &key), 0);
    EXPECT_EQ(reg->DeleteKeyTree(kHkeyLocalMachine, "Software\\Counts"), 0);
    EXPECT_FALSE(reg->KeyExists(kHkeyLocalMachine, "Software\\Counts"));
    uint32_t subKeys, values;
    EXPECT_EQ(reg->QueryInfoKey(key, &subKeys, &values), kErrorKeyDeleted);
    EXPECT_EQ(reg->SetValue(key, "x", kRegSz, "y"), kErrorKeyDeleted);
    EXPECT_EQ(reg->CloseKey(key), 0);
    EXPECT_EQ(reg->QueryInfoKey(key, &subKeys, &values), kErrorInvalidHandle);  // just used
    EXPECT_EQ(reg->CloseKey(key), kErrorInvalidHandle);
    EXPECT_EQ(reg->CloseKey(0x1234567), kErrorInvalidHandle);
    EXPECT_EQ(reg->DeleteKeyTree(kHkeyLocalMachine, "Software\\Counts"), kErrorFileNotFound);
    // The roots themselves are not deletable.
    EXPECT_EQ(reg->DeleteKeyTree(kHkeyLocalMachine, ""), kErrorAccessDenied);
    EXPECT_EQ(machine->Handles().OpenCount(), 0u);
}

// A walk keeps the keys it entered by their numbers: one number per key whatever the
// handle or link it came through, distinct across the store's blocks, none for a key gone.
TEST_F(RegistryAccessTest, KeysHaveNumbersOfTheirOwnBelowTheLimit) {
    std::set<size_t> numbers;
    std::vector<RegHandle> handles;
    for (int i = 0; i < 300; ++i) {  // enough new keys for several blocks
        RegHandle key = 0;
        ASSERT_EQ(reg->CreateKey(kHkeyLocalMachine, "Software\\Made\\" + std::to_string(i), &key),
                  kErrorSuccess);
        handles.push_back(key);
    }
    RegHandle text = 0, linked = 0;
    ASSERT_EQ(reg->OpenKey(kHkeyLocalMachine, "Software\\Text", kKeyAllAccess, &text), 0);
    ASSERT_EQ(reg->OpenKey(kHkeyLocalMachine, "Software\\Linked", kKeyAllAccess, &linked), 0);
    handles.push_back(text);
    const size_t limit = reg->KeyNumberLimit();
    for (RegHandle handle : handles) {
        std::optional<size_t> number = reg->Walk(handle).Number();
        ASSERT_TRUE(number);
        EXPECT_LT(*number, limit);
        EXPECT_TRUE(numbers.insert(*number).second) << *number;
    }
    EXPECT_EQ(reg->Walk(linked).Number(), reg->Walk(text).Number());
    EXPECT_TRUE(reg->Walk(kHkeyLocalMachine).Number());
    EXPECT_EQ(reg->DeleteKeyTree(kHkeyLocalMachine, "Software\\Made"), 0);
    EXPECT_FALSE(reg->Walk(handles.front()));
    EXPECT_FALSE(reg->Walk(0x1234567));
    for (RegHandle handle : handles)
        reg->CloseKey(handle);
    reg->CloseKey(linked);
}

// A walk holds its keys without handles; every call answers for such a key as it does for
// a handle to it: through links, past the last item, and once the key is deleted.
TEST_F(RegistryAccessTest, WalkedKeysAnswerAsHandlesToThemDo) {
    auto same = [&](RegHandle handle, const WalkedKey& walked) {
        uint32_t subKeys = 0, values = 0, walkedSubKeys = 0, walkedValues = 0;
        ASSERT_EQ(reg->QueryInfoKey(handle, &subKeys, &values),
                  reg->QueryInfoKey(walked, &walkedSubKeys, &walkedValues));
        EXPECT_EQ(subKeys, walkedSubKeys);
        EXPECT_EQ(values, walkedValues);
        for (uint32_t index = 0; index <= subKeys; ++index) {
            std::string name, walkedName;
            ASSERT_EQ(reg->EnumKey(handle, index, &name), reg->EnumKey(walked, index, &walkedName));
            EXPECT_EQ(name, walkedName);
            ScopedKey child(*reg);
            WalkedKey walkedChild;
            EXPECT_EQ(reg->OpenEnumeratedKey(handle, index, name, &child),
                      reg->OpenEnumeratedKey(walked, index, name, &walkedChild));
            EXPECT_EQ(child.Get() != 0, static_cast<bool>(walkedChild));
            if (child.Get()) {
                EXPECT_EQ(reg->Walk(child).Number(), walkedChild.Number());
            }
        }
        RegistryAccess::ValueBatch batch, walkedBatch;
        EXPECT_EQ(reg->EnumValues(handle, 1, 64, 16383, 260, &batch),
                  reg->EnumValues(walked, 1, 64, 16383, 260, &walkedBatch));
        ASSERT_EQ(batch.values.size(), walkedBatch.values.size());
        for (size_t i = 0; i < batch.values.size(); ++i) {
            EXPECT_EQ(batch.values[i].status, walkedBatch.values[i].status);
            EXPECT_EQ(batch.values[i].name, walkedBatch.values[i].name);
            EXPECT_EQ(batch.values[i].data, walkedBatch.values[i].data);
        }
    };
    for (const char* path :
         {"Software", "Software\\Counts", "Software\\Linked", "Software\\Text"}) {
        ScopedKey key(*reg);
        ASSERT_EQ(reg->OpenKey(kHkeyLocalMachine, path, kKeyAllAccess, &key), 0) << path;
        same(key, reg->Walk(key));
    }
    same(kHkeyLocalMachine, reg->Walk(kHkeyLocalMachine));

    ScopedKey counts(*reg);
    ASSERT_EQ(reg->OpenKey(kHkeyLocalMachine, "Software\\Counts", kKeyAllAccess, &counts), 0);
    const WalkedKey walked = reg->Walk(counts);
    EXPECT_EQ(reg->DeleteKeyTree(kHkeyLocalMachine, "Software\\Counts"), 0);
    same(counts, walked);
    uint32_t subKeys = 0;
    EXPECT_EQ(reg->QueryInfoKey(walked, &subKeys, nullptr), kErrorKeyDeleted);
    EXPECT_EQ(reg->QueryInfoKey(WalkedKey(), &subKeys, nullptr), kErrorInvalidHandle);
}

TEST_F(RegistryAccessTest, ClassesRootIsTheMachinesClassesKeyAndLinksAreFollowed) {
    EXPECT_EQ(reg->ReadStringValue(kHkeyClassesRoot, ".txt", ""), "txtfile");
    EXPECT_EQ(reg->ReadStringValue(kHkeyLocalMachine, "Software\\Linked", "Fits"),
              std::string(254, 'x'));
    EXPECT_TRUE(reg->DeleteValue(kHkeyClassesRoot, ".txt", "") == 0);
    EXPECT_EQ(reg->DeleteValue(kHkeyClassesRoot, ".txt", ""), kErrorFileNotFound);
}

// Opening an enumerated sub-key by its index ends as a look-up of its enumerated name
// does: links are followed, and a name the code page cannot hold opens what its ANSI
// form names (here nothing).
TEST_F(RegistryAccessTest, EnumeratedKeysOpenAsTheirNamesDo) {
    {
        auto lock = machine->Registry().Lock();
        RegKey* software = machine->Registry().Find(machine->LocalMachine(), u"Software");
        ASSERT_NE(software, nullptr);
        machine->Registry().CreateChild(software, u"Caf\u00e9");
        machine->Registry().CreateChild(software, u"\u0416ar");
    }
    ScopedKey software(*reg);
    ASSERT_EQ(reg->OpenKey(kHkeyLocalMachine, "Software", kKeyRead, &software), kErrorSuccess);
    uint32_t count = 0;
    ASSERT_EQ(reg->QueryInfoKey(software, &count, nullptr), kErrorSuccess);
    int opened = 0;
    for (uint32_t i = 0; i < count; ++i) {
        std::string name;
        ASSERT_EQ(reg->EnumKey(software, i, &name), kErrorSuccess);
        ScopedKey byName(*reg);
        ScopedKey byIndex(*reg);
        long named = reg->OpenKey(software, name, kKeyRead, &byName);
        EXPECT_EQ(reg->OpenEnumeratedKey(software, i, name, &byIndex), named) << name;
        EXPECT_EQ(reg->KeyOf(byIndex), reg->KeyOf(byName)) << name;
        if (named == kErrorSuccess) ++opened;
    }
    EXPECT_EQ(opened, static_cast<int>(count) - 1);  // all but the name that reads "?ar"
    // A stale name (the key at that index changed since) is looked up by name.
    ScopedKey stale(*reg);
    EXPECT_EQ(reg->OpenEnumeratedKey(software, 0, "Text", &stale), kErrorSuccess);
    EXPECT_EQ(reg->ReadStringValue(stale, "", "Fits"), std::string(254, 'x'));
}

TEST_F(RegistryAccessTest, SettingsNeedTheirKeyAndKeepTheirText) {
    std::string text;
    EXPECT_TRUE(reg->ReadSetting("flag", &text));
    EXPECT_EQ(text, "1");
    EXPECT_FALSE(reg->ReadSetting("", &text));
    EXPECT_FALSE(reg->ReadSetting("Absent", &text));
    EXPECT_TRUE(reg->WriteSetting("Last Scan", "12/8/2026"));
    EXPECT_TRUE(reg->ReadSetting("Last Scan", &text));
    EXPECT_EQ(text, "12/8/2026");
    EXPECT_FALSE(reg->WriteSetting("", "x"));
    ASSERT_EQ(reg->DeleteKeyTree(kHkeyCurrentUser, "SOFTWARE\\Hivewise"), 0);
    EXPECT_FALSE(reg->WriteSetting("Last Scan", "x"));  // writing does not create the key
    EXPECT_FALSE(reg->KeyExists(kHkeyCurrentUser, "Software\\Hivewise"));
    // WriteValue needs an existing key as well.
    EXPECT_FALSE(reg->WriteValue(kHkeyCurrentUser, "Software\\Nope", "v", "t", kRegSz));
    EXPECT_TRUE(reg->WriteValue(kHkeyCurrentUser, "Software", "v", "t", kRegExpandSz));
}

TEST_F(RegistryAccessTest, SavedKeyRestoresElsewhereValueForValue) {
    RegHandle key;
    ASSERT_EQ(reg->OpenKey(kHkeyLocalMachine, "Software\\Counts", kKeyQueryValue, &key), 0);
    EXPECT_EQ(reg->SaveKey(key, "C:\\counts.hiv"), 0);
    EXPECT_EQ(reg->SaveKey(key, "C:\\counts.hiv"), kErrorAlreadyExists);
    reg->CloseKey(key);
    EXPECT_EQ(prefix.Read("drive_c/counts.hiv").rfind("WINE REGISTRY Version 2\n", 0), 0u);
    RegHandle target;
    ASSERT_EQ(reg->CreateKey(kHkeyCurrentUser, "Restored", &target), 0);
    ASSERT_EQ(reg->SetValue(target, "old", kRegSz, "gone"), 0);
    EXPECT_EQ(reg->RestoreKey(target, "C:\\counts.hiv"), 0);
    EXPECT_EQ(reg->CountValues(kHkeyCurrentUser, "Restored", true), 11u);
    EXPECT_EQ(reg->ReadStringValue(kHkeyCurrentUser, "Restored", "old"), "");
    EXPECT_EQ(reg->ReadStringValue(kHkeyCurrentUser, "Restored", "c"), "3");
    prefix.File("bad.hiv", "not a registry file");
    EXPECT_EQ(reg->RestoreKey(target, "C:\\bad.hiv"), kErrorBadDb);
    EXPECT_EQ(reg->CountValues(kHkeyCurrentUser, "Restored", true), 11u);
    reg->CloseKey(target);
    // The restored keys are saved with the user's hive and read back.
    ASSERT_TRUE(machine->Flush().ok);
    machine.reset();
    auto again = prefix.Load();
    ASSERT_TRUE(again);
    RegistryAccess reg2(*again);
    EXPECT_EQ(reg2.CountValues(kHkeyCurrentUser, "Restored", true), 11u);
}

// Keys whose value lines are all plain are read straight from the file's text, without
// UTF-16 between; every call answers for them as for the same values decoded through
// UTF-16 and kept: names repeated in another case (few, and many), the default value,
// escapes, texts at the edge of the room asked for, dwords and bytes. Keys with any other
// line (a continued line, another type, a character beyond ASCII, a blank before the name)
// are decoded whole, as before.
TEST(RegistryAccessPlainKeys, AnswerAsTheSameValuesDecodedThroughUtf16Do) {
    std::string many;
    for (int i = 0; i < 40; ++i)
        many += "\"v" + std::to_string(i) + "\"=\"" + std::to_string(i) + "\"\n";
    many += "\"V7\"=\"again\"\n";
    const std::string plain =
        "\"A\"=\"1\"\n@=\"default\"\n\"a\"=\"2\"\n\"Path\"=\"C:\\\\Program "
        "Files\\\\App\\\\a.exe\"\n"
        "\"Quote\"=\"say \\\"hi\\\"\"\n\"Empty\"=\"\"\n\"D\"=dword:0000002a\n\"B\"=hex:00,01,ff\n"
        "#time=1d0000000000000\n\"S258\"=\"" +
        std::string(258, 's') + "\"\n\"S259\"=\"" + std::string(259, 's') + "\"\n\"S260\"=\"" +
        std::string(260, 's') + "\"\n\"" + std::string(300, 'n') + "\"=\"long name\"\n";
    const std::vector<std::pair<std::string, std::string>> keys = {
        {"Plain", plain},
        {"Many", many},
        {"Empty", ""},
        {"Continued", plain + "\"H\"=hex:00,\\\n  01\n"},
        {"Expand", plain + "\"E\"=str(2):\"%SystemRoot%\\\\x\"\n"},
        {"Wide", plain + "\"Caf\\x00e9\"=\"na\\x00efve\"\n"},
        {"Blank", "  \"Sp\"=\"x\"\n" + plain},
    };
    std::string text;
    for (const auto& [name, lines] : keys)
        text += "\n[Software\\\\" + name + "] 1700000000\n" + lines;
    TempPrefix prefix;
    prefix.SystemReg(text);
    auto lazy = prefix.Load();
    auto decoded = prefix.Load();
    ASSERT_TRUE(lazy && decoded) << prefix.LastError();

    ValuePeek peek;
    RegKey* software = lazy->Registry().Find(lazy->Registry().Root(), u"Machine\\Software");
    ASSERT_TRUE(software);
    for (const auto& [name, lines] : keys) {
        RegKey* key = software->FindSubKey(AnsiToUtf16(name));
        ASSERT_TRUE(key) << name;
        const bool plainKey = name == "Plain" || name == "Many" || name == "Empty";
        EXPECT_EQ(peek.PlainOf(key) != nullptr, plainKey) << name;
        // The other machine's keys keep their values decoded: its calls read those.
        decoded->Registry()
            .Find(decoded->Registry().Root(), u"Machine\\Software\\" + AnsiToUtf16(name))
            ->Values();
    }

    RegistryAccess fast(*lazy);
    RegistryAccess whole(*decoded);
    for (const auto& [name, lines] : keys) {
        SCOPED_TRACE(name);
        RegHandle a = 0, b = 0;
        ASSERT_EQ(fast.OpenKey(kHkeyLocalMachine, "Software\\" + name, kKeyAllAccess, &a), 0);
        ASSERT_EQ(whole.OpenKey(kHkeyLocalMachine, "Software\\" + name, kKeyAllAccess, &b), 0);
        uint32_t subKeysA = 0, valuesA = 0, subKeysB = 0, valuesB = 0;
        ASSERT_EQ(fast.QueryInfoKey(a, &subKeysA, &valuesA), 0);
        ASSERT_EQ(whole.QueryInfoKey(b, &subKeysB, &valuesB), 0);
        EXPECT_EQ(valuesA, valuesB);
        for (size_t room : {size_t{0}, size_t{3}, size_t{259}, size_t{260}, SIZE_MAX}) {
            RegistryAccess::ValueBatch batchA, batchB;
            ASSERT_EQ(fast.EnumValues(a, 0, 100, room, room, &batchA), 0);
            ASSERT_EQ(whole.EnumValues(b, 0, 100, room, room, &batchB), 0);
            ASSERT_EQ(batchA.values.size(), batchB.values.size());
            for (size_t i = 0; i < batchA.values.size(); ++i) {
                const auto& x = batchA.values[i];
                const auto& y = batchB.values[i];
                EXPECT_EQ(x.status, y.status) << room << " " << i;
                if (x.status != 0) continue;
                EXPECT_EQ(x.name, y.name);
                EXPECT_EQ(x.type, y.type) << x.name;
                EXPECT_EQ(x.data, y.data) << x.name;
                std::string nameA, dataA;
                uint32_t typeA = 0;
                EXPECT_EQ(
                    fast.EnumValue(a, static_cast<uint32_t>(i), &nameA, room, &typeA, &dataA, room),
                    0);
                EXPECT_EQ(nameA + "=" + dataA, x.name + "=" + x.data);
            }
            for (std::string asked : {"a", "A", "", "PATH", "quote", "s259", "V7", "v39", "Caf\xe9",
                                      "Caf?", "missing", "D", "B"}) {
                std::string dataA = "?", dataB = "?";
                uint32_t typeA = 0, typeB = 0;
                EXPECT_EQ(fast.QueryValue(a, asked, room, &typeA, &dataA),
                          whole.QueryValue(b, asked, room, &typeB, &dataB))
                    << asked << " " << room;
                EXPECT_EQ(typeA, typeB) << asked;
                EXPECT_EQ(dataA, dataB) << asked;
                EXPECT_EQ(fast.QueryValue(a, asked, room, nullptr, nullptr),
                          whole.QueryValue(b, asked, room, nullptr, nullptr))
                    << asked << " " << room;
            }
        }
        fast.CloseKey(a);
        whole.CloseKey(b);
    }
}

}  // namespace
}  // namespace hivewise
