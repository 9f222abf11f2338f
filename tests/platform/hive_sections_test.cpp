#include "platform/registry/hive_sections.h"

#include <gtest/gtest.h>

#include <sys/mman.h>
#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/files/atomic_file.h"
#include "platform/registry/hive_file.h"
#include "temp_prefix.h"

namespace hivewise {
namespace {

using testing::TempPrefix;
using testing::TestDataDir;

// All that a read leaves: its fault, or the file written back from its sections and
// written anew from its keys (names, values, times, classes, links).
struct ReadResult {
    bool ok = false;
    HiveParseError error;
    std::string kept;
    std::string rewritten;
    std::string header;
    std::string trailer;
    std::u16string relativeTo;
};

ReadResult ReadWith(const std::string& text, size_t parallelFrom) {
    ReadResult result;
    auto hive = ParseHive(text, &result.error, parallelFrom);
    result.ok = hive != nullptr;
    if (!hive) return result;
    result.kept = WriteHive(*hive->base, hive->header, hive->trailer);
    result.rewritten = WriteHive(*hive->base, hive->header, hive->trailer, false);
    result.header = hive->header;
    result.trailer = hive->trailer;
    result.relativeTo = hive->relativeTo;
    return result;
}

// Reads `text` on one thread and on two, and expects the same of both.
void ExpectSameOnTwoThreads(const std::string& text, const std::string& what) {
    SCOPED_TRACE(what);
    ReadResult one = ReadWith(text, SIZE_MAX);
    ReadResult two = ReadWith(text, 0);
    ASSERT_EQ(one.ok, two.ok);
    EXPECT_EQ(one.error.line, two.error.line);
    EXPECT_EQ(one.error.message, two.error.message);
    EXPECT_EQ(one.kept, two.kept);
    EXPECT_EQ(one.rewritten, two.rewritten);
    EXPECT_EQ(one.header, two.header);
    EXPECT_EQ(one.trailer, two.trailer);
    EXPECT_EQ(one.relativeTo, two.relativeTo);
}

std::string Filler(int from, int count) {
    std::string out;
    for (int i = from; i < from + count; ++i) {
        std::string n = std::to_string(i);
        out += "\n[Software\\\\Filler\\\\Key" + n + "] 1700000000\n#time=1d9f0c2a3b4c5d6\n" +
               "\"Path\"=\"C:\\\\Program Files\\\\x" + n +
               ".dll\"\n\"Blob\"=hex:01,02,\\\n  03,04\n";
    }
    return out;
}

// A file whose latter part, read by the second thread, holds `tail`.
std::string WithTail(const std::string& tail, const std::string& eol = "\n") {
    std::string text = TempPrefix::Header("REGISTRY\\\\Machine", "win64") + Filler(0, 40) + tail;
    EXPECT_LT(SplitPointOf(text, kFirstPartShare), text.size() - tail.size()) << tail;
    if (eol == "\n") return text;
    std::string crlf;
    for (char c : text) {
        if (c == '\n') crlf += '\r';
        crlf += c;
    }
    return crlf;
}

TEST(TwoThreadRead, ReadsTheRealFilesAsOneThreadDoes) {
    if (TestDataDir().empty()) GTEST_SKIP() << "test data not found";
    for (const char* name : {"system.reg", "user.reg", "userdef.reg"}) {
        std::string text;
        ASSERT_TRUE(ReadWholeFile(TestDataDir() / "wine-prefix" / name, &text, nullptr));
        ExpectSameOnTwoThreads(text, name);
    }
}

// Sections far denser than the listing reserves room for (a few bytes each, some with
// several option lines) make it grow while listing, keeping every one.
TEST(TwoThreadRead, SectionsDenserThanReservedAreAllListed) {
    std::string text = TempPrefix::Header("REGISTRY\\\\Machine", "win64");
    for (int i = 0; i < 40000; ++i) {
        text += "[k" + std::to_string(i) + "]\n";
        if (i % 7 == 0) text += "#time=1d9f0c2a3b4c5d6\n#class=\"c" + std::to_string(i) + "\"\n";
    }
    ExpectSameOnTwoThreads(text, "dense");
    auto hive = ParseHive(text, nullptr, 0);
    ASSERT_TRUE(hive);
    EXPECT_EQ(hive->base->SubKeys().size(), 40000u);
    RegKey* last = hive->base->FindSubKey(u"k39998");
    ASSERT_TRUE(last);
    EXPECT_EQ(last->ClassName(), u"c39998");
}

TEST(TwoThreadRead, ListedSectionsKeepEveryFormTheReaderKnows) {
    const std::string tail =
        // A key's second section in the latter part: its values are decoded and merged,
        // the later of two names winning, with options among the values.
        "\n[Software\\\\Filler\\\\Key3] 1700000001\n\"Path\"=\"later\"\n#class=\"Cls\"\n"
        "\"New\"=dword:00000002\n#time=1d9f0c2a3b4c5d7\n"
        // Options after values, a link, comments, blank lines holding spaces.
        "\n[Software\\\\Late]\n\"a\"=\"b\"\n#time=1d9f0c2a3b4c5d8\n;; a comment\n#link\n  \t\n"
        // Indented lines, escapes and text above ASCII in key names, an empty part, and a
        // path that repeats an earlier one in another letter case.
        "  [Software\\\\Esc\\x41ped\\\\\\\\Part\\\\\xc3\xa9t\xc3\xa9]\n  \"v\"=\"w\"\n"
        "[software\\\\filler\\\\KEY39\\\\Child]\n@=\"default\"\n"
        // Hex data of single digits and over several lines, and every value type.
        "[Software\\\\Values]\n\"h\"=hex(7):61,0,62,0,0,0,\\\n  0,0\n\"q\"=hex(b):1,2,3,4,5,6,7,8\n"
        "\"e\"=str(2):\"%SystemRoot%\\\\x\"\n\"n\"=hex(0):\n";
    ExpectSameOnTwoThreads(WithTail(tail), "line feeds");
    ExpectSameOnTwoThreads(WithTail(tail, "\r\n"), "carriage returns");
    ExpectSameOnTwoThreads(WithTail(tail) + "\n\n  \n", "blank lines after the last section");
    std::string open = WithTail(tail);
    open.pop_back();
    ExpectSameOnTwoThreads(open, "no line feed at the end");
}

TEST(TwoThreadRead, KeysWhoseSectionsRepeatReadAlikeWhereverTheSplitFalls) {
    // Every key has two sections, the second changing one value and adding another: the
    // split falls before a key's first section or between its two, as the padding shifts
    // it, and the last section of the file is a second one.
    std::string sections;
    for (int i = 0; i < 60; ++i) {
        std::string key = "\n[Software\\Twice\\Key" + std::to_string(i) + "]\n";
        sections += key + "\"a\"=\"first\"\n\"b\"=dword:00000001\n" + key +
                    "#time=1d9f0c2a3b4c5d6\n\"a\"=\"second\"\n\"c\"=hex:01,\\\n  02\n";
    }
    bool betweenTwo = false;
    bool beforeFirst = false;
    for (size_t pad = 0; pad < 120; pad += 7) {
        std::string text = TempPrefix::Header("REGISTRY\\Machine", "win64") + ";; " +
                           std::string(pad, 'x') + "\n" + sections;
        size_t split = SplitPointOf(text, kFirstPartShare);
        ASSERT_NE(split, std::string::npos);
        (text.compare(split + text.substr(split).find('\n') + 1, 1, "#") == 0 ? betweenTwo
                                                                              : beforeFirst) = true;
        ExpectSameOnTwoThreads(text, "padding " + std::to_string(pad));
    }
    EXPECT_TRUE(betweenTwo);
    EXPECT_TRUE(beforeFirst);
}

TEST(TwoThreadRead, TheFirstFaultInTheFileIsTheOneReported) {
    const std::string faults[] = {
        "\n[Software\\\\Bad]\n\"v\"=dword:xyz\n",
        "\n[Software\\\\Bad]\ngarbage\n",
        "\n[Software\\\\Bad\n",
        "\n[Software\\\\Bad] 1 2\n",
        "\n[Software\\\\Bad]\n#class=\"open\n",
        "\n[Software\\\\Bad]\n\"v\"=\"open\n",
        "\n[Software\\\\Bad]\n\"v\"=hex:01,\\\n",
        // A continued line before a key line makes it hex data, and bad hex data.
        "\n[Software\\\\Bad]\n\"v\"=hex:01,\\\n[Software\\\\NotAKey]\n",
        // A fault among a second section's values, and one in a key line after a fault
        // among values: the earlier wins.
        "\n[Software\\\\Filler\\\\Key1]\n\"v\"=\"ok\"\n\"w\"=bad\n",
        "\n[Software\\\\Bad]\n\"v\"=bad\n[Software\\\\Worse\n",
        "\n[Software\\\\Bad]\n#class=\"open\n\"v\"=bad\n",
        "\n[Software\\\\Bad]\n\"v\"=bad\n#class=\"open\n",
    };
    for (const std::string& fault : faults) {
        ExpectSameOnTwoThreads(WithTail(Filler(100, 10) + fault + Filler(200, 10)), fault);
        // A fault in the first part as well, which comes first.
        std::string early = TempPrefix::Header("REGISTRY\\\\Machine", "win64") +
                            "\n[Early]\nbroken\n" + Filler(0, 40) + fault;
        ExpectSameOnTwoThreads(early, "early and " + fault);
    }
}

TEST(TwoThreadRead, TheSplitIsAKeyLineThatNoHexDataContinuesOnto) {
    EXPECT_EQ(SplitPointOf("[A]\n\"v\"=\"w\"\n", 0.5), std::string::npos);
    const std::string text =
        "[A]\n\"v\"=hex:01,\\\n[B]\n\"v\"=hex:01,\\ \r\n[C]\n\"x\"=\"y\"\n[D]\n";
    // Neither [B] nor [C] follows a finished line.
    EXPECT_EQ(SplitPointOf(text, 0.1), text.find("[D]"));
    EXPECT_EQ(SplitPointOf(text, 0.0), text.find("[D]"));
    EXPECT_EQ(SplitPointOf("x\n[A]\n", 0.0), 2u);
}

TEST(TwoThreadRead, ALargeFileIsReadWholeAndInOrder) {
    testing::TempFolder folder;
    for (size_t size : {kParallelReadFrom - 1, kParallelReadFrom, kParallelReadFrom + 1,
                        2 * kParallelReadFrom + 3}) {
        std::string bytes(size, '\0');
        for (size_t i = 0; i < size; ++i)
            bytes[i] = static_cast<char>(i * 7 % 251);
        folder.Write("big.reg", bytes);
        RegistryStore store;
        std::string error;
        const std::string_view* text = store.ReadText(folder.Dir() / "big.reg", &error);
        ASSERT_TRUE(text) << error;
        EXPECT_TRUE(*text == bytes) << size;
    }
    RegistryStore store;
    std::string error;
    EXPECT_FALSE(store.ReadText(folder.Dir() / "missing.reg", &error));
    EXPECT_NE(error.find("missing.reg"), std::string::npos);
}

// A downloaded prefix may hold anything in a registry file's place: what is no regular
// file, or is larger than a key can keep places in, is refused before it is read.
TEST(TwoThreadRead, APipeADeviceAndAFileTooLargeAreRefusedUnread) {
    testing::TempFolder folder;
    ASSERT_EQ(::mkfifo((folder.Dir() / "pipe.reg").c_str(), 0600), 0);
    std::filesystem::create_symlink("/dev/zero", folder.Dir() / "zero.reg");
    { std::ofstream sparse(folder.Dir() / "huge.reg"); }
    std::filesystem::resize_file(folder.Dir() / "huge.reg", kMaxHiveBytes + 1);
    const std::pair<const char*, const char*> cases[] = {{"pipe.reg", "not a regular file"},
                                                         {"zero.reg", "not a regular file"},
                                                         {"huge.reg", "file too large"}};
    for (const auto& [name, why] : cases) {
        RegistryStore store;
        std::string error;
        EXPECT_FALSE(store.ReadText(folder.Dir() / name, &error)) << name;
        EXPECT_EQ(error, std::string(name) + ": " + why);
    }
    // A text handed over whole is held to the same bound. Its pages, zeros if they were
    // read, are never made.
    const size_t size = kMaxHiveBytes + 1;
    void* zeros =
        ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    ASSERT_NE(zeros, MAP_FAILED);
    std::string_view tooLong(static_cast<const char*>(zeros), size);
    HiveParseError parseError;
    RegistryStore store;
    HiveInfo info;
    EXPECT_FALSE(ReadHive(store, store.NewDetachedKey(), &tooLong, &info, &parseError));
    EXPECT_EQ(parseError.message, "file too large");
    ::munmap(zeros, size);
}

}  // namespace
}  // namespace hivewise
