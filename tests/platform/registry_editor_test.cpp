#include "platform/registry/registry_editor.h"

#include <gtest/gtest.h>

#include <thread>

#include "platform/machine/text.h"
#include "platform/registry/hive_file.h"
#include "stored_text.h"
#include "temp_prefix.h"

namespace hivewise {
namespace {

using testing::TempPrefix;

// A prefix with the keys the copies read, built through the store so that any type and
// any link can be set up.
class EditorTest : public ::testing::Test {
  protected:
    void SetUp() override {
        prefix.SystemReg("\n[Software\\\\Classes] 1700000000\n");
        prefix.UserReg("\n[Software\\\\Hivewise] 1700000000\n");
        machine = prefix.Load();
        ASSERT_TRUE(machine) << prefix.LastError();
        registry = std::make_unique<RegistryAccess>(*machine);
        editor = std::make_unique<RegistryEditor>(*machine);
    }
    RegKey* Lm(std::u16string_view path) {
        return machine->Registry().Create(machine->LocalMachine(), path);
    }
    RegKey* Find(RegKey* base, std::u16string_view path) {
        return machine->Registry().Find(base, path);
    }
    void Set(RegKey* key, std::u16string_view name, uint32_t type, std::string bytes) {
        machine->Registry().SetValue(key, name, type, std::move(bytes));
    }
    void SetText(RegKey* key, std::u16string_view name, std::u16string_view text,
                 uint32_t type = kRegSz) {
        testing::SetStoredText(machine->Registry(), key, name, text, type);
    }

    TempPrefix prefix;
    std::unique_ptr<Machine> machine;
    std::unique_ptr<RegistryAccess> registry;
    std::unique_ptr<RegistryEditor> editor;
};

class CopyKeyTreeTest : public EditorTest {
  protected:
    long Copy(std::string_view from, std::string_view to) {
        ScopedKey source(*registry);
        EXPECT_EQ(registry->OpenKey(kHkeyLocalMachine, from, kKeyRead, &source), kErrorSuccess);
        return CopyKeyTree(*registry, source, kHkeyCurrentUser, to);
    }
    static void ExpectSameTree(const RegKey& a, const RegKey& b) {
        ASSERT_EQ(a.Values().size(), b.Values().size()) << Utf16ToUtf8(a.Name());
        for (size_t i = 0; i < a.Values().size(); ++i) {
            EXPECT_EQ(a.Values()[i].name, b.Values()[i].name);
            EXPECT_EQ(a.Values()[i].type, b.Values()[i].type);
            EXPECT_EQ(a.Values()[i].data, b.Values()[i].data);
        }
        EXPECT_EQ(a.ClassName(), b.ClassName());
        EXPECT_EQ(a.IsLink(), b.IsLink());
        ASSERT_EQ(a.SubKeyCount(), b.SubKeyCount()) << Utf16ToUtf8(a.Name());
        for (size_t i = 0; i < a.SubKeyCount(); ++i) {
            EXPECT_EQ(a.SubKeys()[i]->Name(), b.SubKeys()[i]->Name());
            ExpectSameTree(*a.SubKeys()[i], *b.SubKeys()[i]);
        }
    }
};

TEST_F(CopyKeyTreeTest, CopiesEveryTypeAndByteAndNestedKeys) {
    RegKey* top = Lm(u"Software\\Tool");
    Set(top, u"", kRegSz, Utf16ToBytes(u"Default\0"));
    // Strings the ANSI view would change: no terminator, characters outside the code
    // page, an odd length, data after the terminator.
    Set(top, u"NoTerminator", kRegSz, Utf16ToBytes(u"abc"));
    Set(top, u"Greek \u03a9", kRegSz, Utf16ToBytes(u"\u03a9\u0394\0"));
    Set(top, u"Odd", kRegSz, std::string("a\0b", 3));
    Set(top, u"Tail", kRegExpandSz, Utf16ToBytes(std::u16string(u"%X%\0junk", 9)));
    Set(top, u"Multi", kRegMultiSz, Utf16ToBytes(std::u16string(u"a\0b\0\0", 5)));
    Set(top, u"Dword", kRegDword, std::string("\x01\x02\x03\x04", 4));
    Set(top, u"Qword", kRegQword, std::string(8, '\x7f'));
    Set(top, u"Binary", kRegBinary, std::string("\0\xff\0", 3));
    Set(top, u"None", kRegNone, "");
    Set(top, u"Odd type", 0x12345678, "raw");
    Set(Lm(u"Software\\Tool\\A\\B\\C"), u"Deep", kRegDword, std::string(4, '\0'));
    Lm(u"Software\\Tool\\Empty");
    machine->Registry().SetClass(Lm(u"Software\\Tool\\A"), u"ClassName");

    ASSERT_EQ(Copy("Software\\Tool", "Software\\Hivewise\\Copy\\Tool"), kErrorSuccess);
    RegKey* copy = Find(machine->CurrentUser(), u"Software\\Hivewise\\Copy\\Tool");
    ASSERT_TRUE(copy);
    ExpectSameTree(*top, *copy);

    // Copying onto an existing copy adds nothing and loses nothing.
    ASSERT_EQ(Copy("Software\\Tool", "Software\\Hivewise\\Copy\\Tool"), kErrorSuccess);
    ExpectSameTree(*top, *copy);
}

TEST_F(CopyKeyTreeTest, LinksAreCopiedAsLinksNotFollowed) {
    RegKey* top = Lm(u"Software\\Tool");
    SetText(top, u"Name", u"x");
    // A sub-key that links back to its own parent: followed, it would never end.
    RegKey* loop = Lm(u"Software\\Tool\\Loop");
    machine->Registry().SetLink(loop, true);
    Set(loop, u"SymbolicLinkValue", kRegLink, Utf16ToBytes(u"\\Registry\\Machine\\Software\\Tool"));

    ASSERT_EQ(Copy("Software\\Tool", "Software\\Hivewise\\Tool"), kErrorSuccess);
    RegKey* copy = Find(machine->CurrentUser(), u"Software\\Hivewise\\Tool");
    ASSERT_TRUE(copy);
    RegKey* copiedLoop = copy->FindSubKey(u"Loop");
    ASSERT_TRUE(copiedLoop);
    EXPECT_TRUE(copiedLoop->IsLink());
    EXPECT_TRUE(copiedLoop->SubKeys().empty());
    ExpectSameTree(*top, *copy);
}

TEST_F(CopyKeyTreeTest, BoundsDepthAndRefusesACopyIntoItself) {
    // A copy never makes keys deeper than the registry allows, however deep its source.
    RegKey* key = Lm(u"Software\\Deep");
    for (int i = 0; i < 10000; ++i)
        key = machine->Registry().CreateChild(key, u"k");
    EXPECT_NE(Copy("Software\\Deep", "Software\\Hivewise\\Deep"), kErrorSuccess);
    RegKey* copied = Find(machine->CurrentUser(), u"Software\\Hivewise\\Deep");
    ASSERT_TRUE(copied);
    while (copied->SubKeyCount() != 0)
        copied = copied->SubKey(0);
    EXPECT_EQ(copied->Depth(), kMaxKeyDepth);

    // A tree that reaches exactly the deepest allowed key there is copied whole.
    RegKey* destination = Find(machine->CurrentUser(), u"Software\\Hivewise");
    key = Lm(u"Software\\Shallow");
    for (size_t depth = destination->Depth() + 1; depth < kMaxKeyDepth; ++depth)
        key = machine->Registry().CreateChild(key, u"k");
    SetText(key, u"Bottom", u"here");
    EXPECT_EQ(Copy("Software\\Shallow", "Software\\Hivewise\\Shallow"), kErrorSuccess);
    EXPECT_TRUE(SameKeyTree(*registry, kHkeyLocalMachine, "Software\\Shallow", kHkeyCurrentUser,
                            "Software\\Hivewise\\Shallow"));

    ScopedKey source(*registry);
    ASSERT_EQ(registry->OpenKey(kHkeyCurrentUser, "Software\\Hivewise", kKeyRead, &source),
              kErrorSuccess);
    EXPECT_EQ(CopyKeyTree(*registry, source, kHkeyCurrentUser, "Software\\Hivewise\\Again"),
              kErrorInvalidParameter);
    EXPECT_FALSE(Find(machine->CurrentUser(), u"Software\\Hivewise\\Again"));
}

TEST_F(CopyKeyTreeTest, ValueCopyKeepsTypeAndBytes) {
    RegKey* run = Lm(u"Software\\Run");
    SetText(run, u"Tool", u"%ProgramFiles%\\tool.exe", kRegExpandSz);
    ASSERT_TRUE(CopyValueExact(*registry, kHkeyLocalMachine, "Software\\Run", "Tool",
                               kHkeyCurrentUser, "Software\\New\\Area", "Tool"));
    const RegValue* copy = Find(machine->CurrentUser(), u"Software\\New\\Area")->FindValue(u"Tool");
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->type, kRegExpandSz);
    EXPECT_EQ(copy->data, run->FindValue(u"Tool")->data);
    EXPECT_FALSE(CopyValueExact(*registry, kHkeyLocalMachine, "Software\\Run", "Missing",
                                kHkeyCurrentUser, "Software\\New\\Area", "Missing"));
}

// The editor's rules: what no registry file would keep, or what Windows never lets go,
// is refused, and nothing changes.
TEST_F(EditorTest, RefusesWhatNoFileKeepsOrWhatMayNotGo) {
    RegKey* users = machine->Users();
    RegKey* user = machine->CurrentUser();
    RegKey* software = Find(machine->LocalMachine(), u"Software");
    RegKey* made = nullptr;
    // Directly under HKEY_USERS or HKEY_LOCAL_MACHINE a new key belongs to no file.
    EXPECT_EQ(editor->CreateKey(users, u"S-1-5-99\\Software", &made), kErrorAccessDenied);
    EXPECT_EQ(editor->CreateSubKey(machine->LocalMachine(), u"New", &made), kErrorAccessDenied);
    EXPECT_FALSE(users->FindSubKey(u"S-1-5-99"));
    EXPECT_FALSE(machine->LocalMachine()->FindSubKey(u"New"));
    // A file's base and HKLM's own top-level keys stay; their values may change.
    EXPECT_EQ(editor->DeleteTree(user), kErrorAccessDenied);
    EXPECT_EQ(editor->DeleteTree(software), kErrorAccessDenied);
    EXPECT_EQ(editor->SetValue(users, u"v", kRegSz, "x"), kErrorAccessDenied);
    EXPECT_EQ(editor->SetValue(software, u"v", kRegDword, std::string(4, '\1')), kErrorSuccess);
    EXPECT_EQ(editor->DeleteValue(software, u"v"), kErrorSuccess);
    EXPECT_EQ(editor->DeleteValue(software, u"v"), kErrorFileNotFound);
    // Below a saved key everything may be made and removed again.
    ASSERT_EQ(editor->CreateKey(user, u"Software\\A\\B", &made), kErrorSuccess);
    EXPECT_EQ(editor->SetValue(made, u"v", kRegSz, "x"), kErrorSuccess);
    RegKey* a = Find(user, u"Software\\A");
    EXPECT_EQ(editor->DeleteTree(a), kErrorSuccess);
    EXPECT_TRUE(a->IsDeleted() && made->IsDeleted());
    EXPECT_EQ(editor->SetValue(made, u"v", kRegSz, "y"), kErrorKeyDeleted);
    // Too deep is refused before any key is made.
    std::u16string deep;
    for (size_t i = 0; i <= kMaxKeyDepth; ++i)
        deep += u"k\\";
    EXPECT_EQ(editor->CreateKey(user, deep, &made), kErrorInvalidParameter);
    EXPECT_FALSE(user->FindSubKey(u"k"));
}

TEST_F(EditorTest, ReplacePutsASavedTreeBackOnlyWhereAFileKeepsIt) {
    RegKey* tool = Lm(u"Software\\Tool");
    SetText(tool, u"Old", u"gone");
    SetText(Lm(u"Software\\Tool\\OldChild"), u"x", u"y");
    RegKey* oldChild = Find(tool, u"OldChild");
    RegistryStore& store = machine->Registry();
    auto load = [&](std::string_view text) {
        RegKey* loaded = store.NewDetachedKey();
        HiveInfo info;
        HiveParseError error;
        EXPECT_TRUE(ReadHive(store, loaded, store.KeepText(std::string(text)), &info, &error));
        return loaded;
    };
    const char* saved =
        "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\\\\Software\\\\Tool\n"
        "\n[New] 1700000000\n\"v\"=\"1\"\n";
    EXPECT_EQ(editor->Replace(machine->Users(), load(saved)), kErrorAccessDenied);
    EXPECT_FALSE(machine->Users()->FindSubKey(u"New"));
    ASSERT_EQ(editor->Replace(tool, load(saved)), kErrorSuccess);
    EXPECT_TRUE(oldChild->IsDeleted());
    EXPECT_FALSE(tool->FindValue(u"Old"));
    RegKey* fresh = Find(tool, u"New");
    ASSERT_TRUE(fresh);
    EXPECT_TRUE(fresh->FindValue(u"v"));
    EXPECT_EQ(fresh->Depth(), tool->Depth() + 1);
}

// Another thread finds the store locked while the editor changes it: the store reads its
// clock inside every change, so the clock looks from there.
RegistryStore* g_watchedStore = nullptr;
int g_changes = 0;
int g_unlockedChanges = 0;
uint64_t ClockThatChecksTheLock() {
    ++g_changes;
    std::recursive_mutex* mutex = g_watchedStore->Lock().mutex();
    bool taken = false;
    std::thread([&] {
        taken = mutex->try_lock();
        if (taken) mutex->unlock();
    }).join();
    if (taken) ++g_unlockedChanges;
    return 1;
}

TEST_F(EditorTest, EveryChangeHoldsTheStoresLock) {
    g_watchedStore = &machine->Registry();
    g_changes = g_unlockedChanges = 0;
    machine->Registry().SetClock(&ClockThatChecksTheLock);
    RegKey* made = nullptr;
    ASSERT_EQ(editor->CreateKey(machine->CurrentUser(), u"Software\\L\\M", &made), kErrorSuccess);
    EXPECT_EQ(editor->SetValue(made, u"v", kRegSz, "x"), kErrorSuccess);
    EXPECT_EQ(editor->DeleteValue(made, u"v"), kErrorSuccess);
    EXPECT_EQ(editor->CopyTree(made, machine->CurrentUser(), u"Software\\Copy"), kErrorSuccess);
    EXPECT_EQ(editor->DeleteTree(made), kErrorSuccess);
    EXPECT_TRUE(
        WriteExactValue(*machine, "HKCU\\Software\\Copy", RegValue{u"e", kRegDword, "1234"}));
    machine->Registry().SetClock(&SystemTimeTicks);
    EXPECT_GT(g_changes, 5);
    EXPECT_EQ(g_unlockedChanges, 0);
}

// A key remembers where it last found a child: look-ups stay right when children come and
// go before or at that place, in any letter case.
TEST_F(EditorTest, ChildLookUpsStayRightAsChildrenComeAndGo) {
    RegKey* parent = Lm(u"Software\\Many");
    for (char16_t c = u'b'; c <= u'y'; c += 2)
        ASSERT_TRUE(Lm(u"Software\\Many\\" + std::u16string(1, c)));
    auto find = [&](std::u16string_view name) { return Find(parent, name); };
    ASSERT_TRUE(find(u"n"));
    EXPECT_EQ(find(u"N"), find(u"n"));
    EXPECT_EQ(find(u"p")->Name(), u"p");
    EXPECT_FALSE(find(u"o"));
    RegKey* made = nullptr;
    ASSERT_EQ(editor->CreateKey(parent, u"a", &made), kErrorSuccess);  // before the place
    ASSERT_EQ(editor->CreateKey(parent, u"o", &made), kErrorSuccess);  // at it
    EXPECT_EQ(find(u"o"), made);
    EXPECT_EQ(find(u"p")->Name(), u"p");
    ASSERT_EQ(editor->DeleteTree(find(u"p")), kErrorSuccess);
    EXPECT_FALSE(find(u"p"));
    EXPECT_EQ(find(u"R")->Name(), u"r");
    EXPECT_EQ(find(u"a")->Name(), u"a");
    ASSERT_EQ(editor->DeleteTree(find(u"x")), kErrorSuccess);
    EXPECT_FALSE(find(u"x"));  // the last place is past the end now
    EXPECT_EQ(find(u"v")->Name(), u"v");
}

// Deleted children leave a key's list for good, whether it is looked at between the
// deletions or only after them, and a child made again under a deleted one's name (in
// another letter case) takes its place; the saved file holds exactly the live ones.
TEST_F(EditorTest, ChildrenDeletedAmongManyLeaveTheListInEveryOrder) {
    RegKey* parent = Lm(u"Software\\Many");
    std::vector<std::u16string> names;
    for (int i = 0; i < 300; ++i) {
        names.push_back(u"k" + AnsiToUtf16(std::to_string(1000 + i)));
        ASSERT_TRUE(Lm(u"Software\\Many\\" + names.back()));
    }
    auto live = [&] {
        std::vector<std::u16string> out;
        for (size_t i = 0; i < parent->SubKeyCount(); ++i)
            out.emplace_back(parent->SubKey(i)->Name());
        return out;
    };
    std::vector<std::u16string> expected;
    for (size_t i = 0; i < names.size(); ++i) {
        if (i % 3 == 0) {
            RegKey* gone = Find(parent, names[i]);
            ASSERT_EQ(editor->DeleteTree(gone), kErrorSuccess);
            EXPECT_TRUE(gone->IsDeleted());
            EXPECT_FALSE(Find(parent, names[i]));
            if (i % 30 == 0) {  // made again, spelled otherwise
                RegKey* again = nullptr;
                std::u16string upper = u"K" + names[i].substr(1);
                ASSERT_EQ(editor->CreateKey(parent, upper, &again), kErrorSuccess);
                EXPECT_NE(again, gone);
                EXPECT_EQ(Find(parent, names[i]), again);
                expected.push_back(upper);
            }
        } else {
            expected.push_back(names[i]);
        }
        if (i == 150) {  // a look at the whole list halfway through
            std::vector<std::u16string> sofar = live();
            EXPECT_EQ(sofar.size(), expected.size() + (names.size() - 151));
        }
    }
    EXPECT_EQ(live(), expected);
    EXPECT_EQ(Find(parent, u"k1001")->Name(), u"k1001");
    // The next deletion after the whole list was read, and a deleted child's handle.
    RegKey* last = Find(parent, u"k1299");
    ASSERT_EQ(editor->DeleteTree(last), kErrorSuccess);
    expected.pop_back();
    EXPECT_EQ(live(), expected);
    EXPECT_EQ(editor->DeleteTree(last), kErrorKeyDeleted);

    ASSERT_TRUE(machine->Flush().ok);
    auto reloaded = Machine::Load(prefix.Dir(), {.lockPrefix = false});
    ASSERT_TRUE(reloaded.machine);
    RegKey* saved =
        reloaded.machine->Registry().Find(reloaded.machine->LocalMachine(), u"Software\\Many");
    ASSERT_TRUE(saved);
    std::vector<std::u16string> savedNames;
    for (RegKey* child : saved->SubKeys())
        savedNames.emplace_back(child->Name());
    EXPECT_EQ(savedNames, expected);
}

TEST_F(EditorTest, ScopedKeysCloseOnEveryPath) {
    KeyHandleTable& handles = machine->Handles();
    {
        ScopedKey key(*registry);
        ASSERT_EQ(registry->OpenKey(kHkeyCurrentUser, "Software\\Hivewise", kKeyRead, &key),
                  kErrorSuccess);
        EXPECT_TRUE(key);
        // Opening again into the same key closes what it held.
        ASSERT_EQ(registry->OpenKey(key, "", kKeyRead, &key), kErrorSuccess);
        EXPECT_EQ(handles.OpenCount(), 1u);
        // A failed open leaves it empty, and closed.
        EXPECT_EQ(registry->OpenKey(kHkeyCurrentUser, "Missing", kKeyRead, &key),
                  kErrorFileNotFound);
        EXPECT_FALSE(key);
        EXPECT_EQ(handles.OpenCount(), 0u);
        ASSERT_EQ(registry->CreateKey(kHkeyCurrentUser, "Software\\Made", &key), kErrorSuccess);
        ScopedKey moved = std::move(key);
        EXPECT_FALSE(key);
        EXPECT_TRUE(moved);
        EXPECT_EQ(handles.OpenCount(), 1u);
        ScopedKey other(*registry);
        ASSERT_EQ(registry->OpenKey(kHkeyLocalMachine, "Software", kKeyRead, &other),
                  kErrorSuccess);
        other = std::move(moved);
        EXPECT_EQ(handles.OpenCount(), 1u);
    }
    EXPECT_EQ(handles.OpenCount(), 0u);
    // The composite reads and the walks open and close their own keys, found or not.
    registry->KeyExists(kHkeyCurrentUser, "Software\\Hivewise");
    registry->ReadStringValue(kHkeyCurrentUser, "Software\\Hivewise", "missing");
    registry->WriteValue(kHkeyUsers, "Nowhere", "v", "x", kRegSz);
    registry->CountValues(kHkeyCurrentUser, "Software", true);
    EXPECT_EQ(handles.OpenCount(), 0u);
}

}  // namespace
}  // namespace hivewise
