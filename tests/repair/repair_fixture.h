#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/files/file_system_access.h"
#include "platform/machine/text.h"
#include "platform/temp_prefix.h"
#include "repair/fix_backup.h"
#include "scan/result_store.h"

namespace hivewise::testing {

// A machine with stale entries of key, value and file sections: what a careless
// install leaves behind, in types a scanner words differently than they are stored.
inline constexpr const char* kRepairSystemReg = R"(
[System\\Setup] 1700000000

[Software\\Classes\\CLSID\\{11111111-0000-0000-0000-000000000001}] 1700000000
@="Stale object"
"Flags"=dword:00000010
[Software\\Classes\\CLSID\\{11111111-0000-0000-0000-000000000001}\\InprocServer32] 1700000000
@="C:\\gone\\stale.dll"
"ThreadingModel"="Apartment"

[Software\\HKCUTools] 1700000000
"Tool"="C:\\gone\\tool.exe"

[Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\old.exe] 1700000000
@="C:\\gone\\old.exe"
"Path"=str(2):"%ProgramFiles%\\gone"

[Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs] 1700000000
"C:\\gone\\shared.dll"=dword:00000003
"C:\\windows\\kept.dll"=dword:00000001
"C:\\gone\\bin.dll"=hex:01,00,ff
)";

inline constexpr const char* kRepairUserReg = R"(
[Control Panel\\Sounds] 1700000000
"Beep"="C:\\gone\\beep.wav"
"Empty"=""
"Ok"=","

[Environment] 1700000000
"TEMP"="C:\\windows\\temp"
"TMP"="C:\\windows\\temp"

[Software\\Hivewise] 1700000000
"NoAutoBackup"="0"

[Software\\Microsoft\\Windows\\CurrentVersion\\Run] 1700000000
"Stale"=str(2):"%ProgramFiles%\\Gone\\Stale.exe /min"
"Other"="C:\\windows\\notepad.exe"
)";

// Every key and value of the machine's registry, in a fixed order, types and bytes
// included, so that two states compare whole.
inline std::string RegistryDump(Machine& machine) {
    std::vector<std::string> lines;
    auto hex = [](const std::string& bytes) {
        static const char* digits = "0123456789abcdef";
        std::string out;
        for (char c : bytes) {
            out += digits[static_cast<unsigned char>(c) >> 4];
            out += digits[static_cast<unsigned char>(c) & 15];
        }
        return out;
    };
    std::function<void(const RegKey&, const std::string&)> walk = [&](const RegKey& key,
                                                                      const std::string& path) {
        lines.push_back("[" + path + "]");
        std::vector<std::string> values;
        for (const RegValue& value : key.Values()) {
            values.push_back(path + " " + AnsiLower(Utf16ToAnsi(value.name)) + "=" +
                             std::to_string(value.type) + ":" + hex(value.data));
        }
        std::sort(values.begin(), values.end());
        lines.insert(lines.end(), values.begin(), values.end());
        for (const RegKey* sub : key.SubKeys())
            walk(*sub, path + "\\" + Utf16ToAnsi(sub->Name()));
    };
    walk(*machine.Registry().Root(), "");
    std::string text;
    for (const std::string& line : lines)
        text += line + "\n";
    return text;
}

inline bool HaveProgram(const char* name) {
    return std::system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0;
}

class RepairTest : public ::testing::Test {
  protected:
    void SetUp() override {
        prefix.SystemReg(kRepairSystemReg);
        prefix.UserReg(kRepairUserReg);
        prefix.File("Program Files/Hivewise/hivewise.exe", "MZ");
        prefix.File("windows/temp/readme.txt", "temp");
        prefix.File("users/Public/Desktop/Word.lnk", "first shortcut");
        prefix.File("windows/Start Menu/Word.lnk", "second shortcut");
        prefix.File("windows/Config.ini", "a file named like the record list");
        machine = prefix.Load();
        ASSERT_TRUE(machine) << prefix.LastError();
    }

    Problem& Add(int sectionId, std::string_view location, std::string_view valueName = {},
                 std::string_view valueData = {}, std::string_view itemText = {}) {
        results.Problems().push_back(std::make_unique<Problem>(
            sectionId, ProblemTexts{itemText, location, valueName, valueData}));
        return *results.Problems().back();
    }

    // One finding of each kind, as the scanners word them.
    void AddFindings() {
        Add(1, "HKCLASS\\CLSID\\{11111111-0000-0000-0000-000000000001}");
        Add(4,
            "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\old.exe");
        Add(6, "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs",
            "C:\\gone\\shared.dll", "c:\\gone\\shared.dll");
        Add(8, "HKCU\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run", "Stale",
            "c:\\program files\\gone\\stale.exe");
        Add(12, "HKEY_CURRENT_USER\\Control Panel\\Sounds\\C:\\gone\\beep.wav", "Beep",
            "C:\\gone\\beep.wav");
        Add(13, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs",
            "C:\\gone\\bin.dll", "c:\\gone\\bin.dll");
        Add(14, "", "", "", "C:\\users\\Public\\Desktop\\Word.lnk");
        Add(14, "", "", "", "C:\\windows\\Start Menu\\Word.lnk");
        Add(14, "", "", "", "C:\\windows\\Config.ini");
        Add(4, "HKLM\\Software\\HKCUTools");
    }

    std::vector<std::filesystem::path> Archives() {
        std::vector<std::filesystem::path> archives;
        std::error_code ec;
        auto folder = prefix.Dir() / "drive_c" / "Program Files" / "Hivewise" / "HivewiseBackup";
        for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
            if (entry.path().extension() == ".zip") archives.push_back(entry.path());
        }
        std::sort(archives.begin(), archives.end());
        return archives;
    }
    // The host folder a repair assembles its backup in.
    std::filesystem::path WorkDir() {
        return *FileSystemAccess(*machine).ToHostPath(WriteWorkFolder(*machine), true);
    }
    bool DriveFile(const std::string& relative) {
        return std::filesystem::exists(prefix.Dir() / "drive_c" / relative);
    }

    TempPrefix prefix;
    std::unique_ptr<Machine> machine;
    ResultStore results;
};

}  // namespace hivewise::testing
