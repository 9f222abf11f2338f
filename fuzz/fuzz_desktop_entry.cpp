// The files Wine's menu builder leaves in the user's folders: a desktop file's entry and
// Exec line, and a menu file's references, read as the menu-entries section reads them.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "scan/menu_entries/desktop_entry.h"

using namespace hivewise;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    DesktopEntry entry = ParseDesktopEntry(text, "/home/user");
    (void)entry;
    std::vector<std::string> args = SplitExecLine(text);
    // Splitting never makes text: the arguments hold at most the line's characters.
    size_t total = 0;
    for (const auto& arg : args)
        total += arg.size();
    if (total > size) __builtin_trap();
    MenuFileRefs refs = ParseMenuFile(text);
    (void)refs;
    return 0;
}
