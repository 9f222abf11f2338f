#include "repair/backup_records.h"

#include <gtest/gtest.h>

#include <random>

namespace hivewise {
namespace {

std::string WithLineEnds(std::string text, std::string_view end) {
    std::string out;
    for (char c : text) {
        if (c == '\n') {
            out += end;
        } else {
            out += c;
        }
    }
    return out;
}

TEST(BackupRecordsTest, RecordsAreWrittenWithDoubledCarriageReturns) {
    EXPECT_EQ(KeyRecord("HKEY_LOCAL_MACHINE\\SOFTWARE\\x", 7),
              "[TYPE:REG_KEY]\r\r\n[NAME:HKEY_LOCAL_MACHINE\\SOFTWARE\\x]\r\r\n"
              "[PATH:\\rkBackUp7.reg]\r\r\n");
    EXPECT_EQ(ValueRecord("HKEY_CURRENT_USER\\k", "", "a]b", nullptr),
              "[TYPE:REG_VALUE]\r\r\n[MAIN_KEY:HKEY_CURRENT_USER\\k]\r\r\n[VALUE_NAME:]\r\r\n"
              "[VALUE:a]b]\r\r\n");
    EXPECT_EQ(FileRecord("C:\\x\\Word.lnk"), "[TYPE:FILE]\r\r\n[DEST_PATH:C:\\x\\Word.lnk]\r\r\n");
    // A line break inside a field would split the record.
    EXPECT_EQ(FileRecord("C:\\a\nb"), "[TYPE:FILE]\r\r\n[DEST_PATH:C:\\a b]\r\r\n");
    // The value itself: its type, its name's UTF-16LE bytes and its bytes, in hex.
    ExactValue exact{u"Run\u00e9", 2, std::string("%P%\0\xff", 5)};
    EXPECT_EQ(ValueRecord("HKEY_CURRENT_USER\\k", "Run", "x\ry", &exact),
              "[TYPE:REG_VALUE]\r\r\n[MAIN_KEY:HKEY_CURRENT_USER\\k]\r\r\n[VALUE_NAME:Run]\r\r\n"
              "[VALUE:x y]\r\r\n[DATA:2,520075006E00E900,25502500FF]\r\r\n");
    EXPECT_EQ(HostFileRecord("/h/a.desktop", 0100644, "a.desktop"),
              "[TYPE:HOST_FILE]\r\r\n[HOST_PATH:/h/a.desktop]\r\r\n[MODE:644]\r\r\n"
              "[ENTRY:a.desktop]\r\r\n");
}

TEST(BackupRecordsTest, FieldReaderCutsAtTheLastBracket) {
    EXPECT_EQ(ReadRecordField("[VALUE:a]b]\r\r", "VALUE"), "a]b");
    EXPECT_EQ(ReadRecordField("[VALUE_NAME:]", "VALUE_NAME"), "");
    EXPECT_EQ(ReadRecordField("[VALUE:no bracket", "VALUE"), "");
    EXPECT_EQ(ReadRecordField("[OTHER:x]", "VALUE"), "[OTHER:x]");
    EXPECT_EQ(ReadRecordField("[TYPE", "TYPE"), "");
    // The first occurrence of the key, anywhere in the line.
    EXPECT_EQ(ReadRecordField("xxNAME=abc]", "NAME"), "abc");
}

TEST(BackupRecordsTest, RecordsReadBackWithAnyLineEnds) {
    ExactValue exact{u"Run\u00e9", 2, std::string("%P%\0\0", 5)};
    std::string records = KeyRecord("HKEY_LOCAL_MACHINE\\SOFTWARE\\App", 3) +
                          ValueRecord("HKEY_CURRENT_USER\\Run", "", "c:\\x]y", &exact) +
                          FileRecord("C:\\a\\Word.lnk") +
                          FileRecord("C:\\b\\Word.lnk", "Word~2.lnk") +
                          ValueRecord("HKEY_LOCAL_MACHINE\\S", "v", "[TYPE:FILE]", nullptr);
    std::string lf = records;
    lf.erase(std::remove(lf.begin(), lf.end(), '\r'), lf.end());
    for (std::string_view end : {"\r\r\n", "\r\n", "\n"}) {
        std::string text = WithLineEnds(lf, end);
        EXPECT_TRUE(ConfigIsSound(text));
        std::vector<BackupItem> items = ReadConfigItems(text);
        ASSERT_EQ(items.size(), 5u) << end.size();
        // A field's text that looks like a type line starts no record.
        EXPECT_EQ(ConfigRecordCount(text), 5u);
        EXPECT_EQ(items[4].first, "[TYPE:FILE]");
        EXPECT_EQ(items[0].kind, kBackupKey);
        EXPECT_EQ(items[0].first, "HKEY_LOCAL_MACHINE\\SOFTWARE\\App");
        EXPECT_EQ(items[0].second, "\\rkBackUp3.reg");
        EXPECT_EQ(items[1].kind, kBackupValue);
        EXPECT_EQ(items[1].first, "c:\\x]y");
        EXPECT_EQ(items[1].third, "HKEY_CURRENT_USER\\Run");
        EXPECT_EQ(items[1].fourth, "");
        ASSERT_TRUE(items[1].exact);
        EXPECT_EQ(items[1].exact->name, exact.name);
        EXPECT_EQ(items[1].exact->type, 2u);
        EXPECT_EQ(items[1].exact->data, exact.data);
        EXPECT_EQ(items[2].kind, kBackupFile);
        EXPECT_EQ(items[2].second, "C:\\a\\Word.lnk");
        EXPECT_EQ(items[2].entry, "");
        EXPECT_EQ(items[3].entry, "Word~2.lnk");
        EXPECT_FALSE(items[4].exact);
    }
    EXPECT_TRUE(ConfigIsSound(records));
}

TEST(BackupRecordsTest, ExtraLinesAreInvisibleToTheRecordGrammar) {
    // A reader that knows only the three records takes a line without "TYPE" for none.
    ExactValue exact{u"TYPE", 1, "TYPE"};
    std::string record = ValueRecord("HKEY_CURRENT_USER\\k", "TYPE", "x", &exact);
    std::string data = record.substr(record.find("[DATA:"));
    EXPECT_EQ(data.find("TYPE"), std::string::npos);
    std::string entry = FileRecord("C:\\b\\w.lnk", "w~2.lnk");
    entry = entry.substr(entry.find("[ENTRY:"));
    EXPECT_NE(ReadRecordField(entry, "TYPE"), "FILE");
}

TEST(BackupRecordsTest, TruncatedAndStrayRecords) {
    std::string text =
        "[TYPE:REG_KEY]\r\r\n[NAME:HKEY_USERS\\x]\r\r\n[PATH:\\rkBackUp1.reg]\r\r\n"
        "[TYPE:REG_VALUE]\r\r\n[MAIN_KEY:HKEY_USERS\\x]";
    EXPECT_EQ(ReadConfigItems(text).size(), 1u);
    EXPECT_FALSE(ConfigIsSound(text));
    // The keys of the lines after a TYPE line are not compared by the reader.
    std::vector<BackupItem> items = ReadConfigItems("junk\n[TYPE:file]\n[WRONG:C:\\x]\n");
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].second, "[WRONG:C:\\x]");
    EXPECT_FALSE(ConfigIsSound("junk\n[TYPE:FILE]\n[DEST_PATH:C:\\x]\n"));
    EXPECT_FALSE(ConfigIsSound("[TYPE:FILE]\n[WRONG:C:\\x]\n"));
    EXPECT_FALSE(ConfigIsSound("[TYPE:REG_KEY]\n[NAME:HKEY_USERS\\x]\n[PATH:\\..\\evil.reg]\n"));
    EXPECT_FALSE(ConfigIsSound("[TYPE:REG_KEY]\n[NAME:HKEY_USERS\\x]\n[PATH:\\a\\b.reg]\n"));
    EXPECT_FALSE(ConfigIsSound("[TYPE:FILE]\n[DEST_PATH:C:\\x]\n[ENTRY:..\\x]\n"));
    EXPECT_FALSE(ConfigIsSound(std::string("[TYPE:FILE]\n[DEST_PATH:C:\\x\0]\n", 30)));
    EXPECT_FALSE(
        ConfigIsSound("[TYPE:REG_VALUE]\n[MAIN_KEY:a]\n[VALUE_NAME:b]\n[VALUE:c]\n"
                      "[DATA:1,zz,00]\n"));
    EXPECT_TRUE(ConfigIsSound(""));
}

// The check of a record list passes exactly the data lines the reader decodes.
TEST(BackupRecordsTest, DataLinesCheckedAsTheyAreRead) {
    const std::string value = "[TYPE:REG_VALUE]\n[MAIN_KEY:a]\n[VALUE_NAME:b]\n[VALUE:c]\n";
    const struct {
        const char* line;
        bool sound;
    } cases[] = {
        {"[DATA:1,6100,0102]", true}, {"[DATA:3,6100,0aF9]", true},
        {"[DATA:4,,]", true},         {"[DATA:1,61,0102]", false},
        {"[DATA:1,6100,010]", false}, {"[DATA:1,6100,01G2]", false},
        {"[DATA:,6100,01]", false},   {"[DATA:99999999999,,]", false},
        {"[DATA:1,6100]", false},     {"[DATA:1,6100,0102", false},
    };
    for (const auto& c : cases) {
        const std::string text = value + c.line + "\n";
        EXPECT_EQ(ConfigIsSound(text), c.sound) << c.line;
        std::vector<BackupItem> items = ReadConfigItems(text);
        ASSERT_EQ(items.size(), 1u) << c.line;
        EXPECT_EQ(items[0].exact.has_value(), c.sound) << c.line;
        if (std::string_view(c.line).find("0aF9") != std::string_view::npos) {
            ASSERT_TRUE(items[0].exact);
            EXPECT_EQ(items[0].exact->data, "\x0a\xf9");
            EXPECT_EQ(items[0].exact->name, u"a");
        }
    }
}

TEST(BackupRecordsTest, BareNames) {
    for (std::string_view name : {"a", "rkBackUp1.reg", "...", "a b", "x.lnk"})
        EXPECT_TRUE(IsBareName(name)) << name;
    for (std::string_view name :
         {"", ".", "..", "a/b", "a\\b", "/a", "\\a", "a/", "c:x", "a:b", "a\x01b", "a\nb"})
        EXPECT_FALSE(IsBareName(name)) << name;
}

// Damaged record lists: never a crash, and whatever is read stays within the text.
TEST(BackupRecordsTest, DamagedRecordListsAreReadSafely) {
    ExactValue exact{u"n", 3, "\x01\x02"};
    std::string good = KeyRecord("HKEY_USERS\\a", 1) +
                       ValueRecord("HKEY_USERS\\a", "n", "d", &exact) +
                       FileRecord("C:\\f.lnk", "f~2.lnk");
    std::mt19937 random(99);
    for (int round = 0; round < 3000; ++round) {
        std::string text = good;
        if (round % 3 == 0) text.resize(random() % text.size());
        for (int flips = round % 5; flips > 0 && !text.empty(); --flips)
            text[random() % text.size()] = static_cast<char>(random());
        std::vector<BackupItem> items = ReadConfigItems(text);
        EXPECT_LE(items.size(), 3u);
        if (ConfigIsSound(text)) {
            EXPECT_EQ(ConfigRecordCount(text), items.size());
            for (const BackupItem& item : items) {
                if (item.kind == kBackupKey && !item.second.empty()) {
                    EXPECT_TRUE(IsBareName(item.second.substr(1)));
                }
                if (!item.entry.empty()) {
                    EXPECT_TRUE(IsBareName(item.entry));
                }
            }
        }
    }
}

TEST(BackupRecordsTest, ArchiveNamesAndTheirDates) {
    std::tm time{};
    time.tm_year = 107;
    time.tm_mon = 11;
    time.tm_mday = 7;
    time.tm_hour = 14;
    time.tm_min = 3;
    time.tm_sec = 9;
    EXPECT_EQ(ArchiveName("C:\\B", time), "C:\\B\\12,7,2007_14,3,9.zip");
    EXPECT_EQ(ArchiveName("C:\\B", time, 2), "C:\\B\\12,7,2007_14,3,9_2.zip");
    EXPECT_EQ(FormatBackupDate("12,7,2007_14,3,9"), "Friday, December 07, 2007 Time: 14:03:09");
    EXPECT_EQ(FormatBackupDate("12,7,2007_14,3,9_2"), "Friday, December 07, 2007 Time: 14:03:09");
    EXPECT_EQ(FormatBackupDate("1,1,2024_0,0,0"), "Monday, January 01, 2024 Time: 00:00:00");
    EXPECT_EQ(FormatBackupDate("12,7,2007_14,3"), "");
    EXPECT_EQ(FormatBackupDate("backup"), "");
    EXPECT_EQ(FormatBackupDate("13,7,2007_14,3,9"), "");
    EXPECT_EQ(FormatBackupDate("2,30,2007_14,3,9"), "");
    // Pieces are decimal prefixes; empty pieces are skipped.
    EXPECT_EQ(FormatBackupDate("12x,,7,2007__14,3,9"), "Friday, December 07, 2007 Time: 14:03:09");
    auto numbers = BackupNameNumbers("12,7,2007_14,3,9_3");
    ASSERT_TRUE(numbers);
    EXPECT_EQ(numbers->size(), 7u);
    EXPECT_EQ((*numbers)[6], 3);
}

}  // namespace
}  // namespace hivewise
