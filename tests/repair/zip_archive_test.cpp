#include "repair/zip_archive.h"

#include <gtest/gtest.h>
#include <malloc.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <random>

#include "platform/temp_prefix.h"

namespace hivewise {
namespace {

namespace fs = std::filesystem;

std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}
void WriteText(const fs::path& path, std::string_view text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}
bool HaveProgram(const char* name) {
    return std::system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0;
}
// Every file below `dir`, relative, sorted.
std::vector<std::string> FilesBelow(const fs::path& dir) {
    std::vector<std::string> files;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(dir, ec), end; it != end; it.increment(ec)) {
        if (!it->is_directory()) files.push_back(it->path().lexically_relative(dir).string());
    }
    std::sort(files.begin(), files.end());
    return files;
}

class ZipArchiveTest : public ::testing::Test {
  protected:
    fs::path Dir() const { return temp.Dir(); }
    // An encrypted archive of two files, bytes, a nested file and an empty folder.
    fs::path MakeArchive(std::string_view password = "secret") {
        WriteText(Dir() / "src" / "a.txt", std::string(5000, 'a') + "end");
        WriteText(Dir() / "src" / "b.bin", std::string("\0\x01\xff\r\n", 5));
        fs::path archive = Dir() / "out.zip";
        ZipWriter writer;
        EXPECT_EQ(writer.Create(archive, password), ZipStatus::kOk) << writer.LastError();
        EXPECT_EQ(writer.AddFile("a.txt", Dir() / "src" / "a.txt"), ZipStatus::kOk);
        EXPECT_EQ(writer.AddFile("b.bin", Dir() / "src" / "b.bin"), ZipStatus::kOk);
        EXPECT_EQ(writer.AddBytes("Config.ini", "[TYPE:FILE]\r\r\n"), ZipStatus::kOk);
        EXPECT_EQ(writer.AddBytes("sub/deep/c.txt", "nested"), ZipStatus::kOk);
        EXPECT_EQ(writer.AddFolder("empty"), ZipStatus::kOk);
        EXPECT_EQ(writer.Close(), ZipStatus::kOk) << writer.LastError();
        return archive;
    }
    void ExpectExtracted(const fs::path& dir) {
        EXPECT_EQ(ReadText(dir / "a.txt"), std::string(5000, 'a') + "end");
        EXPECT_EQ(ReadText(dir / "b.bin"), std::string("\0\x01\xff\r\n", 5));
        EXPECT_EQ(ReadText(dir / "Config.ini"), "[TYPE:FILE]\r\r\n");
        EXPECT_EQ(ReadText(dir / "sub" / "deep" / "c.txt"), "nested");
        EXPECT_TRUE(fs::is_directory(dir / "empty"));
    }
    testing::TempPrefix temp;
};

TEST_F(ZipArchiveTest, WrittenEntriesListAndExtractWithThePassword) {
    fs::path archive = MakeArchive();
    ZipReader reader;
    ASSERT_EQ(reader.Open(archive, "secret"), ZipStatus::kOk) << reader.LastError();
    ASSERT_EQ(reader.EntryCount(), 5);
    std::vector<ZipEntryInfo> entries = reader.Entries();
    EXPECT_EQ(entries[0].name, "a.txt");
    EXPECT_TRUE(entries[0].encrypted);
    EXPECT_LT(entries[0].compressedSize, entries[0].size);  // deflated
    EXPECT_TRUE(entries[4].folder);
    EXPECT_EQ(reader.FindEntry("config.INI", true), 2);
    EXPECT_EQ(reader.FindEntry("config.INI", false), -1);
    EXPECT_EQ(reader.FindEntry("missing", true), -1);

    std::string bytes;
    EXPECT_EQ(reader.ReadEntry(3, &bytes), ZipStatus::kOk);
    EXPECT_EQ(bytes, "nested");
    EXPECT_EQ(reader.ReadEntry(0, &bytes, 100), ZipStatus::kDamaged);  // over the limit

    reader.SetBaseFolder(Dir() / "x");
    WriteText(Dir() / "x" / "a.txt", "old content replaced");
    EXPECT_EQ(reader.ExtractAll(), ZipStatus::kOk) << reader.LastError();
    ExpectExtracted(Dir() / "x");
    EXPECT_EQ(reader.ExtractAs(3, "flat.txt"), ZipStatus::kOk);
    EXPECT_EQ(ReadText(Dir() / "x" / "flat.txt"), "nested");
    EXPECT_EQ(reader.ExtractAs(3, "../flat.txt"), ZipStatus::kUnsafeName);
}

// The traditional encryption tells a wrong password by one byte of each entry's header,
// which a wrong password matches for about one entry in 256; that entry's data then fails
// its CRC. Either way no byte comes out and no file is left, and the password is named as
// wrong for the other entries.
TEST_F(ZipArchiveTest, WrongOrMissingPasswordExtractsNothing) {
    fs::path archive = MakeArchive();
    for (std::string_view password : {"wrong", ""}) {
        ZipReader reader;
        ASSERT_EQ(reader.Open(archive, password), ZipStatus::kOk);
        EXPECT_EQ(reader.EntryCount(), 5);  // the directory is not encrypted
        reader.SetBaseFolder(Dir() / "y");
        int toldWrong = 0;
        for (int entry = 0; entry < 4; ++entry) {
            std::string bytes = "left over";
            for (ZipStatus status : {reader.Extract(entry), reader.ReadEntry(entry, &bytes)}) {
                EXPECT_TRUE(status == ZipStatus::kWrongPassword || status == ZipStatus::kDamaged)
                    << "entry " << entry << ": " << static_cast<int>(status);
                toldWrong += status == ZipStatus::kWrongPassword;
            }
            EXPECT_TRUE(bytes.empty()) << "entry " << entry;
        }
        // All eight answers pass the check byte by chance once in 256 to the eighth.
        EXPECT_GT(toldWrong, 0);
    }
    EXPECT_TRUE(FilesBelow(Dir() / "y").empty());
}

TEST_F(ZipArchiveTest, UnencryptedArchiveAndFolderTree) {
    WriteText(Dir() / "tree" / "one.txt", "1");
    WriteText(Dir() / "tree" / "two" / "three.txt", "3");
    fs::create_directories(Dir() / "tree" / "void");
    ZipWriter writer;
    ASSERT_EQ(writer.Create(Dir() / "plain.zip"), ZipStatus::kOk);
    ASSERT_EQ(writer.AddFolderTree(Dir() / "tree", "top"), ZipStatus::kOk);
    EXPECT_EQ(writer.AddFile("gone", Dir() / "no-such-file"), ZipStatus::kNoSuchEntry);
    ASSERT_EQ(writer.Close(), ZipStatus::kOk);

    ZipReader reader;
    ASSERT_EQ(reader.Open(Dir() / "plain.zip"), ZipStatus::kOk);
    EXPECT_FALSE(reader.Entry(0).encrypted);
    EXPECT_NE(reader.FindEntry("top/two/three.txt", false), -1);
    EXPECT_NE(reader.FindEntry("top/void/", false), -1);
    reader.SetBaseFolder(Dir() / "out");
    ASSERT_EQ(reader.ExtractAll(), ZipStatus::kOk);
    EXPECT_EQ(ReadText(Dir() / "out" / "top" / "two" / "three.txt"), "3");
    EXPECT_TRUE(fs::is_directory(Dir() / "out" / "top" / "void"));
}

TEST_F(ZipArchiveTest, EmptyArchiveAndCreationFailures) {
    fs::path archive = Dir() / "empty.zip";
    ZipWriter writer;
    ASSERT_EQ(writer.Create(archive, "pw"), ZipStatus::kOk);
    // On disk already, before anything is added.
    EXPECT_TRUE(fs::exists(archive));
    EXPECT_EQ(writer.Close(), ZipStatus::kOk);
    ZipReader reader;
    ASSERT_EQ(reader.Open(archive, "pw"), ZipStatus::kOk);
    EXPECT_EQ(reader.EntryCount(), 0);

    EXPECT_EQ(writer.Create(archive, "pw", false), ZipStatus::kCannotWrite);
    EXPECT_EQ(writer.Create(Dir() / "no" / "such" / "folder.zip"), ZipStatus::kCannotWrite);
    EXPECT_FALSE(writer.LastError().empty());
    EXPECT_EQ(writer.AddBytes("x", "y"), ZipStatus::kNotOpen);

    // An archive that is dropped unclosed keeps its empty state, not half an archive.
    {
        ZipWriter dropped;
        ASSERT_EQ(dropped.Create(Dir() / "dropped.zip"), ZipStatus::kOk);
        dropped.AddBytes("x", "y");
    }
    ASSERT_EQ(reader.Open(Dir() / "dropped.zip"), ZipStatus::kOk);
    EXPECT_EQ(reader.EntryCount(), 0);
    EXPECT_EQ(reader.Open(Dir() / "missing.zip"), ZipStatus::kCannotOpen);
    WriteText(Dir() / "text.zip", "this is not an archive at all, just some text");
    EXPECT_EQ(reader.Open(Dir() / "text.zip"), ZipStatus::kNotAnArchive);

    // A close that cannot write fails, and leaves no temporary file where it could.
    fs::create_directories(Dir() / "gone");
    ZipWriter cut;
    ASSERT_EQ(cut.Create(Dir() / "gone" / "cut.zip", "pw"), ZipStatus::kOk);
    ASSERT_EQ(cut.AddBytes("x", std::string(3u << 20, 'x')), ZipStatus::kOk);
    fs::remove_all(Dir() / "gone");
    EXPECT_EQ(cut.Close(), ZipStatus::kCannotWrite);
    EXPECT_FALSE(cut.LastError().empty());
    EXPECT_FALSE(fs::exists(Dir() / "gone"));
}

TEST_F(ZipArchiveTest, EntryNamesNeverLeaveTheBaseFolder) {
    fs::path base = Dir() / "base";
    fs::create_directories(base);
    fs::create_directories(Dir() / "outside");
    WriteText(Dir() / "outside" / "victim", "untouched");
    fs::create_directory_symlink(Dir() / "outside", base / "linkdir");
    fs::create_symlink(Dir() / "outside" / "victim", base / "linkfile");

    ZipWriter writer;
    ASSERT_EQ(writer.Create(Dir() / "evil.zip"), ZipStatus::kOk);
    for (const char* name : {"../escape", "a/../../escape", "/abs", "\\abs", "C:\\escape",
                             "C:escape", "a\\..\\..\\escape", "linkdir/victim"}) {
        ASSERT_EQ(writer.AddBytes(name, "evil"), ZipStatus::kOk) << name;
    }
    ASSERT_EQ(writer.AddBytes("linkfile", "replaces the link, not its target"), ZipStatus::kOk);
    ASSERT_EQ(writer.AddBytes("ok\\nested.txt", "fine"), ZipStatus::kOk);
    ASSERT_EQ(writer.Close(), ZipStatus::kOk);

    ZipReader reader;
    ASSERT_EQ(reader.Open(Dir() / "evil.zip"), ZipStatus::kOk);
    reader.SetBaseFolder(base);
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(reader.Extract(i), ZipStatus::kUnsafeName) << reader.Entry(i).name;
    }
    // A folder part that is a link out of the base folder is not followed.
    EXPECT_EQ(reader.Extract(7), ZipStatus::kCannotWrite);
    EXPECT_EQ(reader.Extract(8), ZipStatus::kOk);
    EXPECT_EQ(reader.Extract(9), ZipStatus::kOk);
    EXPECT_EQ(ReadText(base / "ok" / "nested.txt"), "fine");
    EXPECT_EQ(ReadText(Dir() / "outside" / "victim"), "untouched");
    EXPECT_FALSE(fs::is_symlink(base / "linkfile"));
    EXPECT_FALSE(fs::exists(Dir() / "escape"));
    EXPECT_FALSE(fs::exists(Dir() / "abs"));
    EXPECT_EQ(FilesBelow(Dir() / "outside"), std::vector<std::string>{"victim"});

    fs::path relative;
    EXPECT_FALSE(SafeEntryPath(std::string_view("bad\x01name"), &relative));
    EXPECT_FALSE(SafeEntryPath("./.", &relative));
    EXPECT_TRUE(SafeEntryPath("./a//b\\c", &relative));
    EXPECT_EQ(relative, fs::path("a") / "b" / "c");
}

TEST_F(ZipArchiveTest, OtherToolsExtractWithThePassword) {
    fs::path archive = MakeArchive("quarry");
    bool any = false;
    if (HaveProgram("unzip")) {
        any = true;
        fs::path out = Dir() / "unzip";
        std::string command = "unzip -qq -P quarry '" + archive.string() + "' -d '" + out.string() +
                              "' >/dev/null 2>&1";
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
        ExpectExtracted(out);
        command = "unzip -qq -P wrong -o '" + archive.string() + "' -d '" +
                  (Dir() / "bad").string() + "' >/dev/null 2>&1";
        EXPECT_NE(std::system(command.c_str()), 0);
    }
    if (HaveProgram("7z")) {
        any = true;
        fs::path out = Dir() / "7z";
        std::string command =
            "7z x -y -pquarry '-o" + out.string() + "' '" + archive.string() + "' >/dev/null 2>&1";
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
        ExpectExtracted(out);
    }
    if (!any) GTEST_SKIP() << "neither unzip nor 7z is installed";
}

// Entries deflated ahead are stored as they are, encrypted like the others: this reader,
// unzip and 7z take them back with the password only.
TEST_F(ZipArchiveTest, EntriesDeflatedAheadReadBackWithThePasswordOnly) {
    std::string records;
    Deflater pieces;
    for (int i = 0; i < 20000; ++i) {
        std::string record = "[TYPE:VALUE]\r\r\n[KEY:HKEY_LOCAL_MACHINE\\Software\\App" +
                             std::to_string(i) + "]\r\r\n";
        records += record;
        pieces.Append(record);
    }
    DeflatedBytes config, export1, empty;
    ASSERT_TRUE(pieces.Finish(&config));
    ASSERT_TRUE(Deflate("REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Gone]\r\n", &export1));
    ASSERT_TRUE(Deflate({}, &empty));
    fs::path archive = Dir() / "ahead.zip";
    ZipWriter writer;
    ASSERT_EQ(writer.Create(archive, "quarry"), ZipStatus::kOk);
    ASSERT_EQ(writer.AddDeflated("Config.ini", std::move(config)), ZipStatus::kOk);
    ASSERT_EQ(writer.AddDeflated("rkBackUp1.reg", std::move(export1)), ZipStatus::kOk);
    ASSERT_EQ(writer.AddDeflated("empty.txt", std::move(empty)), ZipStatus::kOk);
    ASSERT_EQ(writer.AddBytes("plain.txt", "added plain"), ZipStatus::kOk);
    ASSERT_EQ(writer.Close(), ZipStatus::kOk) << writer.LastError();

    auto expectEntries = [&](const std::function<std::string(const std::string&)>& read) {
        EXPECT_EQ(read("Config.ini"), records);
        EXPECT_EQ(read("rkBackUp1.reg"), "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Gone]\r\n");
        EXPECT_EQ(read("empty.txt"), "");
        EXPECT_EQ(read("plain.txt"), "added plain");
    };
    ZipReader reader;
    ASSERT_EQ(reader.Open(archive, "quarry"), ZipStatus::kOk);
    for (const ZipEntryInfo& entry : reader.Entries()) {
        EXPECT_TRUE(entry.encrypted || entry.size == 0) << entry.name;
    }
    expectEntries([&](const std::string& name) {
        std::string bytes;
        EXPECT_EQ(reader.ReadEntry(reader.FindEntry(name, false), &bytes), ZipStatus::kOk) << name;
        return bytes;
    });
    ZipReader wrong;
    ASSERT_EQ(wrong.Open(archive, "wrong"), ZipStatus::kOk);
    std::string bytes;
    EXPECT_NE(wrong.ReadEntry(wrong.FindEntry("Config.ini", false), &bytes), ZipStatus::kOk);
    EXPECT_TRUE(bytes.empty());

    for (const char* tool : {"unzip", "7z"}) {
        if (!HaveProgram(tool)) continue;
        fs::path out = Dir() / tool;
        std::string command =
            std::string(tool) == "unzip"
                ? "unzip -qq -P quarry '" + archive.string() + "' -d '" + out.string() + "'"
                : "7z x -y -pquarry '-o" + out.string() + "' '" + archive.string() + "'";
        ASSERT_EQ(std::system((command + " >/dev/null 2>&1").c_str()), 0) << command;
        expectEntries([&](const std::string& name) { return ReadText(out / name); });
    }
}

// Damaged archives: every truncation and many byte changes must fail cleanly, never
// crash, and never leave a part of an entry behind.
// An entry flagged with an encryption libzip cannot undo is refused as damaged, and
// refusing it again and again keeps no memory.
TEST_F(ZipArchiveTest, UnsupportedEncryptionFailsWithoutKeepingMemory) {
    fs::path archive = Dir() / "strong.zip";
    {
        ZipWriter writer;
        ASSERT_EQ(writer.Create(archive, "secret"), ZipStatus::kOk);
        ASSERT_EQ(writer.AddBytes("a.txt", "hello hello hello"), ZipStatus::kOk);
        ASSERT_EQ(writer.Close(), ZipStatus::kOk);
    }
    // The flag word of the local header and of the central directory's record.
    std::string bytes = ReadText(archive);
    size_t central = bytes.find("PK\x01\x02");
    ASSERT_NE(central, std::string::npos);
    for (size_t flags : {size_t{6}, central + 8}) {
        ASSERT_TRUE(bytes[flags] & 0x01) << "encrypted";
        bytes[flags] = static_cast<char>(bytes[flags] | 0x40);
    }
    WriteText(archive, bytes);

    ZipReader reader;
    ASSERT_EQ(reader.Open(archive, "secret"), ZipStatus::kOk);
    std::string content;
    EXPECT_EQ(reader.ReadEntry(0, &content), ZipStatus::kDamaged);
    reader.SetBaseFolder(Dir() / "out");
    EXPECT_EQ(reader.Extract(0), ZipStatus::kDamaged);
    EXPECT_EQ(FilesBelow(Dir() / "out"), std::vector<std::string>{});
    size_t before = mallinfo2().uordblks;
    for (int i = 0; i < 200; ++i)
        reader.ReadEntry(0, &content);
    EXPECT_LT(static_cast<long>(mallinfo2().uordblks) - static_cast<long>(before), 16 * 1024)
        << "bytes still allocated";
}

TEST_F(ZipArchiveTest, DamagedArchivesFailCleanly) {
    fs::path archive = MakeArchive();
    std::string good = ReadText(archive);
    std::mt19937 random(1234);
    fs::path damaged = Dir() / "damaged.zip";
    fs::path out = Dir() / "damaged-out";
    int failures = 0;
    for (int round = 0; round < 400; ++round) {
        std::string bytes = good;
        if (round < 100) {
            bytes.resize(random() % bytes.size());
        } else {
            for (int flips = 1 + round % 4; flips > 0; --flips) {
                bytes[random() % bytes.size()] ^= static_cast<char>(1 + random() % 255);
            }
        }
        WriteText(damaged, bytes);
        fs::remove_all(out);
        ZipReader reader;
        if (reader.Open(damaged, "secret") != ZipStatus::kOk) {
            ++failures;
            continue;
        }
        reader.SetBaseFolder(out);
        for (int i = 0; i < reader.EntryCount(); ++i) {
            ZipEntryInfo info = reader.Entry(i);
            ZipStatus status = reader.Extract(i);
            fs::path relative;
            if (status != ZipStatus::kOk) {
                ++failures;
                if (SafeEntryPath(info.name, &relative)) {
                    EXPECT_FALSE(fs::is_regular_file(out / relative)) << info.name;
                }
            }
        }
        for (const std::string& file : FilesBelow(out)) {
            EXPECT_EQ(file.find(".hivewise-extract"), std::string::npos) << file;
        }
    }
    EXPECT_GT(failures, 100);
    EXPECT_TRUE(FilesBelow(Dir() / "src").size() == 2);
}

// Entries are read through a window over the file: entries that straddle its edges, are
// larger than it, or are read out of order come back whole; a file cut after opening
// fails the entries it lost instead of giving what lay in the window before.
TEST_F(ZipArchiveTest, EntriesAcrossTheReadWindowAndAFileCutAfterOpening) {
    std::mt19937 random(77);
    std::vector<std::string> contents;
    fs::path archive = Dir() / "many.zip";
    {
        ZipWriter writer;
        ASSERT_EQ(writer.Create(archive, "pw"), ZipStatus::kOk);
        for (int i = 0; i < 60; ++i) {
            // Noise does not deflate: sizes near and beyond the window stay as large.
            std::string bytes(i % 7 == 0 ? 150000 + i : 300 + (random() % 9000), '\0');
            for (char& c : bytes)
                c = static_cast<char>(random());
            contents.push_back(bytes);
            ASSERT_EQ(writer.AddBytes("e" + std::to_string(i), bytes), ZipStatus::kOk);
        }
        ASSERT_EQ(writer.Close(), ZipStatus::kOk) << writer.LastError();
    }
    ZipReader reader;
    ASSERT_EQ(reader.Open(archive, "pw"), ZipStatus::kOk) << reader.LastError();
    ASSERT_EQ(reader.EntryCount(), 60);
    std::string bytes;
    for (int i = 59; i >= 0; --i) {
        ASSERT_EQ(reader.ReadEntry(i, &bytes), ZipStatus::kOk) << i << reader.LastError();
        EXPECT_EQ(bytes, contents[static_cast<size_t>(i)]) << i;
    }
    for (int i = 0; i < 60; i += 3) {
        ASSERT_EQ(reader.ReadEntry(i, &bytes), ZipStatus::kOk) << i;
        EXPECT_EQ(bytes, contents[static_cast<size_t>(i)]) << i;
    }

    // Cut to a third while open; what the reader saw of it before stays in its window.
    ZipReader cut;
    ASSERT_EQ(cut.Open(archive, "pw"), ZipStatus::kOk);
    ASSERT_EQ(cut.ReadEntry(0, &bytes), ZipStatus::kOk);
    fs::resize_file(archive, fs::file_size(archive) / 3);
    int lost = 0;
    for (int i = 0; i < 60; ++i) {
        ZipStatus status = cut.ReadEntry(i, &bytes);
        if (status == ZipStatus::kOk) {
            EXPECT_EQ(bytes, contents[static_cast<size_t>(i)]) << i;
        } else {
            ++lost;
            EXPECT_TRUE(bytes.empty());
        }
    }
    EXPECT_GT(lost, 30);
}

}  // namespace
}  // namespace hivewise
