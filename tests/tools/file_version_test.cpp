#include "tools/file_version.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/temp_prefix.h"
#include "tools/pe_resources.h"

namespace hivewise {
namespace {

namespace fs = std::filesystem;

// ---- Building version resources and PE images -------------------------------------

void Put16(std::string& s, size_t at, uint32_t v) {
    s[at] = static_cast<char>(v & 0xFF);
    s[at + 1] = static_cast<char>((v >> 8) & 0xFF);
}
void Put32(std::string& s, size_t at, uint32_t v) {
    Put16(s, at, v & 0xFFFF);
    Put16(s, at + 2, v >> 16);
}
std::string Le16(uint32_t v) {
    std::string s(2, '\0');
    Put16(s, 0, v);
    return s;
}
std::string Wide(std::string_view ascii) {
    std::string s;
    for (char c : ascii)
        s += Le16(static_cast<unsigned char>(c));
    return s + Le16(0);
}
void Pad4(std::string& s) {
    while (s.size() % 4)
        s.push_back('\0');
}

std::string Block(std::string_view key, std::string_view value, uint16_t valueLength, uint16_t type,
                  const std::vector<std::string>& children = {}) {
    std::string b(6, '\0');
    b += Wide(key);
    Pad4(b);
    b += value;
    for (const std::string& child : children) {
        Pad4(b);
        b += child;
    }
    Put16(b, 0, static_cast<uint32_t>(b.size()));
    Put16(b, 2, valueLength);
    Put16(b, 4, type);
    return b;
}
std::string Str(std::string_view key, std::string_view text) {
    return Block(key, Wide(text), static_cast<uint16_t>(text.size() + 1), 1);
}
std::string Table(std::string_view id, const std::vector<std::string>& strings) {
    return Block(id, "", 0, 1, strings);
}
std::string StringInfo(const std::vector<std::string>& tables) {
    return Block("StringFileInfo", "", 0, 1, tables);
}
std::string Translations(const std::vector<std::pair<uint16_t, uint16_t>>& pairs) {
    std::string bytes;
    for (auto [language, codePage] : pairs)
        bytes += Le16(language) + Le16(codePage);
    return Block("VarFileInfo", "", 0, 1,
                 {Block("Translation", bytes, static_cast<uint16_t>(bytes.size()), 0)});
}
std::string Fixed(uint32_t fileVersionMS) {
    std::string f(52, '\0');
    Put32(f, 0, 0xFEEF04BD);
    Put32(f, 8, fileVersionMS);
    Put32(f, 36, 2);  // fileType: DLL
    return f;
}
std::string Root(const std::vector<std::string>& children, std::string fixed = Fixed(0x10002)) {
    const auto length = static_cast<uint16_t>(fixed.size());
    return Block("VS_VERSION_INFO", fixed, length, 0, children);
}

// A PE32 image with one .rsrc section holding RT_VERSION, id 1, one entry per language.
struct PeLayout {
    size_t rsrcFile = 0x200;  // file offset of the resource section
    uint32_t rsrcRva = 0x1000;
    size_t typeEntry = 0;  // offsets within the section
    size_t nameEntry = 0;
    size_t languageDir = 0;
    size_t dataEntry = 0;  // of the first language
};
std::string Pe(const std::vector<std::pair<uint16_t, std::string>>& versions,
               PeLayout* layout = nullptr) {
    PeLayout l;
    std::string r(16, '\0');  // root directory: one id entry
    Put16(r, 14, 1);
    l.typeEntry = r.size();
    r += std::string(8, '\0');
    const size_t nameDir = r.size();
    r += std::string(16, '\0');
    Put16(r, nameDir + 14, 1);
    l.nameEntry = r.size();
    r += std::string(8, '\0');
    l.languageDir = r.size();
    r += std::string(16 + 8 * versions.size(), '\0');
    Put16(r, l.languageDir + 14, static_cast<uint32_t>(versions.size()));
    Put32(r, l.typeEntry, 16);
    Put32(r, l.typeEntry + 4, 0x80000000u | nameDir);
    Put32(r, l.nameEntry, 1);
    Put32(r, l.nameEntry + 4, 0x80000000u | l.languageDir);
    l.dataEntry = r.size();
    r += std::string(16 * versions.size(), '\0');
    for (size_t i = 0; i < versions.size(); ++i) {
        Pad4(r);
        const size_t entry = l.dataEntry + 16 * i;
        Put32(r, l.languageDir + 16 + 8 * i, versions[i].first);
        Put32(r, l.languageDir + 16 + 8 * i + 4, static_cast<uint32_t>(entry));
        Put32(r, entry, l.rsrcRva + static_cast<uint32_t>(r.size()));
        Put32(r, entry + 4, static_cast<uint32_t>(versions[i].second.size()));
        r += versions[i].second;
    }
    Pad4(r);

    std::string image(l.rsrcFile, '\0');
    image[0] = 'M';
    image[1] = 'Z';
    Put32(image, 0x3C, 0x40);
    image.replace(0x40, 4, std::string("PE\0\0", 4));
    const size_t coff = 0x44, optional = coff + 20;
    Put16(image, coff, 0x14C);
    Put16(image, coff + 2, 1);      // sections
    Put16(image, coff + 16, 224);   // size of the optional header
    Put16(image, optional, 0x10B);  // PE32
    Put32(image, optional + 92, 16);
    Put32(image, optional + 96 + 16, l.rsrcRva);
    Put32(image, optional + 96 + 20, static_cast<uint32_t>(r.size()));
    const size_t section = optional + 224;
    image.replace(section, 5, ".rsrc");
    Put32(image, section + 8, static_cast<uint32_t>(r.size()));
    Put32(image, section + 12, l.rsrcRva);
    Put32(image, section + 16, static_cast<uint32_t>(r.size()));
    Put32(image, section + 20, static_cast<uint32_t>(l.rsrcFile));
    image += r;
    if (layout) *layout = l;
    return image;
}

std::string Typical(std::string_view table, uint16_t language, uint16_t codePage) {
    return Root({StringInfo({Table(
                     table, {Str("CompanyName", "Maker"), Str("OriginalFilename", "a.dll")})}),
                 Translations({{language, codePage}})});
}

// ---- The version block and the language choice --------------------------------------

TEST(ChooseTranslationTest, FollowsTheOrderOfPreference) {
    auto pick = [](std::vector<std::pair<uint16_t, uint16_t>> pairs, uint16_t user) {
        std::string bytes;
        for (auto [l, c] : pairs)
            bytes += Le16(l) + Le16(c);
        auto t = ChooseTranslation(bytes, user);
        return t ? t->language : uint16_t{0xFFFF};
    };
    EXPECT_EQ(pick({{0x0409, 0x4B0}, {0x0407, 0x4B0}}, 0x0407), 0x0407);
    EXPECT_EQ(pick({{0x0409, 0x4B0}, {0x0807, 0x4B0}}, 0x0407), 0x0807);  // same low byte
    EXPECT_EQ(pick({{0x0409, 0x4B0}, {0x0000, 0x4B0}}, 0x0407), 0x0000);  // neutral first
    EXPECT_EQ(pick({{0x0409, 0x4B0}, {0x0400, 0x4B0}}, 0x0407), 0x0400);  // low byte 0
    EXPECT_EQ(pick({{0x040C, 0x4B0}, {0x0C09, 0x4B0}}, 0x0407), 0x0C09);  // any English
    EXPECT_EQ(pick({{0x040C, 0x4B0}, {0x0411, 0x4B0}}, 0x0407), 0x040C);  // else the first
    EXPECT_EQ(pick({}, 0x0407), 0xFFFF);
    // A trailing partial entry is not an entry.
    EXPECT_FALSE(ChooseTranslation(std::string("\x07\x04", 2), 0x0407));
}

TEST(FileVersionDetailsTest, LanguageEdgeCases) {
    FileVersionDetails details;
    // Only English listed, read by a German user: English.
    ASSERT_TRUE(details.ReadResource(Typical("040904B0", 0x0409, 0x04B0), 0x0407));
    EXPECT_EQ(details.CompanyName(), "Maker");
    EXPECT_EQ(details.Language(), 0x0409);

    // Neutral and English listed: the neutral entry wins over English.
    std::string both = Root({StringInfo({Table("040904B0", {Str("CompanyName", "English")}),
                                         Table("000004B0", {Str("CompanyName", "Neutral")})}),
                             Translations({{0x0409, 0x04B0}, {0x0000, 0x04B0}})});
    ASSERT_TRUE(details.ReadResource(both, 0x0407));
    EXPECT_EQ(details.CompanyName(), "Neutral");
    ASSERT_TRUE(details.ReadResource(both, 0x0409));
    EXPECT_EQ(details.CompanyName(), "English");
}

TEST(FileVersionDetailsTest, ReadsFixedInfoAndTheTwelveStrings) {
    std::vector<std::string> strings;
    for (const char* name : kVersionStringNames)
        strings.push_back(Str(name, name + 1));
    strings.push_back(Str("OLESelfRegister", ""));
    FileVersionDetails details;
    // The table's name and the string names match without regard to case.
    ASSERT_TRUE(details.ReadImage(Pe({{0x0409, Root({Translations({{0x0409, 0x04E4}}),
                                                     StringInfo({Table("040904e4", strings)})},
                                                    Fixed(0x00050001))}}),
                                  0x0409));
    EXPECT_EQ(details.FixedInfo().signature, 0xFEEF04BDu);
    EXPECT_EQ(details.FixedInfo().fileVersionMS, 0x00050001u);
    EXPECT_EQ(details.FixedInfo().fileType, 2u);
    EXPECT_EQ(details.CodePage(), 0x04E4);
    for (size_t i = 0; i < kVersionStringCount; ++i) {
        EXPECT_EQ(details.String(static_cast<VersionString>(i)), kVersionStringNames[i] + 1);
    }
    EXPECT_EQ(details.OriginalFileName(), "riginalFileName");
    EXPECT_EQ(details.SpecialBuild(), "pecialBuild");

    // A failed read afterwards leaves nothing behind.
    EXPECT_FALSE(details.ReadImage("MZ", 0x0409));
    EXPECT_EQ(details.FixedInfo().signature, 0u);
    EXPECT_EQ(details.CompanyName(), "");
    EXPECT_EQ(details.Language(), 0);
}

TEST(FileVersionDetailsTest, MissingPartsGiveEmptyFields) {
    FileVersionDetails details;
    // A root value that is not 52 bytes is not the fixed info.
    ASSERT_TRUE(
        details.ReadResource(Root({StringInfo({Table("040904B0", {Str("CompanyName", "Maker")})}),
                                   Translations({{0x0409, 0x04B0}})},
                                  std::string(48, '\x11')),
                             0x0409));
    EXPECT_EQ(details.FixedInfo().signature, 0u);
    EXPECT_EQ(details.CompanyName(), "Maker");

    // The chosen block is absent: still a version resource, with empty strings.
    ASSERT_TRUE(details.ReadResource(Typical("040704B0", 0x0409, 0x04B0), 0x0409));
    EXPECT_EQ(details.CompanyName(), "");
    EXPECT_EQ(details.FixedInfo().fileVersionMS, 0x10002u);

    // No translation table: the first string table is read.
    ASSERT_TRUE(
        details.ReadResource(Root({Block("StringFileInfo", "", 0, 1,
                                         {Table("bogus", {Str("CompanyName", "Wrong")}),
                                          Table("041104B0", {Str("CompanyName", "First")})})}),
                             0x0409));
    EXPECT_EQ(details.CompanyName(), "First");
    EXPECT_EQ(details.Language(), 0x0411);
}

TEST(FileVersionDetailsTest, TextStopsAtItsLengthAndItsBlock) {
    // Stated length shorter than the text: cut there (the terminator is not required).
    std::string shortText = Block("CompanyName", Wide("Longer"), 3, 1);
    // Stated length beyond the block: cut at the block's end.
    std::string longText = Block("ProductName", Wide("Name"), 900, 1);
    FileVersionDetails details;
    ASSERT_TRUE(details.ReadResource(Root({StringInfo({Table("040904B0", {shortText, longText})}),
                                           Translations({{0x0409, 0x04B0}})}),
                                     0x0409));
    EXPECT_EQ(details.CompanyName(), "Lon");
    EXPECT_EQ(details.ProductName(), "Name");
}

// ---- Hostile images ---------------------------------------------------------------------

TEST(FileVersionHostileTest, NotAVersionResource) {
    FileVersionDetails details;
    EXPECT_FALSE(details.ReadResource("", 0x0409));
    EXPECT_FALSE(details.ReadResource(std::string(6, '\0'), 0x0409));  // length 0
    std::string root = Typical("040904B0", 0x0409, 0x04B0);
    std::string longer = root;
    Put16(longer, 0, static_cast<uint32_t>(root.size() + 1));  // longer than the resource
    EXPECT_FALSE(details.ReadResource(longer, 0x0409));
    std::string unterminated = Le16(10) + Le16(0) + Le16(1) + "A\0B\0";
    EXPECT_FALSE(details.ReadResource(unterminated, 0x0409));
    // A child shorter than a header ends the walk of its parent; nothing else breaks.
    std::string badChild = Root({std::string("\x02\x00\x00\x00", 4)});
    EXPECT_TRUE(details.ReadResource(badChild, 0x0409));
    EXPECT_EQ(details.CompanyName(), "");
}

TEST(FileVersionHostileTest, MalformedHeaders) {
    const std::string good = Pe({{0x0409, Typical("040904B0", 0x0409, 0x04B0)}});
    FileVersionDetails details;
    ASSERT_TRUE(details.ReadImage(good, 0x0409));
    EXPECT_EQ(details.CompanyName(), "Maker");

    auto broken = [&](auto change) {
        std::string image = good;
        change(image);
        return !FileVersionDetails().ReadImage(image, 0x0409);
    };
    EXPECT_TRUE(broken([](std::string& i) { i[0] = 'X'; }));
    EXPECT_TRUE(broken([](std::string& i) { Put32(i, 0x3C, 0xFFFFFFFF); }));
    EXPECT_TRUE(
        broken([](std::string& i) { Put32(i, 0x3C, static_cast<uint32_t>(i.size() - 2)); }));
    EXPECT_TRUE(broken([](std::string& i) { Put16(i, 0x58, 0x999); }));       // magic
    EXPECT_TRUE(broken([](std::string& i) { Put32(i, 0x58 + 92, 2); }));      // directories
    EXPECT_TRUE(broken([](std::string& i) { Put16(i, 0x44 + 16, 100); }));    // optional size
    EXPECT_TRUE(broken([](std::string& i) { Put16(i, 0x44 + 2, 0xFFFF); }));  // sections
    EXPECT_TRUE(broken([](std::string& i) { Put16(i, 0x44 + 2, 0); }));
    EXPECT_TRUE(broken([](std::string& i) { Put32(i, 0x58 + 112, 0x7FFFFFF0); }));  // rsrc RVA
    const size_t section = 0x58 + 224;
    EXPECT_TRUE(broken([&](std::string& i) { Put32(i, section + 20, 0xFFFFFF00); }));
    EXPECT_TRUE(broken([&](std::string& i) { Put32(i, section + 16, 0x10); }));  // raw size
    // A raw size past the end of the file is only as good as the file.
    EXPECT_FALSE(broken([&](std::string& i) { Put32(i, section + 16, 0xFFFFFFFF); }));
}

TEST(FileVersionHostileTest, MalformedResourceDirectory) {
    PeLayout l;
    const std::string good = Pe({{0x0409, Typical("040904B0", 0x0409, 0x04B0)}, {0x0407, "x"}}, &l);
    auto broken = [&](auto change) {
        std::string image = good;
        change(image);
        return !FileVersionDetails().ReadImage(image, 0x0409);
    };
    auto at = [&](size_t offset) { return l.rsrcFile + offset; };
    // Directories that point back at themselves or at their parent.
    EXPECT_TRUE(broken([&](std::string& i) { Put32(i, at(l.typeEntry + 4), 0x80000000u); }));
    EXPECT_TRUE(broken([&](std::string& i) { Put32(i, at(l.nameEntry + 4), 0x80000000u); }));
    EXPECT_TRUE(broken([&](std::string& i) {
        Put32(i, at(l.languageDir + 16 + 4), 0x80000000u | static_cast<uint32_t>(l.languageDir));
    }));
    // A data entry where a directory must be, and the reverse.
    EXPECT_TRUE(broken([&](std::string& i) {
        Put32(i, at(l.typeEntry + 4), static_cast<uint32_t>(l.dataEntry));
    }));
    // Entry counts, offsets and sizes past the end of the section or the file.
    EXPECT_TRUE(broken([&](std::string& i) { Put16(i, at(14), 0xFFFF); }));
    EXPECT_TRUE(broken([&](std::string& i) { Put16(i, at(l.languageDir + 12), 0xFFFF); }));
    EXPECT_TRUE(broken([&](std::string& i) { Put32(i, at(l.nameEntry + 4), 0xFFFFFFFF); }));
    EXPECT_TRUE(broken([&](std::string& i) { Put32(i, at(l.languageDir + 20), 0x7FFFFFF0); }));
    EXPECT_TRUE(broken([&](std::string& i) { Put32(i, at(l.dataEntry + 4), 0xFFFFFFFF); }));
    EXPECT_TRUE(broken([&](std::string& i) { Put32(i, at(l.dataEntry + 4), 0); }));
    EXPECT_TRUE(broken([&](std::string& i) { Put32(i, at(l.dataEntry), 0xFFFFFFF0); }));
    EXPECT_TRUE(broken([&](std::string& i) { Put32(i, at(l.dataEntry), 0x500); }));  // no section
    // No version type at all.
    EXPECT_TRUE(broken([&](std::string& i) { Put32(i, at(l.typeEntry), 3); }));

    // The loader's language choice: the user's language over the first entry.
    FileVersionDetails german;
    EXPECT_FALSE(german.ReadImage(good, 0x0407));  // its resource is "x", no version block
    EXPECT_TRUE(german.ReadImage(good, 0x0411));   // falls back to English
}

TEST(FileVersionHostileTest, FilesThatAreNoImages) {
    testing::TempPrefix prefix;
    prefix.Write("empty.dll", "");
    prefix.Write("text.dll", "This program cannot be run in DOS mode.\n");
    FileVersionDetails details;
    EXPECT_FALSE(details.ReadHostFile(prefix.Dir() / "empty.dll", 0x0409));
    EXPECT_FALSE(details.ReadHostFile(prefix.Dir() / "text.dll", 0x0409));
    EXPECT_FALSE(details.ReadHostFile(prefix.Dir() / "missing.dll", 0x0409));
    EXPECT_FALSE(details.ReadHostFile(prefix.Dir(), 0x0409));  // a folder
    const fs::path fifo = prefix.Dir() / "pipe.dll";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(details.ReadHostFile(fifo, 0x0409));  // must not wait for a writer
}

// ---- Real files -----------------------------------------------------------------------

fs::path PeDir() {
    fs::path dir = testing::TestDataDir();
    return dir.empty() ? dir : dir / "pe";
}

std::string Slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

constexpr const char* kWineCopyright =
    "Copyright (c) 1993-2023 the Wine project authors (see the file AUTHORS for a complete "
    "list)";

struct Expected {
    const char* file;
    uint16_t codePage;
    uint32_t fileVersionMS, fileVersionLS;
    std::array<const char*, kVersionStringCount> strings;
};

// The strings python3-pefile reads from the same version resources (read by hand).
// clang-format off
const Expected kCorpus[] = {
    {"comcat.dll", 0x04B0, 0x000A0000, 0, {"Microsoft Corporation", "Wine core dll", "10.0.0.0",
        "", kWineCopyright, "comcat.dll", "Wine", "1.0", "", "", "", ""}},
    {"version.dll", 0x04B0, 0x00050001, 0x0A280884, {"Microsoft Corporation", "Wine version dll",
        "5.1.2600.2180", "", kWineCopyright, "version.dll", "Wine", "5.1.2600.2180", "", "", "",
        ""}},
    {"zlib1.dll", 0x04E4, 0x00010002, 0x000D0000, {"", "zlib data compression library", "1.2.13",
        "zlib1.dll", "(C) 1995-2022 Jean-loup Gailly & Mark Adler", "zlib1.dll", "zlib", "1.2.13",
        "For more information visit http://www.zlib.net/", "", "", ""}},
    {"kernel32.dll", 0x04B0, 0x000A0000, 0x47BA0546, {"Microsoft Corporation", "Wine kernel DLL",
        "10.0.18362.1350", "", kWineCopyright, "kernel32.dll", "Wine", "10.0.18362.1350", "", "",
        "", ""}},
};
// clang-format on

TEST(FileVersionCorpusTest, MatchesTheStringsOfTheRealFiles) {
    if (PeDir().empty()) GTEST_SKIP() << "no test data beside the project";
    for (const Expected& e : kCorpus) {
        SCOPED_TRACE(e.file);
        FileVersionDetails details;
        ASSERT_TRUE(details.ReadHostFile(PeDir() / e.file, 0x0409));
        EXPECT_EQ(details.Language(), 0x0409);
        EXPECT_EQ(details.CodePage(), e.codePage);
        EXPECT_EQ(details.FixedInfo().signature, 0xFEEF04BDu);
        EXPECT_EQ(details.FixedInfo().fileVersionMS, e.fileVersionMS);
        EXPECT_EQ(details.FixedInfo().fileVersionLS, e.fileVersionLS);
        for (size_t i = 0; i < kVersionStringCount; ++i) {
            EXPECT_EQ(details.String(static_cast<VersionString>(i)), e.strings[i])
                << kVersionStringNames[i];
        }
    }
}

// kernel32.dll holds its version resource in 36 languages; the user's language picks one.
TEST(FileVersionCorpusTest, PicksTheResourceOfTheUsersLanguage) {
    if (PeDir().empty()) GTEST_SKIP() << "no test data beside the project";
    struct {
        uint16_t user;
        const char* description;
        const char* productName;
    } cases[] = {
        // Resource 0x0001, whose table lists only 0x0401; Arabic has no ANSI form.
        {0x0401, "Wine kernel DLL", "????"},
        {0x0407, "Wine-Kernel-DLL", "Wine"},
        {0x0C0A,
         "DLL de n\xFA"
         "cle Wine",
         "Wine"},                             // resource 0x000A, in ANSI
        {0x0425, "Wine kernel DLL", "Wine"},  // no Estonian: English
    };
    for (const auto& c : cases) {
        FileVersionDetails details;
        ASSERT_TRUE(details.ReadHostFile(PeDir() / "kernel32.dll", c.user));
        EXPECT_EQ(details.Language(), c.user == 0x0425 ? 0x0409 : c.user);
        EXPECT_EQ(details.FileDescription(), c.description);
        EXPECT_EQ(details.ProductName(), c.productName);
    }
}

TEST(FileVersionCorpusTest, ReadsAFileOfTheMachine) {
    if (PeDir().empty()) GTEST_SKIP() << "no test data beside the project";
    testing::TempPrefix prefix;
    prefix.SystemReg("");
    prefix.UserReg("\n[Control Panel\\\\International] 1700000000\n\"Locale\"=\"00000407\"\n");
    fs::copy_file(PeDir() / "kernel32.dll",
                  prefix.Dir() / "drive_c" / "windows" / "system32" / "KERNEL32.dll");
    auto machine = prefix.Load();
    ASSERT_TRUE(machine) << prefix.LastError();
    FileVersionDetails details;
    ASSERT_TRUE(details.Read(*machine, "c:\\WINDOWS\\system32\\kernel32.dll"));
    EXPECT_EQ(details.FileDescription(), "Wine-Kernel-DLL");
    EXPECT_FALSE(details.Read(*machine, "c:\\windows\\system32\\none.dll"));
    EXPECT_FALSE(details.Read(*machine, "q:\\kernel32.dll"));
}

// Every cut of a real file either fails or reads exactly what the whole file reads.
TEST(FileVersionCorpusTest, TruncatedFilesFailCleanly) {
    if (PeDir().empty()) GTEST_SKIP() << "no test data beside the project";
    for (const char* name : {"comcat.dll", "version.dll", "zlib1.dll", "kernel32.dll"}) {
        SCOPED_TRACE(name);
        const std::string whole = Slurp(PeDir() / name);
        FileVersionDetails full;
        ASSERT_TRUE(full.ReadImage(whole, 0x0409));
        auto resource = FindVersionResource(MemoryByteSource(whole), 0x0409);
        ASSERT_TRUE(resource);

        std::vector<size_t> cuts;
        for (size_t n = 0; n <= 1024; ++n)
            cuts.push_back(n);
        // Every place the resource's bytes occur (a language may repeat another's), with
        // the resource directories before it in the same section.
        for (size_t at = whole.find(*resource); at != std::string::npos;
             at = whole.find(*resource, at + 1)) {
            const size_t end = at + resource->size();
            for (size_t n = at > 4096 ? at - 4096 : 0; n <= end + 16; ++n)
                cuts.push_back(n);
        }
        for (size_t k = 0; k < 500; ++k)
            cuts.push_back(whole.size() * k / 500);

        size_t firstGood = whole.size() + 1;
        for (size_t n : cuts) {
            if (n > whole.size()) continue;
            // An exact copy, so that any read past the cut is a read past the buffer.
            std::vector<char> cut(whole.begin(), whole.begin() + static_cast<ptrdiff_t>(n));
            FileVersionDetails details;
            if (!details.ReadImage(std::string_view(cut.data(), cut.size()), 0x0409)) continue;
            firstGood = std::min(firstGood, n);
            for (size_t i = 0; i < kVersionStringCount; ++i) {
                const auto which = static_cast<VersionString>(i);
                ASSERT_EQ(details.String(which), full.String(which)) << "cut at " << n;
            }
        }
        // The first cut that reads is the one that keeps the whole resource.
        ASSERT_LE(firstGood, whole.size());
        ASSERT_GE(firstGood, resource->size());
        EXPECT_EQ(whole.substr(firstGood - resource->size(), resource->size()), *resource);
    }
}

}  // namespace
}  // namespace hivewise
