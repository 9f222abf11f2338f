// A shortcut file's bytes, read as the shortcut scanner reads them: through liblnk,
// from a memory file.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "scan/scanners/shell_link_reader.h"

using namespace hivewise;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ShellLinkInfo info;
    bool parsed =
        ParseShellLink(std::string_view(reinterpret_cast<const char*>(data), size), &info);
    // A shortcut that is not read says nothing of a target.
    if (!parsed && (!info.localPath.empty() || !info.environmentLocation.empty() ||
                    !info.itemListPath.empty() || !info.description.empty())) {
        __builtin_trap();
    }
    return 0;
}
