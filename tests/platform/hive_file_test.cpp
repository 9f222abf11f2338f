#include "platform/registry/hive_file.h"

#include <sys/mman.h>
#include <sys/resource.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "platform/files/atomic_file.h"
#include "platform/machine/text.h"
#include "platform/registry/hive_values.h"
#include "platform/registry/mapped_memory.h"
#include "temp_prefix.h"

namespace hivewise {
namespace {

using testing::TempPrefix;
using testing::TestDataDir;

std::string ReadFile(const std::filesystem::path& path) {
    std::string content;
    ReadWholeFile(path, &content, nullptr);
    return content;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

TEST(HiveFileCorpus, WritesWineFilesBackByteForByte) {
    if (TestDataDir().empty()) GTEST_SKIP() << "test data not found";
    for (const char* name : {"system.reg", "user.reg", "userdef.reg"}) {
        std::string original = ReadFile(TestDataDir() / "wine-prefix" / name);
        HiveParseError error;
        auto hive = ParseHive(original, &error);
        ASSERT_TRUE(hive) << name << " line " << error.line << ": " << error.message;
        EXPECT_EQ(WriteHive(*hive->base, hive->header, hive->trailer), original) << name;
        // Every section written anew from the tree must come out as the server wrote it.
        EXPECT_EQ(WriteHive(*hive->base, hive->header, hive->trailer, false), original) << name;
    }
}

TEST(HiveFileCorpus, ReadsEveryValueForm) {
    if (TestDataDir().empty()) GTEST_SKIP() << "test data not found";
    std::string original = ReadFile(TestDataDir() / "wine-prefix" / "system.reg");
    auto hive = ParseHive(original, nullptr);
    ASSERT_TRUE(hive);
    EXPECT_EQ(hive->relativeTo, u"REGISTRY\\Machine");
    RegistryStore store;
    RegKey* link = store.Find(hive->base, u"Software\\Classes\\Wow6432Node\\AppId", false);
    ASSERT_TRUE(link);
    EXPECT_TRUE(link->IsLink());
    const RegValue* target = link->FindValue(u"symboliclinkvalue");
    ASSERT_TRUE(target);
    EXPECT_EQ(target->type, kRegLink);
    EXPECT_EQ(BytesToUtf16(target->data), u"\\Registry\\Machine\\Software\\Classes\\AppId");
}

TEST(HiveFile, DecodesEscapesAndTypes) {
    std::string text = TempPrefix::Header("REGISTRY\\\\Machine", "win32") +
                       "\n[A\\\\B\\[x\\]] 1700000000\n"
                       "#time=1da1b2c3d4e5f60\n"
                       "#class=\"cls\"\n"
                       "\"q\\\"uote\"=\"back\\\\slash \\x00e9t\\x4e2d\\n\\0\"\n"
                       "@=str(2):\"%SystemRoot%\\\\x\"\n"
                       "\"d\"=dword:0000002a\n"
                       "\"h\"=hex:01,02,\\\n  ff\n"
                       "\"m\"=hex(7):61,00,00,00,00,00\n"
                       "\"e\"=\"\"\n";
    HiveParseError error;
    auto hive = ParseHive(text, &error);
    ASSERT_TRUE(hive) << error.line << ": " << error.message;
    RegistryStore store;
    RegKey* key = store.Find(hive->base, u"A\\B[x]");
    ASSERT_TRUE(key);
    EXPECT_EQ(key->ClassName().value_or(u""), u"cls");
    EXPECT_EQ(key->Modified(), 0x1da1b2c3d4e5f60ULL);
    ASSERT_EQ(key->Values().size(), 6u);
    EXPECT_EQ(key->Values()[0].name, u"q\"uote");
    EXPECT_EQ(BytesToUtf16(key->Values()[0].data),
              std::u16string(u"back\\slash \u00e9t\u4e2d\n") + char16_t(0) + char16_t(0));
    EXPECT_EQ(key->Values()[1].name, u"");
    EXPECT_EQ(key->Values()[1].type, kRegExpandSz);
    EXPECT_EQ(key->Values()[2].data, std::string("\x2a\0\0\0", 4));
    EXPECT_EQ(key->Values()[3].data, "\x01\x02\xff");
    EXPECT_EQ(key->Values()[4].type, kRegMultiSz);
    EXPECT_EQ(key->Values()[5].data, std::string("\0\0", 2));
    // Written again it reads back the same, value for value.
    std::string again = WriteHive(*hive->base, hive->header, hive->trailer, false);
    auto reread = ParseHive(again, &error);
    ASSERT_TRUE(reread) << again;
    RegKey* key2 = store.Find(reread->base, u"A\\B[x]");
    ASSERT_TRUE(key2);
    ASSERT_EQ(key2->Values().size(), key->Values().size());
    for (size_t i = 0; i < key->Values().size(); ++i) {
        EXPECT_EQ(key2->Values()[i].name, key->Values()[i].name);
        EXPECT_EQ(key2->Values()[i].type, key->Values()[i].type);
        EXPECT_EQ(key2->Values()[i].data, key->Values()[i].data);
    }
}

// Keys come in blocks that grow, and a large file reserves one block ahead: a file of
// more keys than either holds must load every key and write back unchanged.
TEST(HiveFile, AFileOfManyKeysLoadsAcrossKeyBlocks) {
    std::string text = "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n";
    char name[16];
    for (int i = 0; i < 40000; ++i) {
        std::snprintf(name, sizeof name, "K%05d", i);  // in the order the keys sort
        text += "\n[Software\\\\" + std::string(name) +
                "] 1700000000\n#time=1da1747c66d0000\n\"v\"=dword:00000001\n";
    }
    ASSERT_GT(text.size(), size_t{256} << 10);
    auto hive = ParseHive(text, nullptr);
    ASSERT_TRUE(hive);
    RegKey* software = hive->store.Find(hive->base, u"Software");
    ASSERT_TRUE(software);
    EXPECT_EQ(software->SubKeyCount(), 40000u);
    const RegKey* last = hive->store.Find(hive->base, u"Software\\K39999");
    ASSERT_TRUE(last);
    ASSERT_TRUE(last->FindValue(u"v"));
    // Compared whole: a diff of two files of 40 000 keys would not fit in memory.
    EXPECT_TRUE(WriteHive(*hive->base, hive->header, hive->trailer) == text);
    // Written anew, the text is held in pieces of its own that join to the same file.
    HiveText anew = WriteHiveText(*hive->base, hive->header, hive->trailer, false);
    EXPECT_GT(anew.Pieces().size(), 1u);
    EXPECT_TRUE(anew.Join() == text);
}

// Checking a string only (as loading checks every value) must end it where decoding it
// does: escaped quotes and backslashes, escapes cut by the end, bytes above ASCII.
TEST(HiveFileValues, CheckingAStringEndsItWhereDecodingDoes) {
    const char alphabet[] = {'"', '\\', ']', 'a', 'x', '0', '7', '\xc3', '\xa9', 'n'};
    uint32_t state = 12345;
    auto next = [&state] {
        state = state * 1664525u + 1013904223u;
        return state >> 16;
    };
    for (int round = 0; round < 20000; ++round) {
        std::string in(next() % 12, 'a');
        for (char& c : in)
            c = alphabet[next() % sizeof alphabet];
        for (char stop : {'"', ']'}) {
            std::u16string decoded;
            EXPECT_EQ(ParseString(in, stop, nullptr), ParseString(in, stop, &decoded))
                << "input: " << in << " stop: " << stop;
        }
    }
}

// Names are kept back to back in blocks that grow: every name, short or longer than a
// block, read from a file or given later, stays exactly as it was while others are added.
TEST(HiveFile, KeyNamesSurviveEveryNameAddedAfterThem) {
    RegistryStore store;
    RegKey* base = store.NewDetachedKey();
    std::vector<std::pair<RegKey*, std::u16string>> made;
    for (size_t length : {1, 7, 8, 255, 1023, 1024, 1025, 5000, 3, 70000, 2}) {
        for (int copy = 0; copy < 50; ++copy) {
            std::u16string name(length, static_cast<char16_t>(u'a' + copy % 26));
            name.back() = static_cast<char16_t>(0x4E00 + copy);
            made.emplace_back(store.CreateChild(base, name), name);
        }
    }
    RegKey* branch = store.NewDetachedKey();
    store.Graft(base, u"Grafted \u00e9", branch);
    for (const auto& [key, name] : made) {
        ASSERT_TRUE(key);
        EXPECT_EQ(key->Name(), name);
        EXPECT_EQ(store.Find(base, name), key);
    }
    EXPECT_EQ(branch->Name(), u"Grafted \u00e9");
    EXPECT_EQ(store.Root()->Name(), u"REGISTRY");
}

// The one section `text` holds, its values after the key line.
RawSection SectionOf(const std::string& text) {
    return RawSection{0, 0, static_cast<uint32_t>(text.size()),
                      static_cast<uint32_t>(text.find('\n') + 1)};
}

// Decoding replaces what the vector held and reuses its memory: no value of the key
// decoded before may survive, whatever the sizes.
TEST(HiveFile, DecodingASectionReplacesEarlierValues) {
    std::string text = "[K] 1\n\"a\"=\"1\"\n  \"b\"=dword:00000002\n\"A\"=\"3\"\n";
    RawSection section = SectionOf(text);
    std::vector<RegValue> values(5, RegValue{u"old", kRegBinary, "stale"});
    DecodeSectionValues(text, section, &values);
    ASSERT_EQ(values.size(), 2u);  // the indented line counts; the later "A" replaces "a"
    EXPECT_EQ(values[0].name, u"A");
    EXPECT_EQ(BytesToUtf16(values[0].data), std::u16string(u"3\0", 2));
    EXPECT_EQ(values[1].name, u"b");
    EXPECT_EQ(values[1].type, kRegDword);
    // A section that no longer fits its text decodes to nothing rather than to old values.
    DecodeSectionValues(text, RawSection{0, 0, static_cast<uint32_t>(text.size() + 1), 4}, &values);
    EXPECT_TRUE(values.empty());
}

// A peek follows the key it is asked about, from a key of thousands of values to a small
// one whose decoding reuses the room, and back, and never makes the keys decoded.
TEST(HiveFile, APeekAtKeysLargeAndSmallReadsEachKeysOwnValues) {
    std::string text = TempPrefix::Header("REGISTRY\\Machine", "win32") + "\n[Big] 1\n";
    for (int i = 0; i < 5000; ++i)
        text += "\"v" + std::to_string(i) + "\"=\"" + std::string(40, 'x') + "\"\n";
    text += "\n[Small] 1\n\"a\"=\"1\"\n\"b\"=dword:00000002\n";
    auto hive = ParseHive(text, nullptr);
    ASSERT_TRUE(hive);
    const RegKey* big = hive->base->FindSubKey(u"Big");
    const RegKey* small = hive->base->FindSubKey(u"Small");
    ASSERT_TRUE(big && small);
    ValuePeek peek;
    for (int round = 0; round < 2; ++round) {
        const std::vector<RegValue>& bigValues = peek.Of(big);
        ASSERT_EQ(bigValues.size(), 5000u);
        EXPECT_EQ(bigValues[4999].name, u"v4999");
        const std::vector<RegValue>& smallValues = peek.Of(small);
        ASSERT_EQ(smallValues.size(), 2u);
        EXPECT_EQ(smallValues[0].name, u"a");
        EXPECT_EQ(smallValues[1].type, kRegDword);
        ASSERT_TRUE(peek.Find(big, u"V17"));
        EXPECT_EQ(peek.Find(big, u"V17")->name, u"v17");
    }
    // Written back whole, the file is as it was: the peek changed nothing.
    EXPECT_EQ(WriteHive(*hive->base, hive->header, hive->trailer), text);
}

// Strings are read eight bytes at a time: a quote, an escape or a byte above ASCII at any
// place in such a word, and hex data in and out of its usual two digits and a comma.
TEST(HiveFileValues, DecodesSpecialCharactersAtEveryPlaceInAWord) {
    const std::pair<std::string, std::u16string> specials[] = {
        {"\\\\", u"\\"}, {"\\\"", u"\""}, {"\xc3\xa9", u"\u00e9"}, {"\\x41", u"A"}, {"]", u"]"}};
    for (const auto& [raw, decoded] : specials) {
        for (size_t at = 0; at < 20; ++at) {
            std::string name = std::string(at, 'n') + raw + "n";
            std::string data = std::string(at, 'z') + raw + std::string(19 - at, 'z');
            std::string text = "[K] 1\n\"" + name + "\"=\"" + data + "\"\n";
            RawSection section = SectionOf(text);
            std::vector<RegValue> values;
            DecodeSectionValues(text, section, &values);
            ASSERT_EQ(values.size(), 1u) << raw << " at " << at;
            EXPECT_EQ(values[0].name, std::u16string(at, u'n') + decoded + u"n");
            std::u16string expected =
                std::u16string(at, u'z') + decoded + std::u16string(19 - at, u'z');
            expected.push_back(0);
            EXPECT_EQ(BytesToUtf16(values[0].data), expected) << raw << " at " << at;
        }
    }
    std::string text =
        "[K] 1\n\"h\"=hex:1,02 ,3, 0a,ff,\\\n  7,\\\n  80,9\n\"g\"=hex(4):2a,00,00,00\n"
        "\"j\"=hex:1 2 3 456 7\n\"k\"=hex:\n"
        // Single digits hold more bytes to a line than pairs: a crafted file once made the
        // pairs after them run past the room made for the line.
        "\"m\"=hex:1,2,3,4,5,6,7,8,9,a,b,c,d,e,f,10,11,12,13,14,15,16,17,18,19,1a,1b,1c,1d,1e\n";
    RawSection section = SectionOf(text);
    std::vector<RegValue> values;
    DecodeSectionValues(text, section, &values);
    ASSERT_EQ(values.size(), 5u);
    std::string counted;
    for (char byte = 1; byte <= 0x1e; ++byte)
        counted.push_back(byte);
    EXPECT_EQ(values[4].data, counted);
    EXPECT_EQ(values[0].data, std::string("\x01\x02\x03\x0a\xff\x07\x80\x09"));
    EXPECT_EQ(values[1].type, kRegDword);
    EXPECT_EQ(values[1].data, std::string("\x2a\0\0\0", 4));
    // Digits without commas: a byte is at most two of them.
    EXPECT_EQ(values[2].data, std::string("\x01\x02\x03\x45\x06\x07"));
    EXPECT_TRUE(values[3].data.empty());
}

// Names equal but for letter case, in keys of a few values and of many: the first place of
// a name keeps the last value given for it, as a simple search over the kept values finds.
TEST(HiveFileValues, RepeatedNamesKeepTheirFirstPlaceAndLastValue) {
    const std::u16string alphabet = u"aAbB\u00e4\u00c4\u0436\u0416";
    uint32_t seed = 7;
    auto next = [&seed](uint32_t bound) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 16) % bound;
    };
    for (size_t count : {2u, 5u, 16u, 40u, 300u}) {
        for (int round = 0; round < 20; ++round) {
            std::vector<RegValue> values;
            for (size_t i = 0; i < count; ++i) {
                std::u16string name;
                // Longer names in larger keys, so that some keys repeat none.
                size_t length = 1 + next(count < 16 ? 2 : 4);
                for (size_t j = 0; j < length; ++j)
                    name.push_back(alphabet[next(static_cast<uint32_t>(alphabet.size()))]);
                values.push_back(RegValue{name, kRegDword, std::to_string(i)});
            }
            std::vector<RegValue> expected;
            for (const auto& v : values) {
                auto it = std::find_if(expected.begin(), expected.end(), [&](const RegValue& k) {
                    return EqualsNoCase(k.name, v.name);
                });
                if (it == expected.end()) {
                    expected.push_back(v);
                } else {
                    *it = v;
                }
            }
            DropRepeatedNames(values);
            ASSERT_EQ(values.size(), expected.size()) << count;
            for (size_t i = 0; i < values.size(); ++i) {
                EXPECT_EQ(values[i].name, expected[i].name);
                EXPECT_EQ(values[i].data, expected[i].data);
            }
        }
    }
}

TEST(MappedMemory, SmallAndLargeRegionsAreZeroedAndMoveTheirOwnership) {
    const size_t sizes[] = {1, 5000, size_t{3} << 20, (size_t{3} << 20) + 1,
                            (size_t{9} << 20) + 4097};
    for (PagesMade made : {PagesMade::kWhenTouched, PagesMade::kAtOnce}) {
        for (size_t bytes : sizes) {
            SCOPED_TRACE(bytes);
            MappedMemory memory(bytes, made);
            ASSERT_TRUE(memory.Data());
            ASSERT_GE(memory.Size(), bytes);
            auto* p = static_cast<unsigned char*>(memory.Data());
            if (made == PagesMade::kWhenTouched) memory.MakeRange(0, bytes / 2);
            // Every byte it says it has is there: a mapping trimmed to an edge keeps its end.
            EXPECT_EQ(p[0], 0);
            EXPECT_EQ(p[bytes - 1], 0);
            EXPECT_EQ(p[memory.Size() - 1], 0);
            p[memory.Size() - 1] = 9;
            p[bytes - 1] = 7;
            MappedMemory moved(std::move(memory));
            EXPECT_FALSE(memory.Data());
            EXPECT_EQ(static_cast<unsigned char*>(moved.Data())[bytes - 1], 7);
        }
    }
}

// Pages made ahead are made before the table is written: writing them costs no fault,
// and what was written before stays.
TEST(MappedMemory, PagesMadeAheadKeepTheirBytesAndAreWrittenWithoutFaults) {
    // In ordinary pages, whose faults are counted one each.
    constexpr size_t kBytes = size_t{6} << 20;
    MappedMemory memory(kBytes);
    ASSERT_TRUE(memory.Data());
    auto* p = static_cast<unsigned char*>(memory.Data());
    std::memset(p, 0x5a, 10000);
    memory.MakeUpTo(10000);  // already written: nothing changes
    memory.MakeUpTo(kBytes / 2);
    EXPECT_EQ(p[0], 0x5a);
    EXPECT_EQ(p[9999], 0x5a);
    EXPECT_EQ(p[10000], 0);
    auto faults = [] {
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        return usage.ru_minflt;
    };
    long before = faults();
    for (size_t at = 10000; at < kBytes / 2; at += 4096)
        p[at] = 1;
    long made = faults() - before;
    before = faults();
    for (size_t at = kBytes / 2 + 4096; at < kBytes; at += 4096)
        p[at] = 1;
    long unmade = faults() - before;
#ifdef MADV_POPULATE_WRITE
    // Relative to the pages not made: under a sanitizer, its shadow memory faults too.
    if (unmade > 500) {
        EXPECT_LT(made * 4, unmade) << "pages written after MakeUpTo still faulted";
    }
#else
    (void)made;
    (void)unmade;
#endif
    // Past the end it makes no more than the region.
    memory.MakeUpTo(kBytes * 4);
    EXPECT_EQ(p[kBytes - 1], 0);

    // A range made apart, from and to any byte: its pages too are written without faults.
    MappedMemory range(kBytes);
    ASSERT_TRUE(range.Data());
    auto* q = static_cast<unsigned char*>(range.Data());
    q[kBytes / 4 + 200] = 0x77;
    range.MakeRange(kBytes / 4 + 123, kBytes / 2 + 5);
    range.MakeRange(kBytes - 10, kBytes * 2);
    EXPECT_EQ(q[kBytes / 4 + 200], 0x77);
    before = faults();
    for (size_t at = kBytes / 4 + 4096; at < kBytes / 2; at += 4096)
        q[at] = 1;
    made = faults() - before;
    before = faults();
    for (size_t at = kBytes / 2 + 8192; at < kBytes * 3 / 4; at += 4096)
        q[at] = 1;
    unmade = faults() - before;
#ifdef MADV_POPULATE_WRITE
    if (unmade > 250) {
        EXPECT_LT(made * 4, unmade) << "pages written after MakeRange still faulted";
    }
#endif
}

TEST(HiveFile, WrapsLongHexAsTheServerDoes) {
    RegValue value{u"Data", kRegBinary, std::string(40, '\xab')};
    std::string out;
    AppendValueText(out, value);
    auto lines = Lines(out);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].substr(0, 12), "\"Data\"=hex:a");
    EXPECT_EQ(lines[0].back(), '\\');
    EXPECT_EQ(lines[1].substr(0, 4), "  ab");
    // An unterminated string cannot be written as text.
    RegValue raw{u"s", kRegSz, std::string("a\0", 2)};
    out.clear();
    AppendValueText(out, raw);
    EXPECT_EQ(out, "\"s\"=hex(1):61,00\n");
}

TEST(HiveFile, RefusesMalformedFilesAndSaysWhere) {
    const std::string head = TempPrefix::Header("REGISTRY\\\\Machine", "win32");
    struct Case {
        std::string text;
        int line;
    } cases[] = {
        {"REGEDIT4\n[A]\n", 1},
        {head + "\n[A] 1\n\"v\"=hex:01,\\\n", 7},
        {head + "\n[A] 1\n\"v\"=dword:xyz\n", 7},
        {head + "\n[A] 1\n\"v\"=\"open\n", 7},
        {head + "\n[A 1\n", 6},
        {head + "\n[A] 1\ngarbage\n", 7},
        {head + "\"v\"=\"before any key\"\n", 5},
    };
    for (const auto& c : cases) {
        HiveParseError error;
        EXPECT_FALSE(ParseHive(c.text, &error)) << c.text;
        EXPECT_EQ(error.line, c.line) << c.text;
        EXPECT_FALSE(error.message.empty());
    }
}

class MachineSaveTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (TestDataDir().empty()) GTEST_SKIP() << "test data not found";
        for (const char* name : {"system.reg", "user.reg", "userdef.reg"}) {
            prefix.Write(name, ReadFile(TestDataDir() / "wine-prefix" / name));
        }
    }
    TempPrefix prefix;
};

TEST_F(MachineSaveTest, NothingIsWrittenWhenNothingChanged) {
    auto machine = prefix.Load();
    ASSERT_TRUE(machine) << prefix.LastError();
    auto before = std::filesystem::last_write_time(prefix.Dir() / "system.reg");
    auto result = machine->Flush();
    EXPECT_TRUE(result.ok);
    EXPECT_FALSE(result.wroteAny);
    EXPECT_EQ(std::filesystem::last_write_time(prefix.Dir() / "system.reg"), before);
}

TEST_F(MachineSaveTest, ChangingOneValueChangesOnlyThatKeysLines) {
    std::string original = prefix.Read("system.reg");
    auto machine = prefix.Load();
    ASSERT_TRUE(machine) << prefix.LastError();
    RegKey* key = machine->Registry().Find(machine->LocalMachine(), u"Software\\Classes\\.ini");
    ASSERT_TRUE(key);
    machine->Registry().SetValue(key, u"", kRegSz, Utf16ToBytes(std::u16string(u"changed\0", 8)));
    auto result = machine->Flush();
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_TRUE(result.wroteAny);
    auto a = Lines(original), b = Lines(prefix.Read("system.reg"));
    ASSERT_EQ(a.size(), b.size());
    std::vector<std::string> changed;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i] != b[i]) changed.push_back(b[i]);
    }
    ASSERT_EQ(changed.size(), 3u);  // key line with its time, #time, the value
    EXPECT_EQ(changed[0].rfind("[Software\\\\Classes\\\\.ini] ", 0), 0u) << changed[0];
    EXPECT_EQ(changed[1].substr(0, 6), "#time=");
    EXPECT_EQ(changed[2], "@=\"changed\"");
    EXPECT_EQ(prefix.Read("user.reg"), ReadFile(TestDataDir() / "wine-prefix" / "user.reg"));
}

TEST_F(MachineSaveTest, KeysThatOnlyHoldSubKeysStayImplicit) {
    auto machine = prefix.Load();
    ASSERT_TRUE(machine);
    RegistryStore& store = machine->Registry();
    RegKey* key = store.Create(machine->LocalMachine(), u"Software\\Hivewise Test\\Deep\\Leaf");
    store.SetValue(key, u"v", kRegDword, std::string(4, '\0'));
    ASSERT_TRUE(machine->Flush().ok);
    std::string saved = prefix.Read("system.reg");
    EXPECT_NE(saved.find("[Software\\\\Hivewise Test\\\\Deep\\\\Leaf] "), std::string::npos);
    EXPECT_EQ(saved.find("[Software\\\\Hivewise Test] "), std::string::npos);
    EXPECT_EQ(saved.find("[Software\\\\Hivewise Test\\\\Deep] "), std::string::npos);
    // Deleting the leaf leaves its parent empty: it is then written, or it would vanish.
    store.DeleteKey(key);
    ASSERT_TRUE(machine->Flush().ok);
    saved = prefix.Read("system.reg");
    EXPECT_NE(saved.find("[Software\\\\Hivewise Test\\\\Deep] "), std::string::npos);
    EXPECT_EQ(saved.find("Leaf"), std::string::npos);
    auto reloaded = Machine::Load(prefix.Dir(), {.lockPrefix = false});
    ASSERT_TRUE(reloaded.machine);
    EXPECT_TRUE(reloaded.machine->Registry().Find(reloaded.machine->LocalMachine(),
                                                  u"Software\\Hivewise Test\\Deep"));
}

TEST_F(MachineSaveTest, RefusesToOverwriteAFileChangedOnDisk) {
    auto machine = prefix.Load();
    ASSERT_TRUE(machine);
    RegKey* key = machine->Registry().Create(machine->CurrentUser(), u"Software\\Hivewise");
    machine->Registry().SetValue(key, u"x", kRegDword, std::string(4, '\0'));
    std::string outside = prefix.Read("user.reg") + "\n[Written by someone else] 1700000000\n";
    prefix.Write("user.reg", outside);
    auto result = machine->Flush();
    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.error.find("user.reg"), std::string::npos);
    EXPECT_EQ(prefix.Read("user.reg"), outside);
}

TEST(MachineLoad, AMalformedFileLoadsNothingAndNamesFileAndLine) {
    TempPrefix prefix;
    prefix.SystemReg("\n[Software] 1700000000\n\"a\"=\"b\"\n");
    prefix.UserReg("\n[Environment] 1700000000\n\"v\"=hex:zz\n");
    auto machine = prefix.Load();
    EXPECT_FALSE(machine);
    EXPECT_NE(prefix.LastError().find("user.reg, line 7"), std::string::npos) << prefix.LastError();
}

TEST(MachineLoad, AFolderWithoutRegistryIsNoPrefix) {
    TempPrefix prefix;
    EXPECT_FALSE(prefix.Load());
    EXPECT_NE(prefix.LastError().find("not a Wine prefix"), std::string::npos);
}

TEST(MachineLoad, SecondInstanceIsLockedOut) {
    TempPrefix prefix;
    prefix.SystemReg("\n[Software] 1700000000\n");
    auto first = Machine::Load(prefix.Dir());
    ASSERT_TRUE(first.machine) << first.error;
    auto second = Machine::Load(prefix.Dir());
    EXPECT_FALSE(second.machine);
    EXPECT_NE(second.error.find("Another Hivewise"), std::string::npos);
    first.machine.reset();
    EXPECT_TRUE(Machine::Load(prefix.Dir()).machine);
}

}  // namespace
}  // namespace hivewise
