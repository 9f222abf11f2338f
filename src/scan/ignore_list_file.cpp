#include "scan/ignore_list_file.h"

#include "platform/files/atomic_file.h"
#include "platform/files/file_system_access.h"
#include "platform/files/path_resolver.h"

namespace hivewise {
namespace {

bool IsLineSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string_view Strip(std::string_view text) {
    while (!text.empty() && IsLineSpace(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsLineSpace(text.back()))
        text.remove_suffix(1);
    return text;
}

}  // namespace

std::string IgnoreListPath(const Machine& machine) {
    return machine.ProgramFolder() + "\\" + std::string(kIgnoreListFileName);
}

IgnoreList ParseIgnoreList(std::string_view content) {
    IgnoreList list;
    size_t pos = 0;
    while (pos < content.size()) {
        size_t end = content.find('\n', pos);
        if (end == std::string_view::npos) end = content.size();
        std::string_view line = Strip(content.substr(pos, end - pos));
        if (!line.empty()) list.emplace_back(line);
        pos = end + 1;
    }
    return list;
}

std::string FormatIgnoreList(const IgnoreList& list) {
    std::string text;
    for (const std::string& entry : list) {
        // Such an entry would come back as other entries, or cut short.
        if (entry.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos) continue;
        text += entry;
        text += "\r\r\n";
    }
    return text;
}

void LoadIgnoreList(Machine& machine, IgnoreList* list) {
    if (!list) return;
    list->clear();
    auto host = machine.Paths().ToHost(IgnoreListPath(machine));
    if (!host) return;
    std::string content;
    if (!ReadWholeFile(*host, &content, nullptr)) return;
    *list = ParseIgnoreList(content);
}

bool SaveIgnoreList(Machine& machine, const IgnoreList& list) {
    FileSystemAccess files(machine);
    // The program folder of a fresh machine may not be there yet.
    if (!files.IsDirectory(machine.ProgramFolder()) &&
        !files.CreateDirectoryPath(machine.ProgramFolder())) {
        return false;
    }
    auto host = machine.Paths().ToHost(IgnoreListPath(machine), true);
    if (!host) return false;
    bool ok = WriteFileAtomically(*host, FormatIgnoreList(list), nullptr);
    machine.Paths().Invalidate(host->parent_path());
    return ok;
}

std::string LongRootLocation(std::string_view location) {
    // Only the root is rewritten: a sub-key may itself contain "HKLM" and the like.
    size_t cut = location.find('\\');
    std::string_view root = location.substr(0, cut);
    std::string_view rest = cut == std::string_view::npos ? "" : location.substr(cut);
    std::string_view longRoot;
    if (root == "HKLM") {
        longRoot = "HKEY_LOCAL_MACHINE";
    } else if (root == "HKCU") {
        longRoot = "HKEY_CURRENT_USER";
    } else if (root == "HKCR" || root == "HKCLASS") {  // HKCLASS: ignore lists of old
        longRoot = "HKEY_CLASSES_ROOT";
    } else {
        return std::string(location);
    }
    return std::string(longRoot) + std::string(rest);
}

}  // namespace hivewise
