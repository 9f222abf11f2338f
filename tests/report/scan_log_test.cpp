#include "report/scan_log.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/registry/registry_access.h"
#include "platform/temp_prefix.h"

namespace hivewise {
namespace {

using testing::TempPrefix;

std::tm March7th2007() {
    std::tm t{};
    t.tm_year = 107;
    t.tm_mon = 2;
    t.tm_mday = 7;
    t.tm_hour = 14;
    t.tm_min = 5;
    t.tm_sec = 9;
    return t;
}

Problem Finding() {
    return Problem(4, {.location = "HKEY_LOCAL_MACHINE\\SOFTWARE\\X",
                       .valueName = "name",
                       .valueData = "C:\\gone.exe"});
}

constexpr const char* kHeaderOnDisk =
    "Hivewise Version = 6.2\r\r\nWindows XP\r\r\n--------------------------------------------"
    "\r\r\n\r\r\n";
constexpr const char* kBlockOnDisk =
    "\r\r\nKey : HKEY_LOCAL_MACHINE\\SOFTWARE\\X\r\r\nValueName : name\r\r\nValue : "
    "C:\\gone.exe\r\r\n";

class ScanLogTest : public ::testing::Test {
  protected:
    void Load(const std::string& logPath) {
        prefix.SystemReg("\n[Software\\\\Classes] 1700000000\n");
        prefix.UserReg("\n[Software\\\\Hivewise] 1700000000\n\"Log File Path\"=\"" + logPath +
                       "\"\n");
        machine = prefix.Load();
        ASSERT_TRUE(machine) << prefix.LastError();
    }
    TempPrefix prefix;
    std::unique_ptr<Machine> machine;
};

TEST(ScanLogFormat, NameHeaderAndBlock) {
    EXPECT_EQ(LogFileName("C:\\logs", March7th2007()), "C:\\logs\\7-3-2007 (14-5-9).txt");
    EXPECT_EQ(LogHeader("Windows 98"),
              "Hivewise Version = 6.2\r\nWindows 98\r\n" + std::string(44, '-') + "\r\n\r\n");
    EXPECT_EQ(LogBlock(Finding()),
              "\r\nKey : HKEY_LOCAL_MACHINE\\SOFTWARE\\X\r\nValueName : name\r\nValue : "
              "C:\\gone.exe\r\n");
    EXPECT_EQ(TextModeBytes("a\r\nb\n"), "a\r\r\nb\r\n");
}

TEST_F(ScanLogTest, CreatesTheFolderAndWritesCrCrLf) {
    // Trailing backslashes of the setting are dropped; missing folders are made.
    Load("C:\\\\Program Files\\\\Hivewise\\\\logs\\\\\\\\");
    ScanLog log(*machine, "Windows XP");
    log.StartLog(March7th2007());
    EXPECT_EQ(log.CurrentFile(), "C:\\Program Files\\Hivewise\\logs\\7-3-2007 (14-5-9).txt");
    log.AppendFinding(Finding());
    log.EndLog();
    auto file = std::filesystem::path("drive_c/Program Files/Hivewise/logs/7-3-2007 (14-5-9).txt");
    EXPECT_EQ(prefix.Read(file), std::string(kHeaderOnDisk) + kBlockOnDisk);

    // A second scan in the same second appends to the same file.
    log.StartLog(March7th2007());
    EXPECT_EQ(prefix.Read(file), std::string(kHeaderOnDisk) + kBlockOnDisk + kHeaderOnDisk);
}

TEST_F(ScanLogTest, EveryBlockOfALargeScanIsInTheFileWhenItEnds) {
    Load("C:\\\\logs");
    auto file = std::filesystem::path("drive_c/logs/7-3-2007 (14-5-9).txt");
    std::string expected = kHeaderOnDisk;
    {
        ScanLog log(*machine, "Windows XP");
        log.StartLog(March7th2007());
        for (int i = 0; i < 3000; ++i) {
            std::string data = "C:\\gone\\" + std::to_string(i) + ".exe";
            log.AppendFinding(Problem(4, {.location = "HKEY_LOCAL_MACHINE\\SOFTWARE\\X",
                                          .valueName = "name",
                                          .valueData = data}));
            expected +=
                "\r\r\nKey : HKEY_LOCAL_MACHINE\\SOFTWARE\\X\r\r\nValueName : name\r\r\nValue : " +
                data + "\r\r\n";
        }
        log.EndLog();
        EXPECT_EQ(prefix.Read(file), expected);

        // After the end nothing more is written, until the next scan starts its own file.
        log.AppendFinding(Finding());
        EXPECT_EQ(prefix.Read(file), expected);
        log.StartLog(March7th2007());
        log.AppendFinding(Finding());
    }
    // A log that goes away without an end still writes what it held.
    EXPECT_EQ(prefix.Read(file), expected + kHeaderOnDisk + kBlockOnDisk);
}

TEST_F(ScanLogTest, NoUsableFolderMeansNoLog) {
    Load("Q:\\\\nowhere");
    ScanLog log(*machine, "Windows XP");
    log.StartLog(March7th2007());
    log.AppendFinding(Finding());  // nothing to write to, and no crash
    EXPECT_FALSE(std::filesystem::exists(prefix.Dir() / "drive_c" / "7-3-2007 (14-5-9).txt"));

    // A folder that is a file cannot hold the log either.
    TempPrefix other;
    other.File("blocked", "x");
    other.SystemReg("");
    other.UserReg("\n[Software\\\\Hivewise] 1700000000\n\"Log File Path\"=\"C:\\\\blocked\"\n");
    auto second = other.Load();
    ASSERT_TRUE(second);
    ScanLog blocked(*second, "Windows XP");
    blocked.StartLog(March7th2007());
    blocked.AppendFinding(Finding());
    EXPECT_EQ(other.Read("drive_c/blocked"), "x");
}

TEST_F(ScanLogTest, ALinkInTheFilesPlaceIsNotWrittenThrough) {
    Load("C:\\\\logs");
    prefix.File("logs/keep.txt", "x");
    const std::filesystem::path outside = prefix.Dir() / "outside.txt";
    std::ofstream(outside) << "mine";
    std::filesystem::create_symlink(outside, prefix.Dir() / "drive_c/logs/7-3-2007 (14-5-9).txt");
    ScanLog log(*machine, "Windows XP");
    log.StartLog(March7th2007());
    log.AppendFinding(Finding());
    log.EndLog();
    EXPECT_EQ(prefix.Read("outside.txt"), "mine");
}

TEST_F(ScanLogTest, MissingSettingWritesNothing) {
    prefix.SystemReg("");
    prefix.UserReg("\n[Software\\\\Hivewise] 1700000000\n");
    machine = prefix.Load();
    ASSERT_TRUE(machine);
    ScanLog log(*machine, "Windows XP");
    log.StartLog(March7th2007());
    EXPECT_TRUE(log.CurrentFile().empty());
    EXPECT_FALSE(std::filesystem::exists(prefix.Dir() / "drive_c" / "7-3-2007 (14-5-9).txt"));
}

TEST_F(ScanLogTest, HeaderNamesTheMachinesSystem) {
    Load("C:\\\\logs");
    std::string name = MachineOsName(*machine);
    EXPECT_EQ(name.rfind("Windows XP", 0), 0u) << name;
    ScanLog log(*machine, name);
    log.StartLog(March7th2007());
    EXPECT_EQ(prefix.Read("drive_c/logs/7-3-2007 (14-5-9).txt"), TextModeBytes(LogHeader(name)));
}

}  // namespace
}  // namespace hivewise
