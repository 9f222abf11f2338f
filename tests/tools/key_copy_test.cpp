#include "tools/key_copy.h"

#include "tools/tools_fixture.h"

namespace hivewise {
namespace {

using testing::ToolsTest;

class CopyKeyTreeTest : public ToolsTest {
  protected:
    long Copy(std::string_view from, std::string_view to) {
        RegHandle source = 0;
        EXPECT_EQ(registry->OpenKey(kHkeyLocalMachine, from, kKeyRead, &source), kErrorSuccess);
        long result = CopyKeyTree(*registry, source, kHkeyCurrentUser, to);
        registry->CloseKey(source);
        return result;
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
    RegKey* key = Lm(u"Software\\Deep");
    for (int i = 0; i < 10000; ++i)
        key = machine->Registry().CreateChild(key, u"k");
    EXPECT_EQ(Copy("Software\\Deep", "Software\\Hivewise\\Deep"), kErrorKeyTreeTooDeep);

    // A tree of exactly the deepest allowed depth is copied whole.
    key = Lm(u"Software\\Shallow");
    for (int i = 0; i < kMaxCopyDepth; ++i)
        key = machine->Registry().CreateChild(key, u"k");
    SetText(key, u"Bottom", u"here");
    EXPECT_EQ(Copy("Software\\Shallow", "Software\\Hivewise\\Shallow"), kErrorSuccess);

    RegHandle source = 0;
    ASSERT_EQ(registry->OpenKey(kHkeyCurrentUser, "Software\\Hivewise", kKeyRead, &source),
              kErrorSuccess);
    EXPECT_EQ(CopyKeyTree(*registry, source, kHkeyCurrentUser, "Software\\Hivewise\\Again"),
              kErrorInvalidParameter);
    registry->CloseKey(source);
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

}  // namespace
}  // namespace hivewise
