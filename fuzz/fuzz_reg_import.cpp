// A registry editor's file imported into a small prefix: REGEDIT4 and 5.00 (UTF-16LE),
// the older REGEDIT form, whatever the bytes hold.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz_temp_prefix.h"
#include "platform/machine/machine.h"
#include "platform/registry/reg_file.h"

using namespace hivewise;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool ready = [] {
        fuzz::PutFile("system.reg", fuzz::kSystemReg);
        fuzz::PutFile("user.reg", fuzz::kUserReg);
        return true;
    }();
    (void)ready;
    // A fresh machine each time, so that one input's keys do not shape the next.
    auto loaded = Machine::Load(fuzz::ScratchPrefix(), {.lockPrefix = false, .readOnly = true});
    if (!loaded.machine) __builtin_trap();
    Machine& machine = *loaded.machine;
    ImportRegFile(machine, std::string_view(reinterpret_cast<const char*>(data), size));
    // What was imported must export again, in both of the editor's formats.
    ExportRegFile(machine, "HKEY_CURRENT_USER", RegFileFormat::Unicode5);
    ExportRegFile(machine, "HKEY_LOCAL_MACHINE\\Software", RegFileFormat::Regedit4);
    machine.HasUnsavedChanges();
    return 0;
}
