// What the registry editor of Windows does with older, commented and oddly laid out
// files, case by case; our import must read each the same way.
#include <gtest/gtest.h>

#include <cstdio>

#include "platform/machine/text.h"
#include "platform/registry/reg_file.h"
#include "temp_prefix.h"

namespace hivewise {
namespace {

using testing::TempPrefix;

class RegFileEditorRulesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        prefix.SystemReg("\n[Software\\\\Classes] 1700000000\n");
        prefix.UserReg("\n[Software] 1700000000\n");
        machine = prefix.Load();
        ASSERT_TRUE(machine) << prefix.LastError();
    }
    // The value as the A functions read it back: string types as ANSI text.
    std::optional<std::string> Get(std::u16string_view path, std::u16string_view name) {
        RegKey* key = machine->Registry().Find(machine->LocalMachine(), path);
        if (!key) key = machine->Registry().Find(machine->CurrentUser(), path);
        const RegValue* value = key ? key->FindValue(name) : nullptr;
        if (!value) return std::nullopt;
        if (value->type == kRegDword) return "dword:" + std::to_string(value->data.size());
        std::string text = Utf16ToAnsi(BytesToUtf16(value->data));
        // REG_SZ as text without its terminator; other types byte for byte.
        if (value->type == kRegSz && !text.empty() && text.back() == '\0') text.pop_back();
        return text;
    }
    std::optional<std::string> Default31() { return Get(u"Software\\Classes\\T31", u""); }
    std::optional<std::string> Test(std::u16string_view name) {
        return Get(u"Software\\RegTest", name);
    }
    RegImportResult Regedit4(const std::string& body) {
        return ImportRegFile(*machine,
                             "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\RegTest]\n" + body);
    }

    TempPrefix prefix;
    std::unique_ptr<Machine> machine;
};

TEST_F(RegFileEditorRulesTest, Windows31FilesSetDefaultValuesOfClasses) {
    const std::pair<const char*, std::string> cases[] = {
        {"HKEY_CLASSES_ROOT\\T31 = Value0\r\n", std::string("Value0")},
        {"HKEY_CLASSES_ROOT\\T31 =Value1\r\n", "Value1"},
        {"HKEY_CLASSES_ROOT\\T31 =  Value2\r\n", " Value2"},  // one blank after '=' only
        {"HKEY_CLASSES_ROOT\\T31 = Value3 \r\n", "Value3 "},
        {"HKEY_CLASSES_ROOT\\T31 Value4\r\n", "Value4"},  // no '=': the blanks separate
        {"HKEY_CLASSES_ROOT\\T31  Value5\r\n", "Value5"},
        {"HKEY_CLASSES_ROOT\\T31\r\n", ""},  // a key alone: an empty default value
        {"HKEY_CLASSES_ROOT\\T31  \r\n", ""},
        {"HKEY_CLASSES_ROOT\\T31 = No newline", "No newline"},
    };
    for (const auto& [line, expected] : cases) {
        SCOPED_TRACE(line);
        RegImportResult r = ImportRegFile(*machine, std::string("REGEDIT\r\n") + line);
        EXPECT_TRUE(r.headerValid);
        EXPECT_TRUE(r.allApplied);
        EXPECT_EQ(Default31(), expected);
    }
    // Only the classes can be named; other lines are skipped, the rest applies.
    RegImportResult r = ImportRegFile(*machine,
                                      "REGEDIT\n"
                                      "HKEY_LOCAL_MACHINE\\Software\\X = no\n"
                                      "\n"
                                      "hkey_classes_root\\.hw31\\shell\\open\\command=hw.exe %1\n");
    EXPECT_FALSE(r.allApplied);
    EXPECT_EQ(r.linesSkipped, 1);
    EXPECT_EQ(r.firstBadLine, 2);
    EXPECT_EQ(Get(u"Software\\Classes\\.hw31\\shell\\open\\command", u""), "hw.exe %1");
    EXPECT_FALSE(machine->Registry().Find(machine->LocalMachine(), u"Software\\X"));
    // Not the older editor's header, nor any other.
    for (const char* header : {"REGEDIT3", "regedit", "REGEDIT 3"}) {
        EXPECT_FALSE(ImportRegFile(*machine, std::string(header) + "\nHKEY_CLASSES_ROOT\\T31 = x\n")
                         .headerValid);
    }
}

TEST_F(RegFileEditorRulesTest, CommentsAsTheEditorReadsThem) {
    Regedit4(
        "#comment\\\n"  // a comment does not continue on the next line
        "\"Wine1\"=\"Line 1\"\n"
        ";comment\\\n"
        "\"Wine2\"=\"Line 2\"\n"
        "\"Wine3\"=\"Value 1\"#comment\n"  // only ';' starts a comment after data
        "\"Wine4\"=\"Value 2\";comment\n"
        "\"Wine5\"=dword:01020304 #comment\n"
        "\"Wine6\"=dword:02040608 ;comment\n"
        "    #\"Comment3\"=\"Value 3\"\n"
        "\"Wine15\"=\"#comment1\"\n"
        "\"Wine21\"=#dword:00000001\n"
        "\"Wine25a\"=dword:1234;5678\n"
        "\"Wine25c\"=dword:1234#5678\n");
    EXPECT_EQ(Test(u"Wine1"), "Line 1");
    EXPECT_EQ(Test(u"Wine2"), "Line 2");
    EXPECT_FALSE(Test(u"Wine3"));
    EXPECT_EQ(Test(u"Wine4"), "Value 2");
    EXPECT_FALSE(Test(u"Wine5"));
    EXPECT_TRUE(Test(u"Wine6"));
    EXPECT_FALSE(Test(u"Comment3"));
    EXPECT_EQ(Test(u"Wine15"), "#comment1");
    EXPECT_FALSE(Test(u"Wine21"));
    EXPECT_TRUE(Test(u"Wine25a"));
    EXPECT_FALSE(Test(u"Wine25c"));
}

TEST_F(RegFileEditorRulesTest, CommentsAndBlankLinesInsideHexData) {
    const std::string whole("Line concatenation\0\0", 20);
    Regedit4(
        // A '#' line inside the data drops the value; the data after it is stray.
        "\"Wine7\"=hex(7):4c,69,6e,65,20,\\\n"
        "  #comment\n"
        "  63,6f,6e,63,61,74,65,6e,61,74,69,6f,6e,00,00\n"
        "\"Wine8\"=\"A valid line\"\n"
        // A ';' line is passed over.
        "\"Wine9\"=hex(7):4c,69,6e,65,20,\\\n"
        "  ;comment\n"
        "  63,6f,6e,63,61,74,65,6e,61,74,69,6f,6e,00,00\n"
        // A ';' comment may follow the continuing backslash ...
        "\"Multi1\"=hex(7):4c,69,6e,65,20,\\\n"
        "  63,6f,6e,\\;comment\n"
        "  63,61,74,\\;#comment\n"
        "  65,6e,61,74,69,6f,6e,00,00\n"
        // ... a comment without it ends the data there ...
        "\"Multi2\"=hex(7):4c,69,6e,65,20,\\\n"
        "  63,6f,6e,\\;comment\n"
        "  63,61,74,;comment\n"
        "  65,6e,61,74,69,6f,6e,00,00\n"
        // ... a '#' after it drops the value.
        "\"Multi5\"=hex(7):4c,69,6e,\\;comment\n"
        "  63,61,74,\\#comment\n"
        "  65,6e,61,74,69,6f,6e,00,00\n"
        // Blank lines inside the data are passed over.
        "\"Multi6\"=hex(7):4c,69,6e,65,20,\\\n"
        "  63,6f,6e,63,61,74,\\\n"
        "\n"
        "  65,6e,\\;comment\n"
        "\n"
        "  61,74,69,6f,6e,00,00\n"
        "\n");
    EXPECT_FALSE(Test(u"Wine7"));
    EXPECT_EQ(Test(u"Wine8"), "A valid line");
    EXPECT_EQ(Test(u"Wine9"), whole);
    EXPECT_EQ(Test(u"Multi1"), whole);
    EXPECT_EQ(Test(u"Multi2"), "Line concat");
    EXPECT_FALSE(Test(u"Multi5"));
    EXPECT_EQ(Test(u"Multi6"), whole);
}

TEST_F(RegFileEditorRulesTest, ALineThatIsNoDataEndsTheValueWithIt) {
    RegImportResult r = Regedit4(
        "\"Wine9a\"=hex(2):4c,69,6e,65,00\n"
        "\"Wine9c\"=hex(2):4c,69,6e,65\\\n"  // no comma before the backslash: dropped
        "\"Wine9d\"=\"Value 2\"\n"
        "\"Wine9e\"=hex(2):4c,69,6e,65,\\\n"  // the next value is taken as its data
        "\"Wine9f\"=\"Value 3\"\n"
        "\"Wine9g\"=\"Value 4\"\n"
        "\"Multi\"=hex(7):4c,69,6e,65,20\\\n"
        ",63,6f,6e,00,00\n");
    EXPECT_EQ(Test(u"Wine9a"), std::string("Line\0", 5));
    EXPECT_FALSE(Test(u"Wine9c"));
    EXPECT_EQ(Test(u"Wine9d"), "Value 2");
    EXPECT_FALSE(Test(u"Wine9e"));
    EXPECT_FALSE(Test(u"Wine9f"));
    EXPECT_EQ(Test(u"Wine9g"), "Value 4");
    EXPECT_FALSE(Test(u"Multi"));
    EXPECT_FALSE(r.allApplied);
}

// The hex(6) bytes of a link value naming `path`.
std::string LinkHex(std::u16string_view path) {
    std::string out;
    char buf[8];
    for (char16_t c : path) {
        std::snprintf(buf, sizeof buf, "%02x,%02x,", c & 0xFF, c >> 8);
        out += buf;
    }
    out.pop_back();
    return out;
}

// A link that leads back to itself, at once or through another, is not made: following
// it would never end.
TEST_F(RegFileEditorRulesTest, LinksThatComeBackOnThemselvesAreNotMade) {
    const std::u16string user = u"\\Registry\\User\\S-1-5-21-0-0-0-1000\\Software\\";
    RegImportResult r = ImportRegFile(
        *machine, "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Self]\n\"SymbolicLinkValue\"=hex(6):" +
                      LinkHex(user + u"Self") +
                      "\n\n[HKEY_CURRENT_USER\\Software\\A]\n\"SymbolicLinkValue\"=hex(6):" +
                      LinkHex(user + u"B") +
                      "\n\n[HKEY_CURRENT_USER\\Software\\B]\n\"SymbolicLinkValue\"=hex(6):" +
                      LinkHex(user + u"A\\Deeper") +
                      "\n\n[HKEY_CURRENT_USER\\Software\\Fine]\n\"SymbolicLinkValue\"=hex(6):" +
                      LinkHex(user + u"A") + "\n");
    EXPECT_EQ(r.linesSkipped, 2);
    RegKey* cu = machine->CurrentUser();
    RegKey* self = machine->Registry().Find(cu, u"Software\\Self", false);
    ASSERT_TRUE(self);
    EXPECT_FALSE(self->IsLink());
    EXPECT_FALSE(self->FindValue(u"SymbolicLinkValue"));
    // A leads to B, which stays a plain key; a link to A is fine.
    RegKey* a = machine->Registry().Find(cu, u"Software\\A", false);
    ASSERT_TRUE(a);
    EXPECT_TRUE(a->IsLink());
    EXPECT_FALSE(machine->Registry().Find(cu, u"Software\\B", false)->IsLink());
    EXPECT_TRUE(machine->Registry().Find(cu, u"Software\\Fine", false)->IsLink());
    // Importing into a link that loops (made elsewhere) is refused, not followed.
    machine->Registry().SetLink(self, true);
    machine->Registry().SetValue(self, u"SymbolicLinkValue", kRegLink,
                                 Utf16ToBytes(user + u"Self"));
    r = ImportRegFile(*machine, "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Self]\n\"v\"=\"1\"\n");
    EXPECT_EQ(r.linesSkipped, 2);
}

}  // namespace
}  // namespace hivewise
