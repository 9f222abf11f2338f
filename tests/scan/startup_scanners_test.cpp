#include "scan/scanners/startup_scanners.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/machine/sample_machine.h"
#include "platform/temp_prefix.h"
#include "scanner_harness.h"

namespace hivewise {
namespace {

namespace fs = std::filesystem;

constexpr const char* kMissingText = "The file (%s) does not exist at the specified location";
constexpr const char* kMachineRun =
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr const char* kUserRun =
    "HKEY_CURRENT_USER\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr const char* kSounds = "HKEY_CURRENT_USER\\Control Panel\\Sounds\\";
constexpr const char* kUserAssist =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\UserAssist";

using testing::ScanRun;

using testing::RunScanner;

void ExpectFinding(const Problem& p, int section, const std::string& item,
                   const std::string& location, const std::string& valueName,
                   const std::string& valueData) {
    testing::ExpectFinding(p, section, item, location, valueName, valueData, kMissingText);
}

// Drive C: fixed, D: a CD-ROM; one installed program and a sound file.
class StartupScannerTest : public testing::DrivesTest {
  protected:
    void SetUp() override {
        DrivesTest::SetUp();
        prefix.File("Program Files/App/app.exe", "MZ");
        prefix.File("windows/Media/ding.wav", "RIFF");
    }
};

TEST_F(StartupScannerTest, RunKeysOfMachineThenUser) {
    auto machine = Load(R"(
[Software\\Microsoft\\Windows\\CurrentVersion\\Run] 1700000000
"Plain"="C:\\Program Files\\App\\app.exe"
"WithArgs"="\"C:\\Program Files\\App\\app.exe\" /tray"
"Tool"="C:\\Tool\\tool.exe /min"
"Cd"="D:\\autorun.exe"
"TooLong"="C:\\)" + std::string(258, 'x') +
                            R"("
"Empty"=""
)",
                        R"(
[Software\\Microsoft\\Windows\\CurrentVersion\\Run] 1700000000
"Agent"="\"C:\\Program Files\\Gone\\agent.exe\" -background"
)");
    ASSERT_TRUE(machine);
    ScanRun r = RunScanner(*machine, ScanStartupPrograms);
    ASSERT_EQ(r.found.size(), 3u);
    ExpectFinding(r.found[0], 8, "C:\\Tool\\tool.exe /min", kMachineRun, "Tool",
                  "C:\\Tool\\tool.exe /min");
    // Empty data is judged missing like any text of two characters or fewer.
    ExpectFinding(r.found[1], 8, "", kMachineRun, "Empty", "");
    ExpectFinding(r.found[2], 8, "\"C:\\Program Files\\Gone\\agent.exe\" -background", kUserRun,
                  "Agent", "\"C:\\Program Files\\Gone\\agent.exe\" -background");
    // Every value steps the bar; the one too long for the buffer shows no status line.
    EXPECT_EQ(r.steps, 7);
    EXPECT_EQ(r.pumps, 6);
    EXPECT_EQ(r.statusLine,
              std::string(kUserRun) + "\\\"C:\\Program Files\\Gone\\agent.exe\" -background");
    EXPECT_EQ(machine->Handles().OpenCount(), 0u);
}

TEST_F(StartupScannerTest, WithoutTheMachineRunKeyTheUserKeyIsNotScanned) {
    auto machine = Load("", R"(
[Software\\Microsoft\\Windows\\CurrentVersion\\Run] 1700000000
"Agent"="C:\\Gone\\agent.exe"
)");
    ASSERT_TRUE(machine);
    ScanRun r = RunScanner(*machine, ScanStartupPrograms);
    EXPECT_TRUE(r.found.empty());
    EXPECT_EQ(r.steps, 0);
}

TEST_F(StartupScannerTest, ClearedFlagEndsBothPasses) {
    auto machine = Load(R"(
[Software\\Microsoft\\Windows\\CurrentVersion\\Run] 1700000000
"A"="C:\\Gone\\a.exe"
"B"="C:\\Gone\\b.exe"
)",
                        R"(
[Software\\Microsoft\\Windows\\CurrentVersion\\Run] 1700000000
"C"="C:\\Gone\\c.exe"
)");
    ASSERT_TRUE(machine);
    EXPECT_EQ(RunScanner(*machine, ScanStartupPrograms).found.size(), 3u);
    ScanRun aborted = RunScanner(*machine, ScanStartupPrograms, /*abortOnFirst=*/true);
    ASSERT_EQ(aborted.found.size(), 1u);
    EXPECT_EQ(aborted.found[0].ValueName(), "A");
    EXPECT_EQ(aborted.steps, 1);
    ScanRun never = RunScanner(*machine, ScanStartupPrograms, false, /*flagAtStart=*/0);
    EXPECT_TRUE(never.found.empty());
    EXPECT_EQ(never.steps, 0);
    EXPECT_EQ(machine->Handles().OpenCount(), 0u);
}

TEST_F(StartupScannerTest, SoundsNameTheDataInTheirLocation) {
    auto machine = Load("", R"(
[Control Panel\\Sounds] 1700000000
"SystemDefault"="C:\\windows\\Media\\ding.wav"
"MailBeep"=","
"SystemHand"="C:\\windows\\Media\\critical.wav"
"SystemAsterisk"="chord.wav,Asterisk"
"Blank"=""
"Cd"="D:\\sounds\\lap.wav"
)");
    ASSERT_TRUE(machine);
    ScanRun r = RunScanner(*machine, ScanSounds);
    ASSERT_EQ(r.found.size(), 2u);
    ExpectFinding(r.found[0], 12, "C:\\windows\\Media\\critical.wav",
                  std::string(kSounds) + "C:\\windows\\Media\\critical.wav", "SystemHand",
                  "C:\\windows\\Media\\critical.wav");
    ExpectFinding(r.found[1], 12, "", kSounds, "Blank", "");
    EXPECT_EQ(r.steps, 6);
    EXPECT_EQ(r.pumps, 6);
    EXPECT_EQ(r.statusLine, std::string(kSounds) + "D:\\sounds\\lap.wav");

    ScanRun aborted = RunScanner(*machine, ScanSounds, /*abortOnFirst=*/true);
    EXPECT_EQ(aborted.found.size(), 1u);
    EXPECT_EQ(aborted.steps, 3);
}

TEST_F(StartupScannerTest, SoundEventsReportSchemesNamingGoneFiles) {
    prefix.File("windows/system32/beep.wav", "RIFF");
    const std::string apps = "AppEvents\\\\Schemes\\\\Apps\\\\";
    auto scheme = [&](const std::string& event, const std::string& name, const std::string& data) {
        return "[" + apps + event + "\\\\" + name + "] 1700000000\n@=" + data + "\n\n";
    };
    auto machine = Load(
        "", scheme(".Default\\\\SystemHand", ".Current", R"("C:\\windows\\Media\\critical.wav")") +
                scheme(".Default\\\\SystemHand", ".Default", R"("ding.wav")") +
                scheme(".Default\\\\SystemHand", ".Modified", R"("gone.wav")") +
                scheme(".Default\\\\Navigating", ".Current", R"("")") +
                scheme(".Default\\\\MailBeep", ".Current", R"("ding")") +
                scheme(".Default\\\\MailBeep", ".Default", R"("beep.wav")") +
                scheme("Racer\\\\Lap", ".Current", R"(str(2):"%ProgramFiles%\\Racer\\lap.wav")") +
                scheme("Racer\\\\Lap", ".Default", R"("gone.wav")") +
                scheme("Racer\\\\Start", ".Current", R"("D:\\racer\\start.wav")"));
    ASSERT_TRUE(machine);
    ScanRun r = RunScanner(*machine, ScanSounds);
    // Other schemes than .Current and .Default are not the sound played; empty data is no
    // sound; a bare name is looked up in the Media folder (".wav" added when it has no
    // extension) and on the search path; a CD-ROM may be out of its drive.
    const std::string events = "HKEY_CURRENT_USER\\AppEvents\\Schemes\\Apps\\";
    std::vector<std::string> found;
    for (const Problem& p : r.found)
        found.emplace_back(p.Location());
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found,
              (std::vector<std::string>{
                  events + ".Default\\SystemHand\\.Current\\C:\\windows\\Media\\critical.wav",
                  events + "Racer\\Lap\\.Current\\%ProgramFiles%\\Racer\\lap.wav",
                  events + "Racer\\Lap\\.Default\\gone.wav",
              }));
    for (const Problem& p : r.found) {
        if (p.Location().find("SystemHand") == std::string::npos) continue;
        ExpectFinding(p, 12, "C:\\windows\\Media\\critical.wav",
                      events + ".Default\\SystemHand\\.Current\\C:\\windows\\Media\\critical.wav",
                      "(Default)", "C:\\windows\\Media\\critical.wav");
    }
    // The events take no progress step of their own.
    EXPECT_EQ(r.steps, 0);
    EXPECT_EQ(machine->Handles().OpenCount(), 0u);
    EXPECT_EQ(RunScanner(*machine, ScanSounds, /*abortOnFirst=*/true).found.size(), 1u);
}

TEST(DecodeRot13, TurnsLettersOnlyAndUndoesItself) {
    EXPECT_EQ(DecodeRot13("HRZR_EHACNGU:P:\\Tbar\\k.rkr"), "UEME_RUNPATH:C:\\Gone\\x.exe");
    EXPECT_EQ(DecodeRot13("AaNnMmZz"), "NnAaZzMm");
    const std::string other = "0123456789 :\\{}-_%,.\x80\xC4\xE9\xFF";
    EXPECT_EQ(DecodeRot13(other), other);
    std::string all;
    for (int c = 1; c < 256; ++c)
        all.push_back(static_cast<char>(c));
    EXPECT_EQ(DecodeRot13(DecodeRot13(all)), all);
    EXPECT_EQ(DecodeRot13(""), "");
}

TEST_F(StartupScannerTest, UserAssistReportsDecodedPathsOfMissingPrograms) {
    // Names as stored; each comment gives the decoded name.
    auto machine = Load("", std::string(R"(
[Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\UserAssist\\{75048700-EF1F-11D0-9888-006097DEACF9}\\Count] 1700000000
"HRZR_EHACNGU:P:\\Tbar\\k.rkr"=hex:01,00,00,00
"HRZR_EHACNGU:P:\\Cebtenz Svyrf\\Ncc\\ncc.rkr"=hex:01,00,00,00
"HRZR_PGYFRFFVBA"=hex:01,00,00,00
"HRZR_EHACNGU:%pfvqy2%\\Gbby"=hex:01,00,00,00
"HRZR_EHAPCY::{20Q04SR0-3NRN-1069-N2Q8-08002O30309Q}"=hex:01,00,00,00
"HRZR_EHACNGU:P:\\pfvqy23\\tbar.rkr"=hex:01,00,00,00
"HRZR_EHACNGU:Q:\\frghc.rkr"=hex:01,00,00,00

[Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\UserAssist\\{5E6AB780-7743-11CF-A12B-00AA004AE837}\\Count] 1700000000
"HRZR_EHACNGU:::P:\\Byq\\byq.rkr"=hex:01,00,00,00

[Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\UserAssist\\{FFFFFFFF-0000-0000-0000-000000000000}] 1700000000
)"));
    ASSERT_TRUE(machine);
    ScanRun r = RunScanner(*machine, ScanUserAssist);
    const std::string first = std::string("HKEY_CURRENT_USER\\") + kUserAssist +
                              "\\{5E6AB780-7743-11CF-A12B-00AA004AE837}\\Count";
    const std::string second = std::string("HKEY_CURRENT_USER\\") + kUserAssist +
                               "\\{75048700-EF1F-11D0-9888-006097DEACF9}\\Count";
    ASSERT_EQ(r.found.size(), 2u);
    // Sub-keys come in sorted order; leading colons go with the prefix.
    ExpectFinding(r.found[0], 13, "HRZR_EHACNGU:::P:\\Byq\\byq.rkr", first,
                  "HRZR_EHACNGU:::P:\\Byq\\byq.rkr", "C:\\Old\\old.exe");
    ExpectFinding(r.found[1], 13, "HRZR_EHACNGU:P:\\Tbar\\k.rkr", second,
                  "HRZR_EHACNGU:P:\\Tbar\\k.rkr", "C:\\Gone\\x.exe");
    // The user-assist walk neither steps the bar nor shows anything.
    EXPECT_EQ(r.steps, 0);
    EXPECT_EQ(r.pumps, 0);
    EXPECT_EQ(machine->Handles().OpenCount(), 0u);

    ScanRun aborted = RunScanner(*machine, ScanUserAssist, /*abortOnFirst=*/true);
    EXPECT_EQ(aborted.found.size(), 1u);
    EXPECT_TRUE(RunScanner(*machine, ScanUserAssist, false, /*flagAtStart=*/0).found.empty());
    EXPECT_EQ(machine->Handles().OpenCount(), 0u);
}

TEST_F(StartupScannerTest, MissingKeysReportNothing) {
    auto machine = Load("", "");
    ASSERT_TRUE(machine);
    for (Scanner scanner : {ScanStartupPrograms, ScanSounds, ScanUserAssist}) {
        ScanRun r = RunScanner(*machine, scanner);
        EXPECT_TRUE(r.found.empty());
        EXPECT_EQ(r.steps, 0);
    }
}

TEST(StartupSampleMachine, FindsExactlyTheStaleEntries) {
    std::string pattern = (fs::temp_directory_path() / "hivewise-startup-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    const fs::path dir = pattern;
    std::string error;
    ASSERT_TRUE(CreateSampleMachine(fs::path(HIVEWISE_SOURCE_DIR) / "data" / "sample-machine",
                                    dir / "m", &error))
        << error;
    auto loaded = Machine::Load(dir / "m", {.lockPrefix = false});
    ASSERT_TRUE(loaded.machine) << loaded.error;

    std::vector<std::string> found;
    for (Scanner scanner : {ScanStartupPrograms, ScanSounds, ScanUserAssist}) {
        for (const Problem& p : RunScanner(*loaded.machine, scanner).found) {
            found.push_back(std::to_string(p.sectionId) + " " + std::string(p.ValueName()) + " | " +
                            std::string(p.ValueData()));
        }
    }
    std::vector<std::string> expected = {
        "8 TailspinUpdate | C:\\Program Files\\Tailspin\\Racer\\tsupdate.exe /silent",
        "8 WoodgroveReminder | C:\\Program Files\\Woodgrove\\Budget\\wgremind.exe",
        "8 PhotoSnapAgent | \"C:\\Program Files\\Proseware\\PhotoSnap\\psagent.exe\" -background",
        "12 SystemHand | C:\\WINDOWS\\Media\\critical.wav",
        "12 TailspinLap | C:\\Program Files\\Tailspin\\Racer\\Sounds\\lap.wav",
        "12 (Default) | C:\\WINDOWS\\Media\\critical.wav",
        "12 (Default) | C:\\WINDOWS\\Media\\critical.wav",
        "12 (Default) | C:\\Program Files\\Tailspin\\Racer\\Sounds\\record.wav",
    };
    std::sort(found.begin(), found.end());
    std::sort(expected.begin(), expected.end());
    // The user-assist findings are checked by their decoded paths below.
    std::vector<std::string> registryOnly;
    for (const std::string& f : found) {
        if (f.rfind("13 ", 0) != 0) registryOnly.push_back(f);
    }
    EXPECT_EQ(registryOnly, expected);
    std::vector<std::string> assist;
    for (const std::string& f : found) {
        if (f.rfind("13 ", 0) == 0) assist.push_back(f.substr(f.find(" | ") + 3));
    }
    std::sort(assist.begin(), assist.end());
    EXPECT_EQ(assist, (std::vector<std::string>{
                          "C:\\Program Files\\Proseware\\PhotoSnap\\photosnap.exe",
                          "C:\\Program Files\\Tailspin\\Racer\\racer.exe",
                      }));

    loaded.machine.reset();
    std::error_code ec;
    fs::remove_all(dir, ec);
}

}  // namespace
}  // namespace hivewise
