#include "scan/scanners/services_scanner.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/machine/sample_machine.h"
#include "platform/temp_prefix.h"
#include "scanner_harness.h"

namespace hivewise {
namespace {

namespace fs = std::filesystem;
using testing::RunScanner;
using testing::ScanRun;

constexpr const char* kServices = "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\";
constexpr const char* kVxd = "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\VXD\\";

TEST(NormaliseImagePath, ServiceExamples) {
    const std::string windows = "C:\\WINDOWS";
    struct Row {
        const char* data;
        std::optional<std::string> path;
    };
    const Row rows[] = {
        {"\\SystemRoot\\System32\\drivers\\afd.sys", "C:\\WINDOWS\\System32\\drivers\\afd.sys"},
        {"system32\\drivers\\cdrom.sys", "C:\\WINDOWS\\system32\\drivers\\cdrom.sys"},
        {"\\??\\C:\\Program Files\\Tool\\drv.sys", "C:\\Program Files\\Tool\\drv.sys"},
        {"%SystemRoot%\\System32\\svchost.exe -k netsvcs",
         "C:\\WINDOWS\\System32\\svchost.exe -k netsvcs"},
        {"mysvc -run", "C:\\WINDOWS\\mysvc.exe"},
        {"mysvc", std::nullopt},
        {"SystemRoot\\System32\\drivers\\x.sys", "C:\\WINDOWS\\System32\\drivers\\x.sys"},
        {"\\drivers\\x.sys", "C:\\WINDOWS\\drivers\\x.sys"},
        {":odd.sys", ":odd.sys"},
        // Only the folder name is replaced, not the word inside another name.
        {"C:\\Tools\\SystemRootCheck\\svc.exe", "C:\\Tools\\SystemRootCheck\\svc.exe"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.data);
        EXPECT_EQ(NormaliseImagePath(row.data, windows, windows), row.path);
    }
    // Static drivers are relative to the system directory.
    EXPECT_EQ(NormaliseImagePath("vnetsup.vxd", windows, "C:\\WINDOWS\\SYSTEM"),
              "C:\\WINDOWS\\SYSTEM\\vnetsup.vxd");
}

void ExpectFinding(const Problem& p, int section, const std::string& path,
                   const std::string& location, const std::string& valueName) {
    EXPECT_EQ(p.sectionId, section);
    EXPECT_EQ(p.ItemText(), path);
    EXPECT_EQ(p.ValueData(), path);
    EXPECT_EQ(p.Location(), location);
    EXPECT_EQ(p.ValueName(), valueName);
    EXPECT_EQ(p.Description(), testing::kFileMissingText);
    EXPECT_EQ(p.isChecked, 1);
    EXPECT_EQ(p.sequence, 0);
}

// Drive C: fixed, D: a CD-ROM; a few drivers present.
class ServicesScannerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::create_directory(prefix.Dir() / "cdrom");
        fs::create_directory_symlink("../cdrom", prefix.Dir() / "dosdevices" / "d:");
        prefix.File("windows/system32/drivers/present.sys", "MZ");
        prefix.File("windows/system32/svchost.exe", "MZ");
        prefix.File("windows/system32/present.vxd", "MZ");
        prefix.UserReg("");
    }
    std::unique_ptr<Machine> Load(const std::string& keys) {
        prefix.SystemReg(R"(
[Software\\Wine\\Drives] 1700000000
"d:"="cdrom"
)" + keys);
        auto machine = prefix.Load();
        EXPECT_TRUE(machine) << prefix.LastError();
        return machine;
    }

    testing::TempPrefix prefix;
};

TEST_F(ServicesScannerTest, ServicesReportMissingImages) {
    auto machine = Load(R"(
[System\\CurrentControlSet\\Services\\a-gone] 1700000000
"ImagePath"=str(2):"\\SystemRoot\\System32\\drivers\\x.sys"

[System\\CurrentControlSet\\Services\\b-present] 1700000000
"ImagePath"=str(2):"system32\\drivers\\present.sys"

[System\\CurrentControlSet\\Services\\c-host] 1700000000
"ImagePath"=str(2):"%SystemRoot%\\System32\\svchost.exe -k netsvcs"

[System\\CurrentControlSet\\Services\\d-noimage] 1700000000
"Start"=dword:00000003

[System\\CurrentControlSet\\Services\\e-word] 1700000000
"ImagePath"="mysvc"

[System\\CurrentControlSet\\Services\\f-program] 1700000000
"ImagePath"="mysvc -run"

[System\\CurrentControlSet\\Services\\g-cdrom] 1700000000
"ImagePath"="\\??\\D:\\drv\\cd.sys"

[System\\CurrentControlSet\\Services\\h-long] 1700000000
"ImagePath"="C:\\)" + std::string(255, 'l') +
                        R"("

[System\\CurrentControlSet\\Services\\i-empty] 1700000000
"ImagePath"=""
)");
    ASSERT_TRUE(machine);
    ScanRun r = RunScanner(*machine, ScanSystemServices);
    ASSERT_EQ(r.found.size(), 2u);
    ExpectFinding(r.found[0], 9, "C:\\windows\\System32\\drivers\\x.sys",
                  std::string(kServices) + "a-gone", "ImagePath");
    ExpectFinding(r.found[1], 9, "C:\\windows\\mysvc.exe", std::string(kServices) + "f-program",
                  "ImagePath");
    // Nine sub-keys; the single word takes no step. The status line names every key tested.
    EXPECT_EQ(r.steps, 8);
    EXPECT_EQ(r.pumps, 5);
    EXPECT_EQ(r.statusLine, std::string(kServices) + "g-cdrom");
    EXPECT_EQ(machine->Handles().OpenCount(), 0u);
}

TEST_F(ServicesScannerTest, StaticDriversAreRelativeToTheSystemDirectory) {
    auto machine = Load(R"(
[System\\CurrentControlSet\\Services\\VXD\\GONE] 1700000000
"StaticVXD"="vnetsup.vxd"

[System\\CurrentControlSet\\Services\\VXD\\HERE] 1700000000
"StaticVXD"="present.vxd"

[System\\CurrentControlSet\\Services\\VXD\\BUILTIN] 1700000000
"StaticVXD"="*vfbk"
)");
    ASSERT_TRUE(machine);
    ScanRun r = RunScanner(*machine, ScanVxdSection);
    ASSERT_EQ(r.found.size(), 1u);
    ExpectFinding(r.found[0], 10, "C:\\windows\\system32\\vnetsup.vxd", std::string(kVxd) + "GONE",
                  "StaticVXD");
    EXPECT_EQ(r.steps, 2);
    EXPECT_EQ(r.statusLine, std::string(kVxd) + "HERE");

    // The VXD key is one more sub-key of Services, without an image.
    ScanRun services = RunScanner(*machine, ScanSystemServices);
    EXPECT_TRUE(services.found.empty());
    EXPECT_EQ(services.steps, 1);
}

TEST_F(ServicesScannerTest, MissingKeysDoNothing) {
    auto machine = Load("");
    ASSERT_TRUE(machine);
    for (Scanner scanner : {ScanSystemServices, ScanVxdSection}) {
        ScanRun r = RunScanner(*machine, scanner);
        EXPECT_TRUE(r.found.empty());
        EXPECT_EQ(r.steps, 0);
        EXPECT_EQ(r.pumps, 0);
    }
    EXPECT_EQ(machine->Handles().OpenCount(), 0u);
}

TEST_F(ServicesScannerTest, ClearedFlagStopsBeforeTheNextSubKey) {
    auto machine = Load(R"(
[System\\CurrentControlSet\\Services\\A] 1700000000
"ImagePath"="C:\\Gone\\a.exe"

[System\\CurrentControlSet\\Services\\B] 1700000000
"ImagePath"="C:\\Gone\\b.exe"

[System\\CurrentControlSet\\Services\\VXD\\A] 1700000000
"StaticVXD"="C:\\Gone\\a.vxd"

[System\\CurrentControlSet\\Services\\VXD\\B] 1700000000
"StaticVXD"="C:\\Gone\\b.vxd"
)");
    ASSERT_TRUE(machine);
    for (Scanner scanner : {ScanSystemServices, ScanVxdSection}) {
        EXPECT_EQ(RunScanner(*machine, scanner).found.size(), 2u);
        ScanRun aborted = RunScanner(*machine, scanner, {.abortAfterFindings = 1});
        EXPECT_EQ(aborted.found.size(), 1u);
        EXPECT_EQ(aborted.steps, 1);
        ScanRun never = RunScanner(*machine, scanner, {.initialFlag = 0});
        EXPECT_TRUE(never.found.empty());
        EXPECT_EQ(never.steps, 0);
    }
    EXPECT_EQ(machine->Handles().OpenCount(), 0u);
}

TEST(ServicesSampleMachine, FindsTheDriversOfRemovedPrograms) {
    testing::TempPrefix folder;
    const fs::path target = folder.Dir() / "sample";
    std::string error;
    ASSERT_TRUE(CreateSampleMachine(fs::path(HIVEWISE_SOURCE_DIR) / "data" / "sample-machine",
                                    target, &error))
        << error;
    auto loaded = Machine::Load(target, {.lockPrefix = false});
    ASSERT_TRUE(loaded.machine) << loaded.error;

    std::vector<std::string> found;
    for (Scanner scanner : {ScanSystemServices, ScanVxdSection}) {
        for (const Problem& p : RunScanner(*loaded.machine, scanner).found) {
            found.push_back(std::to_string(p.sectionId) + " " + std::string(p.Location()) + " | " +
                            std::string(p.ItemText()));
        }
    }
    const std::string pf = "C:\\Program Files\\";
    const std::vector<std::string> expected = {
        "9 " + std::string(kServices) + "AwGpsBus | C:\\WINDOWS\\system32\\DRIVERS\\awgps.sys",
        "9 " + std::string(kServices) + "TsGuard | " + pf + "Tailspin\\Racer\\tsguard.sys",
        "9 " + std::string(kServices) + "WgSync | " + pf + "Woodgrove\\Budget\\wgsync.exe -service",
        "10 " + std::string(kVxd) + "TSJOY | C:\\WINDOWS\\system32\\tsjoy.vxd",
        "10 " + std::string(kVxd) + "WGKEY | " + pf + "Woodgrove\\Budget\\wgkey.vxd",
    };
    EXPECT_EQ(found, expected);
}

}  // namespace
}  // namespace hivewise
