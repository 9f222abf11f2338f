#pragma once

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "fullbackup/full_registry_backup.h"
#include "platform/registry/reg_file.h"
#include "platform/temp_prefix.h"
#include "repair/zip_archive.h"

// A prefix with keys in every hive a full backup saves, and the helpers that change
// its backups.
namespace hivewise::testing {

namespace fs = std::filesystem;

using Entries = std::vector<std::pair<std::string, std::string>>;

inline std::tm At(int month, int day, int year, int hour, int minute, int second) {
    std::tm when{};
    when.tm_mon = month - 1;
    when.tm_mday = day;
    when.tm_year = year - 1900;
    when.tm_hour = hour;
    when.tm_min = minute;
    when.tm_sec = second;
    return when;
}

class FullBackupTest : public ::testing::Test {
  protected:
    void SetUp() override {
        prefix.SystemReg(
            "\n[Software\\\\Vendor\\\\App] 1700000000\n\"Path\"=\"C:\\\\app\\\\app.exe\"\n"
            "\"Bytes\"=hex:00,01,02,ff\n\"Count\"=dword:0000002a\n"
            "\"Multi\"=hex(7):61,00,00,00,62,00,00,00,00,00\n"
            "\n[System\\\\ControlSet001\\\\Services\\\\Svc] "
            "1700000000\n\"Start\"=dword:00000003\n");
        prefix.UserReg("\n[Software\\\\Mine] 1700000000\n\"Name\"=\"value\"\n");
        prefix.Write("userdef.reg",
                     TempPrefix::Header("REGISTRY\\\\User\\\\.Default", "win32") +
                         "\n[Control Panel\\\\Desktop] 1700000000\n\"Wallpaper\"=\"\"\n");
        machine = prefix.Load();
        ASSERT_TRUE(machine) << prefix.LastError();
    }

    // What a registry editor would export of every saved key.
    std::string Snapshot() {
        std::string all;
        for (const char* key : {"HKEY_LOCAL_MACHINE\\Software", "HKEY_LOCAL_MACHINE\\System",
                                "HKEY_USERS\\.Default", "HKEY_USERS\\S-1-5-21-0-0-0-1000"}) {
            all += ExportRegFile(*machine, key, RegFileFormat::Unicode5).value_or("<missing>");
        }
        return all;
    }

    fs::path Host(const std::string& windowsPath) {
        return *FileSystemAccess(*machine).ToHostPath(windowsPath, true);
    }

    // The prefix's registry files as they are on disk.
    std::string RegistryFiles() {
        return prefix.Read("system.reg") + '\0' + prefix.Read("user.reg") + '\0' +
               prefix.Read("userdef.reg");
    }

    // A copy of `archive` named `name` whose entries `edit` has changed.
    std::string Rewritten(const std::string& archive, const std::string& name,
                          const std::function<void(Entries&)>& edit) {
        Entries entries;
        ZipReader reader;
        EXPECT_EQ(reader.Open(Host(archive)), ZipStatus::kOk);
        for (int i = 0; i < reader.EntryCount(); ++i) {
            std::string bytes;
            EXPECT_EQ(reader.ReadEntry(i, &bytes), ZipStatus::kOk);
            entries.emplace_back(reader.Entry(i).name, bytes);
        }
        reader.Close();
        edit(entries);
        std::string copy = FullRegistryBackup(*machine).BackupFolder() + "\\" + name;
        ZipWriter writer;
        EXPECT_EQ(writer.Create(Host(copy)), ZipStatus::kOk);
        for (const auto& [entry, bytes] : entries)
            EXPECT_EQ(writer.AddBytes(entry, bytes), ZipStatus::kOk);
        EXPECT_EQ(writer.Close(), ZipStatus::kOk);
        return copy;
    }

    // A backup, then a change saved after it: what a failed restore must leave.
    std::string BackupThenChange() {
        FullRegistryBackup backup(*machine);
        std::string message;
        EXPECT_EQ(backup.CreateFullBackup(At(1, 2, 2026, 3, 4, 5), &message), 1);
        RegistryAccess registry(*machine);
        EXPECT_TRUE(registry.WriteValue(kHkeyCurrentUser, "Software\\Mine", "Name", "later", 1));
        EXPECT_TRUE(machine->Flush().ok);
        return backup.BackupFolder() + "\\1,2,2026_3,4,5.zip";
    }

    TempPrefix prefix;
    std::unique_ptr<Machine> machine;
};

}  // namespace hivewise::testing
