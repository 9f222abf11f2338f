#include "platform/registry/reg_file.h"

#include <gtest/gtest.h>

#include "platform/machine/text.h"
#include "temp_prefix.h"

namespace hivewise {
namespace {

using testing::TempPrefix;

// A 5.00 file as the editor writes it: UTF-16LE with a byte-order mark.
std::string Utf16File(std::string_view utf8) {
    return "\xFF\xFE" + Utf16ToBytes(Utf8ToUtf16(utf8));
}

std::string Sz(std::u16string_view text) {
    std::u16string t(text);
    t.push_back(u'\0');
    return Utf16ToBytes(t);
}

// A key tree (values, sub-keys, link flags) copied out of the store.
struct TreeCopy {
    std::u16string name;
    bool isLink = false;
    std::vector<RegValue> values;
    std::vector<TreeCopy> subkeys;
};

TreeCopy Snapshot(const RegKey& key) {
    TreeCopy copy{std::u16string(key.Name()), key.IsLink(), key.Values(), {}};
    for (const RegKey* child : key.SubKeys())
        copy.subkeys.push_back(Snapshot(*child));
    return copy;
}

// Every difference between two key trees, as text (empty when they are equal).
void DiffTrees(const TreeCopy& a, const TreeCopy& b, const std::string& path, std::string* out) {
    if (a.name != b.name || a.isLink != b.isLink) *out += path + ": name or link flag\n";
    if (a.values.size() != b.values.size()) *out += path + ": value count\n";
    for (size_t i = 0; i < std::min(a.values.size(), b.values.size()); ++i) {
        const RegValue& x = a.values[i];
        const RegValue& y = b.values[i];
        if (x.name != y.name || x.type != y.type || x.data != y.data)
            *out += path + ": value " + Utf16ToUtf8(x.name) + "\n";
    }
    if (a.subkeys.size() != b.subkeys.size()) *out += path + ": sub-key count\n";
    for (size_t i = 0; i < std::min(a.subkeys.size(), b.subkeys.size()); ++i)
        DiffTrees(a.subkeys[i], b.subkeys[i], path + "\\" + Utf16ToUtf8(a.subkeys[i].name), out);
}

class RegFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        prefix.SystemReg(
            "\n[Software\\\\Old] 1700000000\n\"keep\"=\"1\"\n\"gone\"=\"2\"\n"
            "\n[System\\\\Setup] 1700000000\n"
            "\n[Software\\\\Old\\\\Sub] 1700000000\n\"x\"=dword:00000001\n"
            "\n[Software\\\\Target] 1700000000\n\"t\"=\"target\"\n"
            "\n[Software\\\\Linked] 1700000000\n#link\n"
            "\"SymbolicLinkValue\"=hex(6):5c,00,52,00,65,00,67,00,69,00,73,00,74,00,72,00,79,00,"
            "\\\n"
            "  5c,00,4d,00,61,00,63,00,68,00,69,00,6e,00,65,00,5c,00,53,00,6f,00,66,00,74,\\\n"
            "  00,77,00,61,00,72,00,65,00,5c,00,54,00,61,00,72,00,67,00,65,00,74,00\n");
        prefix.UserReg("\n[Software\\\\Mine] 1700000000\n\"u\"=\"1\"\n");
        machine = prefix.Load();
        ASSERT_TRUE(machine) << prefix.LastError();
    }

    RegKey* Key(RegKey* base, std::u16string_view path) {
        return machine->Registry().Find(base, path);
    }
    const RegValue* Value(std::u16string_view path, std::u16string_view name) {
        RegKey* key = Key(machine->LocalMachine(), path);
        return key ? key->FindValue(name) : nullptr;
    }
    RegImportResult Import(std::string_view text) {
        return ImportRegFile(*machine, Utf16File(text));
    }

    TempPrefix prefix;
    std::unique_ptr<Machine> machine;
};

TEST_F(RegFileTest, ImportsEveryValueTypeAndTheEscapes) {
    auto r = Import(
        "Windows Registry Editor Version 5.00\r\n\r\n"
        "[HKEY_LOCAL_MACHINE\\Software\\New\\Deep]\r\n"
        "@=\"default\"\r\n"
        "\"quo\\\"te\\\\x\"=\"a\\\"b\\\\c\"\r\n"
        "\"path\"=\"C:\\windows\"\r\n"
        "\"lines\"=\"1\\n2\\r\"\r\n"
        "\"Ünï\"=\"€ and ✓\"\r\n"
        "\"dw\"=dword:0000abcd ; a comment\r\n"
        "\"short\"=dword:7\r\n"
        "\"bin\"=hex:00,ff,10\r\n"
        "\"empty\"=hex:\r\n"
        "\"none\"=hex(0):01\r\n"
        "\"exp\"=hex(2):25,00,41,00,25,00,00,00\r\n"
        "\"multi\"=hex(7):61,00,00,00,00,00\r\n"
        "\"qw\"=hex(b):88,77,66,55,44,33,22,11\r\n"
        "\"odd\"=hex(ffff0009):0a,0b\r\n"
        "\"rawsz\"=hex(1):41,00\r\n");
    EXPECT_TRUE(r.headerValid);
    EXPECT_TRUE(r.allApplied);
    EXPECT_EQ(r.linesSkipped, 0);
    EXPECT_EQ(r.firstBadLine, 0);

    RegKey* key = Key(machine->LocalMachine(), u"Software\\New\\Deep");
    ASSERT_TRUE(key);
    struct Expect {
        std::u16string name;
        uint32_t type;
        std::string data;
    };
    const Expect expected[] = {
        {u"", kRegSz, Sz(u"default")},
        {u"quo\"te\\x", kRegSz, Sz(u"a\"b\\c")},
        {u"path", kRegSz, Sz(u"C:windows")},  // not an escape: the editor drops the backslash
        {u"lines", kRegSz, Sz(u"1\n2\r")},
        {u"Ünï", kRegSz, Sz(u"€ and ✓")},
        {u"dw", kRegDword, std::string("\xcd\xab\0\0", 4)},
        {u"short", kRegDword, std::string("\x07\0\0\0", 4)},
        {u"bin", kRegBinary, std::string("\x00\xff\x10", 3)},
        {u"empty", kRegBinary, ""},
        {u"none", kRegNone, "\x01"},
        {u"exp", kRegExpandSz, Sz(u"%A%")},
        {u"multi", kRegMultiSz, Sz(std::u16string(u"a\0", 2))},
        {u"qw", kRegQword, "\x88\x77\x66\x55\x44\x33\x22\x11"},
        {u"odd", 0xffff0009, "\x0a\x0b"},
        {u"rawsz", kRegSz, std::string("A\0", 2)},
    };
    ASSERT_EQ(key->Values().size(), std::size(expected));
    for (size_t i = 0; i < std::size(expected); ++i) {
        SCOPED_TRACE(Utf16ToUtf8(expected[i].name));
        EXPECT_EQ(key->Values()[i].name, expected[i].name);
        EXPECT_EQ(key->Values()[i].type, expected[i].type);
        EXPECT_EQ(key->Values()[i].data, expected[i].data);
    }
}

TEST_F(RegFileTest, ContinuationLinesJoinAndCutValuesAreSkipped) {
    auto r = Import(
        "Windows Registry Editor Version 5.00\n\n"
        "[HKEY_LOCAL_MACHINE\\Software\\Cont]\n"
        "\"joined\"=hex:01,02,\\\n"
        "   03,04,\\\n"
        "; a comment inside the data\n"
        "\n"
        "\t05\n"
        "\"after\"=dword:00000002\n"
        "\"cut\"=hex:01,\\\n"
        "[HKEY_LOCAL_MACHINE\\Software\\Cont2]\n"
        "\"there\"=\"yes\"\n"
        "\"tail\"=hex:01,\\\n");
    EXPECT_TRUE(r.headerValid);
    EXPECT_FALSE(r.allApplied);
    EXPECT_EQ(r.linesSkipped, 2);
    EXPECT_EQ(r.firstBadLine, 10);
    ASSERT_TRUE(Value(u"Software\\Cont", u"joined"));
    EXPECT_EQ(Value(u"Software\\Cont", u"joined")->data, "\x01\x02\x03\x04\x05");
    EXPECT_TRUE(Value(u"Software\\Cont", u"after"));
    EXPECT_FALSE(Value(u"Software\\Cont", u"cut"));
    // The key line that cut the value still opens its key.
    EXPECT_TRUE(Value(u"Software\\Cont2", u"there"));
    EXPECT_FALSE(Value(u"Software\\Cont2", u"tail"));
}

TEST_F(RegFileTest, MalformedLinesAreSkippedAndTheRestApplies) {
    auto r = Import(
        "Windows Registry Editor Version 5.00\r\n"
        "\r\n"
        "[HKEY_LOCAL_MACHINE\\Software\\Bad]\r\n"
        "this is no value\r\n"                         // 4
        "\"toolong\"=dword:123456789\r\n"              // 5
        "\"unclosed\"=\"text\r\n"                      // 6
        "\"badhex\"=hex:1g,02\r\n"                     // 7
        "\"nohexcomma\"=hex:01 02\r\n"                 // 8
        "\"type\"=hex(zz):01\r\n"                      // 9
        "\"noequals\" \"x\"\r\n"                       // 10
        "\"junk\"=\"x\" y\r\n"                         // 11
        "\"good\"=\"1\"\r\n"                           // 12
        "[HKEY_NOWHERE\\Software\\Bad]\r\n"            // 13
        "\"lost\"=\"1\"\r\n"                           // 14
        "[HKEY_LOCAL_MACHINE\\Software\\Open\r\n"      // 15
        "\"lost2\"=\"1\"\r\n"                          // 16
        "[HKEY_LOCAL_MACHINE\\Software\\\\Empty]\r\n"  // 17
        "[HKEY_LOCAL_MACHINE\\Software\\Bad]\r\n"
        "\"good2\"=dword:1\r\n");
    EXPECT_TRUE(r.headerValid);
    EXPECT_FALSE(r.allApplied);
    EXPECT_EQ(r.linesSkipped, 13);
    EXPECT_EQ(r.firstBadLine, 4);
    RegKey* key = Key(machine->LocalMachine(), u"Software\\Bad");
    ASSERT_TRUE(key);
    ASSERT_EQ(key->Values().size(), 2u);
    EXPECT_EQ(key->Values()[0].name, u"good");
    EXPECT_EQ(key->Values()[1].name, u"good2");
    // The unknown root's values went nowhere.
    EXPECT_FALSE(Key(machine->LocalMachine(), u"Software\\Open"));
    EXPECT_FALSE(Value(u"Software\\Bad", u"lost"));
}

TEST_F(RegFileTest, DeletesKeyTreesAndValuesButNeverARoot) {
    auto r = Import(
        "Windows Registry Editor Version 5.00\r\n\r\n"
        "[-HKEY_LOCAL_MACHINE\\Software\\Old\\Sub]\r\n"
        "[-HKEY_LOCAL_MACHINE\\Software\\NotThere]\r\n"
        "[HKEY_LOCAL_MACHINE\\Software\\Old]\r\n"
        "\"gone\"=-\r\n"
        "\"neverwas\"=-\r\n"
        "[HKEY_CURRENT_USER\\Software\\Mine]\r\n"
        "\"u\"=-\r\n");
    EXPECT_TRUE(r.allApplied);
    EXPECT_FALSE(Key(machine->LocalMachine(), u"Software\\Old\\Sub"));
    EXPECT_TRUE(Value(u"Software\\Old", u"keep"));
    EXPECT_FALSE(Value(u"Software\\Old", u"gone"));
    EXPECT_FALSE(Key(machine->CurrentUser(), u"Software\\Mine")->FindValue(u"u"));

    r = Import(
        "Windows Registry Editor Version 5.00\r\n\r\n"
        "[-HKEY_CLASSES_ROOT]\r\n"
        "[-HKEY_CURRENT_USER]\r\n"
        "[-HKEY_USERS\\S-1-5-21-0-0-0-1000]\r\n"
        "[HKEY_LOCAL_MACHINE]\r\n"
        "\"onroot\"=\"x\"\r\n"
        "[HKEY_USERS\\S-1-5-21-9]\r\n"
        "[-HKEY_LOCAL_MACHINE\\Software\\Old]\r\n");
    EXPECT_FALSE(r.allApplied);
    EXPECT_EQ(r.linesSkipped, 5);
    EXPECT_TRUE(machine->CurrentUser());
    EXPECT_TRUE(Key(machine->CurrentUser(), u"Software\\Mine"));
    EXPECT_TRUE(machine->LocalMachine()->Values().empty());
    EXPECT_FALSE(machine->Users()->FindSubKey(u"S-1-5-21-9"));
    EXPECT_FALSE(Key(machine->LocalMachine(), u"Software\\Old"));
}

TEST_F(RegFileTest, ReadsAnsiFilesAndEveryLineEnd) {
    for (std::string eol : {"\r\n", "\n", "\r"}) {
        SCOPED_TRACE(eol == "\r" ? "CR" : eol == "\n" ? "LF" : "CRLF");
        std::string text = "REGEDIT4" + eol + eol + "[HKEY_LOCAL_MACHINE\\Software\\Ansi]" + eol +
                           "\"caf\xe9\"=\"\x80 5\"" + eol + "\"exp\"=hex(2):25,41,25,e9,00" + eol +
                           "\"multi\"=hex(7):61,00,62,00,00" + eol + "\"raw\"=hex(1):e9,00" + eol +
                           "\"bin\"=hex:01,\\" + eol + "  02" + eol;
        auto r = ImportRegFile(*machine, text);
        EXPECT_TRUE(r.allApplied);
        const RegValue* v = Value(u"Software\\Ansi", u"café");
        ASSERT_TRUE(v);
        EXPECT_EQ(v->data, Sz(u"€ 5"));
        // The 9x editor's string types hold ANSI bytes; the registry keeps UTF-16.
        EXPECT_EQ(Value(u"Software\\Ansi", u"exp")->data, Sz(u"%A%é"));
        EXPECT_EQ(Value(u"Software\\Ansi", u"multi")->data, Sz(std::u16string(u"a\0b\0", 4)));
        EXPECT_EQ(Value(u"Software\\Ansi", u"raw")->data, Sz(u"é"));
        EXPECT_EQ(Value(u"Software\\Ansi", u"bin")->data, "\x01\x02");
        machine->Registry().DeleteKey(Key(machine->LocalMachine(), u"Software\\Ansi"));
    }
    // A 5.00 file may be 8-bit too, and then its string types hold ANSI as well.
    auto r = ImportRegFile(*machine,
                           "Windows Registry Editor Version 5.00\n[HKLM\\Software\\Eight]\n"
                           "\"n\xe9\"=\"\xe9\"\n\"e\"=hex(2):25,41,25,00\n");
    EXPECT_TRUE(r.allApplied);
    EXPECT_EQ(Value(u"Software\\Eight", u"né")->data, Sz(u"é"));
    EXPECT_EQ(Value(u"Software\\Eight", u"e")->data, Sz(u"%A%"));
}

TEST_F(RegFileTest, NeedsAHeaderOnTheFirstLine) {
    const char* bad[] = {
        "",
        "[HKEY_LOCAL_MACHINE\\Software\\X]\r\n\"v\"=\"1\"\r\n",
        "\r\nREGEDIT4\r\n[HKEY_LOCAL_MACHINE\\Software\\X]\r\n\"v\"=\"1\"\r\n",
        "REGEDIT 4\r\n[HKEY_LOCAL_MACHINE\\Software\\X]\r\n\"v\"=\"1\"\r\n",
        "Windows Registry Editor Version 5.0\r\n[HKEY_LOCAL_MACHINE\\Software\\X]\r\n",
    };
    auto before = Snapshot(*machine->Registry().Root());
    for (const char* text : bad) {
        SCOPED_TRACE(text);
        auto r = ImportRegFile(*machine, text);
        EXPECT_FALSE(r.headerValid);
        EXPECT_FALSE(r.allApplied);
        EXPECT_FALSE(Key(machine->LocalMachine(), u"Software\\X"));
    }
    EXPECT_FALSE(ImportRegFile(*machine, "\xFF\xFE").headerValid);
    std::string diff;
    DiffTrees(before, Snapshot(*machine->Registry().Root()), "", &diff);
    EXPECT_EQ(diff, "");
    auto r = ImportRegFile(*machine, "  REGEDIT4 \r\n");
    EXPECT_TRUE(r.headerValid);
    EXPECT_TRUE(r.allApplied);
}

TEST_F(RegFileTest, ShortRootNamesAndCurrentConfig) {
    auto r = Import(
        "Windows Registry Editor Version 5.00\r\n\r\n"
        "[HKCU\\Software\\A]\r\n\"v\"=\"cu\"\r\n"
        "[hkey_classes_root\\.zzz]\r\n@=\"zzzfile\"\r\n"
        "[HKU\\.Default\\Software\\B]\r\n\"v\"=\"def\"\r\n"
        "[HKEY_CURRENT_CONFIG\\Software\\C]\r\n\"v\"=\"cc\"\r\n"
        // HKEY_LOCAL_MACHINE takes no new top-level keys, as on Windows.
        "[HKEY_LOCAL_MACHINE\\Invented\\D]\r\n\"v\"=\"no\"\r\n");
    EXPECT_EQ(r.linesSkipped, 2);
    EXPECT_FALSE(Key(machine->LocalMachine(), u"Invented"));
    EXPECT_TRUE(Key(machine->CurrentUser(), u"Software\\A"));
    EXPECT_TRUE(Value(u"Software\\Classes\\.zzz", u""));
    EXPECT_TRUE(Key(machine->Users(), u".Default\\Software\\B"));
    EXPECT_TRUE(Value(u"System\\CurrentControlSet\\Hardware Profiles\\Current\\Software\\C", u"v"));
}

// A key path names its root by any spelling of it, allows one trailing backslash and no
// other empty part; the display keeps the rest as written, the look-up goes below the key
// the root stands for.
TEST_F(RegFileTest, KeyPathsParseWithOneTrailingBackslashAtMost) {
    struct Case {
        std::u16string_view path;
        bool ok;
        std::u16string_view display, lookup;
    };
    const Case cases[] = {
        {u"HKLM\\Software\\Old", true, u"HKEY_LOCAL_MACHINE\\Software\\Old", u"Software\\Old"},
        {u"hkey_local_machine\\Software\\Old\\", true, u"HKEY_LOCAL_MACHINE\\Software\\Old",
         u"Software\\Old"},
        {u"HKEY_CURRENT_USER", true, u"HKEY_CURRENT_USER", u""},
        {u"HKCU\\", true, u"HKEY_CURRENT_USER", u""},
        {u"HKCR\\.txt", true, u"HKEY_CLASSES_ROOT\\.txt", u"Software\\Classes\\.txt"},
        {u"HKCR", true, u"HKEY_CLASSES_ROOT", u"Software\\Classes"},
        {u"HKEY_CURRENT_CONFIG\\X", true, u"HKEY_CURRENT_CONFIG\\X",
         u"System\\CurrentControlSet\\Hardware Profiles\\Current\\X"},
        {u"HKLM\\Software\\\\Old", false, u"", u""},
        {u"HKLM\\\\Software", false, u"", u""},
        {u"HKLM\\Software\\\\", false, u"", u""},
        {u"HKCU\\\\", true, u"HKEY_CURRENT_USER", u""},  // the part after the root is empty
        {u"HKEY_NOWHERE\\Software", false, u"", u""},
        {u"\\Software", false, u"", u""},
        {u"HKLM\u00e9\\Software", false, u"", u""},
        {u"", false, u"", u""},
    };
    for (const Case& c : cases) {
        std::string name = Utf16ToUtf8(c.path);
        std::optional<RegPath> parsed = ParseRegPath(*machine, c.path);
        ASSERT_EQ(parsed.has_value(), c.ok) << name;
        if (!parsed) continue;
        EXPECT_EQ(parsed->display, c.display) << name;
        EXPECT_EQ(parsed->lookup, c.lookup) << name;
        bool user = c.display.substr(0, 17) == u"HKEY_CURRENT_USER";
        EXPECT_EQ(parsed->base, user ? machine->CurrentUser() : machine->LocalMachine()) << name;
    }
}

TEST_F(RegFileTest, ImportThroughALinkWritesTheTarget) {
    auto r = Import(
        "Windows Registry Editor Version 5.00\r\n\r\n"
        "[HKEY_LOCAL_MACHINE\\Software\\Linked]\r\n"
        "\"SymbolicLinkValue\"=hex(6):5c,00,52,00,65,00,67,00,69,00,73,00,74,00,72,00,79,00,"
        "5c,00,4d,00,61,00,63,00,68,00,69,00,6e,00,65,00,5c,00,53,00,6f,00,66,00,74,00,77,00,"
        "61,00,72,00,65,00,5c,00,54,00,61,00,72,00,67,00,65,00,74,00\r\n"
        "\"via\"=\"link\"\r\n");
    EXPECT_TRUE(r.allApplied);
    EXPECT_TRUE(Value(u"Software\\Target", u"via"));
    EXPECT_FALSE(Value(u"Software\\Target", u"SymbolicLinkValue"));
    RegKey* link = machine->Registry().Find(machine->LocalMachine(), u"Software\\Linked", false);
    EXPECT_TRUE(link->IsLink());
    EXPECT_EQ(link->Values().size(), 1u);
}

// The outline names every key an import could touch, also those a cut value or a
// deletion names, and any registry-link value wherever it stands.
TEST(RegFileOutlineTest, NamesEveryKeyTheImportReaches) {
    EXPECT_FALSE(OutlineRegFile("[HKEY_CURRENT_USER\\A]\r\n"));
    auto outline = OutlineRegFile(
        "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\A]\r\n\"v\"=hex:01,\\\r\n"
        "[HKLM\\Software\\B]\r\n  [-HKEY_USERS\\.Default\\C] ; gone\r\n"
        "\"a \\\"q\\\" =hex(6):\"=\"text\"\r\n@=hex(2):00,00\r\n");
    ASSERT_TRUE(outline);
    EXPECT_EQ(outline->keys,
              (std::vector<std::u16string>{u"HKEY_CURRENT_USER\\A", u"HKLM\\Software\\B",
                                           u"HKEY_USERS\\.Default\\C"}));
    EXPECT_FALSE(outline->setsLinks);
    for (const char* link :
         {"\"SymbolicLinkValue\"=hex(6):5c,00", "@ = HEX(00000006):00", "\"x\"=hex(6):\\"}) {
        auto linked = OutlineRegFile(std::string("REGEDIT4\n[HKEY_CURRENT_USER\\A]\n") + link);
        ASSERT_TRUE(linked) << link;
        EXPECT_TRUE(linked->setsLinks) << link;
    }
    auto win31 = OutlineRegFile("REGEDIT\nHKEY_CLASSES_ROOT\\.txt = txtfile\nother line\n");
    ASSERT_TRUE(win31);
    EXPECT_EQ(win31->keys, std::vector<std::u16string>{u"HKEY_CLASSES_ROOT\\.txt"});
}

TEST_F(RegFileTest, ExportsByteForByteAsTheEditorDoes) {
    RegKey* key = machine->Registry().Create(machine->LocalMachine(), u"Software\\Exp");
    auto& store = machine->Registry();
    std::string bin;
    for (int i = 0; i < 100; ++i)
        bin.push_back(static_cast<char>(i));
    store.SetValue(key, u"", kRegBinary, bin);
    store.SetValue(key, u"b", kRegBinary, bin.substr(0, 49));
    store.SetValue(key, u"d", kRegDword, std::string("\xcd\xab\x34\x12", 4));
    store.SetValue(key, u"q\"\\", kRegSz, Sz(u"a\"b\\c"));
    store.SetValue(key, u"e", kRegExpandSz, Sz(u"%P%"));
    store.SetValue(key, u"n", kRegNone, "");
    store.SetValue(key, u"nl", kRegSz, Sz(u"a\nb"));
    store.SetValue(key, u"d3", kRegDword, "\x01\x02\x03");
    store.Create(key, u"Child");

    const std::string expected =
        "Windows Registry Editor Version 5.00\r\n"
        "\r\n"
        "[HKEY_LOCAL_MACHINE\\Software\\Exp]\r\n"
        "@=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,17,\\\r\n"
        "  18,19,1a,1b,1c,1d,1e,1f,20,21,22,23,24,25,26,27,28,29,2a,2b,2c,2d,2e,2f,30,\\\r\n"
        "  31,32,33,34,35,36,37,38,39,3a,3b,3c,3d,3e,3f,40,41,42,43,44,45,46,47,48,49,\\\r\n"
        "  4a,4b,4c,4d,4e,4f,50,51,52,53,54,55,56,57,58,59,5a,5b,5c,5d,5e,5f,60,61,62,\\\r\n"
        "  63\r\n"
        "\"b\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,\\\r\n"
        "  17,18,19,1a,1b,1c,1d,1e,1f,20,21,22,23,24,25,26,27,28,29,2a,2b,2c,2d,2e,2f,\\\r\n"
        "  30\r\n"
        "\"d\"=dword:1234abcd\r\n"
        "\"q\\\"\\\\\"=\"a\\\"b\\\\c\"\r\n"
        "\"e\"=hex(2):25,00,50,00,25,00,00,00\r\n"
        "\"n\"=hex(0):\r\n"
        "\"nl\"=hex(1):61,00,0a,00,62,00,00,00\r\n"
        "\"d3\"=hex(4):01,02,03\r\n"
        "\r\n"
        "[HKEY_LOCAL_MACHINE\\Software\\Exp\\Child]\r\n"
        "\r\n";
    auto bytes = ExportRegFile(*machine, "HKLM\\Software\\Exp\\", RegFileFormat::Unicode5);
    ASSERT_TRUE(bytes);
    EXPECT_EQ(*bytes, Utf16File(expected));

    std::string ansi = expected;
    ansi.replace(0, 36, "REGEDIT4");
    ansi.replace(ansi.find("25,00,50,00,25,00,00,00"), 23, "25,50,25,00");
    ansi.replace(ansi.find("61,00,0a,00,62,00,00,00"), 23, "61,0a,62,00");
    bytes = ExportRegFile(*machine, "HKEY_LOCAL_MACHINE\\Software\\Exp", RegFileFormat::Regedit4);
    ASSERT_TRUE(bytes);
    EXPECT_EQ(*bytes, ansi);

    EXPECT_FALSE(
        ExportRegFile(*machine, "HKEY_LOCAL_MACHINE\\Software\\Nope", RegFileFormat::Unicode5));
    EXPECT_FALSE(ExportRegFile(*machine, "HKEY_NOWHERE\\Software", RegFileFormat::Unicode5));
}

// Exports a key, deletes it, imports the file and expects the very same tree back.
void ExpectRoundTrip(Machine& machine, const std::string& keyPath, std::u16string_view below,
                     RegFileFormat format) {
    RegKey* key = machine.Registry().Find(machine.LocalMachine(), below);
    ASSERT_TRUE(key);
    auto before = Snapshot(*key);
    auto bytes = ExportRegFile(machine, keyPath, format);
    ASSERT_TRUE(bytes);
    if (key->Parent() == machine.LocalMachine()) {
        // HKLM's own keys are never made anew, as on Windows: only what they hold goes.
        std::vector<RegKey*> children = key->SubKeys();
        for (RegKey* child : children)
            machine.Registry().DeleteKey(child);
        std::vector<std::u16string> names;
        for (const RegValue& value : key->Values())
            names.push_back(value.name);
        for (const std::u16string& name : names)
            machine.Registry().DeleteValue(key, name);
        ASSERT_EQ(key->SubKeyCount(), 0u);
    } else {
        machine.Registry().DeleteKey(key);
        ASSERT_FALSE(machine.Registry().Find(machine.LocalMachine(), below));
    }
    auto r = ImportRegFile(machine, *bytes);
    EXPECT_TRUE(r.allApplied) << "first bad line " << r.firstBadLine;
    RegKey* after = machine.Registry().Find(machine.LocalMachine(), below);
    ASSERT_TRUE(after);
    std::string diff;
    DiffTrees(before, Snapshot(*after), keyPath, &diff);
    EXPECT_EQ(diff, "");
}

TEST_F(RegFileTest, EveryValueTypeRoundTripsInBothFormats) {
    for (RegFileFormat format : {RegFileFormat::Unicode5, RegFileFormat::Regedit4}) {
        SCOPED_TRACE(format == RegFileFormat::Unicode5 ? "5.00" : "REGEDIT4");
        auto& store = machine->Registry();
        if (RegKey* old = Key(machine->LocalMachine(), u"Software\\All Types"))
            store.DeleteKey(old);
        RegKey* key = store.Create(machine->LocalMachine(), u"Software\\All Types");
        std::string bin(300, '\0');
        for (size_t i = 0; i < bin.size(); ++i)
            bin[i] = static_cast<char>(i * 7);
        store.SetValue(key, u"", kRegSz, Sz(u"default"));
        store.SetValue(key, u"sz", kRegSz, Sz(u"C:\\x \"q\" é"));
        store.SetValue(key, u"emptysz", kRegSz, "");
        store.SetValue(key, u"unterminated", kRegSz, Utf16ToBytes(u"abc"));
        if (format == RegFileFormat::Unicode5) {
            // The 9x format holds strings as ANSI and cannot keep these.
            store.SetValue(key, u"wide", kRegSz, Sz(u"✓ Ω"));
            store.SetValue(key, u"oddsz", kRegSz, "abc");
        }
        store.SetValue(key, u"inner nul", kRegSz, Sz(std::u16string(u"a\0b", 3)));
        store.SetValue(key, u"crlf", kRegSz, Sz(u"a\r\nb"));
        store.SetValue(key, u"exp", kRegExpandSz, Sz(u"%SystemRoot%\\x"));
        store.SetValue(key, u"bin", kRegBinary, bin);
        store.SetValue(key, u"emptybin", kRegBinary, "");
        store.SetValue(key, u"dw", kRegDword, std::string("\0\0\0\x80", 4));
        store.SetValue(key, u"dw8", kRegDword, "12345678");
        store.SetValue(key, u"multi", kRegMultiSz, Sz(std::u16string(u"a\0bc\0", 5)));
        store.SetValue(key, u"qw", kRegQword, "\x01\x02\x03\x04\x05\x06\x07\x08");
        store.SetValue(key, u"none", kRegNone, "\x01");
        store.SetValue(key, u"odd type", 0xffff0009, "\x05\x00");
        store.SetValue(key, u"name \\ \"quoted\"", kRegBinary, "x");
        store.SetValue(key, u"line\nname", kRegDword, "abcd");
        store.Create(key, u"Sub\\Deeper");
        ExpectRoundTrip(*machine, "HKEY_LOCAL_MACHINE\\Software\\All Types", u"Software\\All Types",
                        format);
    }
}

TEST_F(RegFileTest, Regedit4KeepsOnlyWhatTheAnsiCodePageHolds) {
    RegKey* key = machine->Registry().Create(machine->LocalMachine(), u"Software\\Wide");
    machine->Registry().SetValue(key, u"w✓", kRegSz, Sz(u"é ✓"));
    machine->Registry().SetValue(key, u"m", kRegMultiSz, Sz(std::u16string(u"Ω\0", 2)));
    auto bytes =
        ExportRegFile(*machine, "HKEY_LOCAL_MACHINE\\Software\\Wide", RegFileFormat::Regedit4);
    ASSERT_TRUE(bytes);
    EXPECT_NE(bytes->find("\"w?\"=\"\xe9 ?\"\r\n\"m\"=hex(7):3f,00,00\r\n"), std::string::npos);
}

TEST_F(RegFileTest, WritesAndReadsFilesOfTheMachine) {
    ASSERT_TRUE(ExportRegFileTo(*machine, "HKEY_LOCAL_MACHINE\\Software\\Old",
                                "C:\\windows\\temp.reg", RegFileFormat::Unicode5));
    EXPECT_EQ(prefix.Read("drive_c/windows/temp.reg").substr(0, 4), std::string("\xFF\xFEW\0", 4));
    EXPECT_FALSE(ExportRegFileTo(*machine, "HKEY_LOCAL_MACHINE\\Software\\Nope",
                                 "C:\\windows\\none.reg", RegFileFormat::Unicode5));
    EXPECT_FALSE(std::filesystem::exists(prefix.Dir() / "drive_c/windows/none.reg"));
    EXPECT_FALSE(ExportRegFileTo(*machine, "HKEY_LOCAL_MACHINE\\Software\\Old",
                                 "C:\\no\\such\\folder\\x.reg", RegFileFormat::Unicode5));

    machine->Registry().DeleteKey(Key(machine->LocalMachine(), u"Software\\Old"));
    auto r = ImportRegFileFrom(*machine, "c:\\WINDOWS\\TEMP.REG");
    EXPECT_TRUE(r.allApplied);
    EXPECT_TRUE(Value(u"Software\\Old\\Sub", u"x"));
    EXPECT_FALSE(ImportRegFileFrom(*machine, "C:\\windows\\missing.reg").headerValid);
    EXPECT_EQ(RegFileFormatFor(*machine), RegFileFormat::Unicode5);
}

// A caller importing many files reads the machine's derived facts again once, at its end.
TEST_F(RegFileTest, FactsAreReadAgainAfterAChangeOrWhenTheCallerSays) {
    auto environment = [](std::string_view name, std::string_view value) {
        return Utf16File(
            "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\System\\"
            "CurrentControlSet\\Control\\Session Manager\\Environment]\r\n\"" +
            std::string(name) + "\"=\"" + std::string(value) + "\"\r\n");
    };
    RegImportResult now = ImportRegFile(*machine, environment("HWNOW", "1"));
    EXPECT_TRUE(now.changed);
    EXPECT_EQ(machine->GetEnv("HWNOW"), "1");

    RegImportResult later = ImportRegFile(*machine, environment("HWLATER", "2"), false);
    EXPECT_TRUE(later.allApplied);
    EXPECT_TRUE(later.changed);
    EXPECT_FALSE(machine->GetEnv("HWLATER"));
    machine->RefreshDerivedFacts();
    EXPECT_EQ(machine->GetEnv("HWLATER"), "2");

    EXPECT_FALSE(
        ImportRegFile(*machine, Utf16File("Windows Registry Editor Version 5.00\r\n")).changed);
}

TEST(RegFileCorpusTest, ClassesOfARealPrefixRoundTrip) {
    std::filesystem::path data = testing::TestDataDir();
    if (data.empty()) GTEST_SKIP() << "the shared test data is not beside the project";
    TempPrefix prefix;
    for (const char* name : {"system.reg", "user.reg", "userdef.reg"})
        std::filesystem::copy_file(data / "wine-prefix" / name, prefix.Dir() / name);
    auto machine = prefix.Load();
    ASSERT_TRUE(machine) << prefix.LastError();
    for (RegFileFormat format : {RegFileFormat::Unicode5, RegFileFormat::Regedit4}) {
        SCOPED_TRACE(format == RegFileFormat::Unicode5 ? "5.00" : "REGEDIT4");
        ExpectRoundTrip(*machine, "HKEY_LOCAL_MACHINE\\Software\\Classes", u"Software\\Classes",
                        format);
    }
    // The values of unusual types elsewhere in the file come back as well.
    ExpectRoundTrip(*machine, "HKEY_LOCAL_MACHINE\\System", u"System", RegFileFormat::Unicode5);
}

}  // namespace
}  // namespace hivewise
