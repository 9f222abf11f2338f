// A full registry backup as its restore reads it: the archive unpacked into the work
// folder, every saved hive checked and, only when all are sound, put back. A restore that
// fails must leave the registry as it was; one that succeeds must save and load again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "fullbackup/full_registry_backup.h"
#include "fuzz_temp_prefix.h"
#include "platform/files/file_system_access.h"
#include "platform/registry/hive_file.h"

using namespace hivewise;

namespace {

// Every key and value of the machine in the file format; with `times` false, without the
// keys' modification times (a file base keeps none of its own when it holds no value).
std::string Everything(Machine& machine, bool times = true) {
    std::string text;
    {
        auto lock = machine.Registry().Lock();
        text = WriteHive(*machine.Registry().Root(), "", "", false);
    }
    if (times) return text;
    std::string kept;
    for (size_t at = 0; at < text.size();) {
        size_t end = text.find('\n', at);
        end = end == std::string::npos ? text.size() : end + 1;
        std::string_view line(text.data() + at, end - at);
        at = end;
        if (line.starts_with("#time=")) continue;
        if (line.starts_with("[")) line = line.substr(0, line.rfind(']') + 1);
        kept.append(line);
        kept.push_back('\n');
    }
    return kept;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::PutFile("system.reg", fuzz::kSystemReg);
    fuzz::PutFile("user.reg", fuzz::kUserReg);
    auto loaded = Machine::Load(fuzz::ScratchPrefix(), {.lockPrefix = false});
    if (!loaded.machine) std::abort();
    Machine& machine = *loaded.machine;
    FullRegistryBackup backup(machine);
    FileSystemAccess files(machine);
    files.CreateDirectoryPath(backup.BackupFolder());
    std::string archive = backup.BackupFolder() + "\\1,2,2026_3,4,5.zip";
    auto host = files.ToHostPath(archive, true);
    if (!host) std::abort();
    fuzz::PutFile(std::filesystem::relative(*host, fuzz::ScratchPrefix()).string(),
                  std::string_view(reinterpret_cast<const char*>(data), size));

    std::string before = Everything(machine);
    std::string message;
    bool restored = backup.RestoreFullBackup(archive, &message);
    if (!restored) {
        if (message != kFullRestoreFailed) __builtin_trap();
        if (machine.HasUnsavedChanges() || Everything(machine) != before) __builtin_trap();
        return 0;
    }
    if (message != kFullRestoreDone) __builtin_trap();
    std::string after = Everything(machine, false);
    if (!machine.Flush().ok) __builtin_trap();
    auto again = Machine::Load(fuzz::ScratchPrefix(), {.lockPrefix = false, .readOnly = true});
    if (!again.machine || Everything(*again.machine, false) != after) __builtin_trap();
    return 0;
}
