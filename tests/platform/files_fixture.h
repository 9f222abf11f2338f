#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "platform/files/file_system_access.h"
#include "platform/files/path_resolver.h"
#include "platform/machine/machine.h"
#include "platform/temp_prefix.h"

namespace hivewise::testing {

// A prefix with a floppy A:, the system drive C:, a CD-ROM D: and the host's root as
// Z:, and the program installed in C:\Program Files\Hivewise.
class FilesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        namespace fs = std::filesystem;
        prefix.SystemReg(R"(
[Software\\Wine\\Drives] 1700000000
#time=1d9b0b0b0b0b0b0
"a:"="floppy"
"d:"="cdrom"

[System\\Setup] 1700000000
)");
        prefix.UserReg("");
        fs::create_directory(prefix.Dir() / "floppy");
        fs::create_directory(prefix.Dir() / "cdrom");
        fs::create_directory_symlink("../floppy", prefix.Dir() / "dosdevices" / "a:");
        fs::create_directory_symlink("../cdrom", prefix.Dir() / "dosdevices" / "d:");
        fs::create_directory_symlink("/", prefix.Dir() / "dosdevices" / "z:");
        prefix.File("Program Files/Hivewise/hivewise.exe", "MZ");
        prefix.File("windows/system32/kernel32.dll", "MZ");
        machine = prefix.Load();
        ASSERT_TRUE(machine) << prefix.LastError();
        files = std::make_unique<FileSystemAccess>(*machine);
    }

    std::filesystem::path C(const std::filesystem::path& relative = {}) const {
        return std::filesystem::canonical(prefix.Dir() / "drive_c") / relative;
    }

    TempPrefix prefix;
    std::unique_ptr<Machine> machine;
    std::unique_ptr<FileSystemAccess> files;
};

}  // namespace hivewise::testing
