#include "scan/scanners/program_lookup.h"

#include <array>

#include "platform/machine/text.h"

namespace hivewise::program_lookup {
namespace {

constexpr std::string_view kAppPathsKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths";
constexpr std::array<std::string_view, 6> kProgramExtensions = {".exe", ".com", ".bat",
                                                                ".cmd", ".pif", ".scr"};

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

bool IsBareName(std::string_view name) {
    return name.find_first_of("\\/:") == std::string_view::npos;
}

// Whether the last name of the path has no extension.
bool LacksExtension(std::string_view path) {
    size_t slash = path.find_last_of("\\/");
    std::string_view last = slash == std::string_view::npos ? path : path.substr(slash + 1);
    return last.find('.') == std::string_view::npos;
}

bool EndsWithNoCase(std::string_view text, std::string_view end) {
    return text.size() >= end.size() &&
           AnsiEqualsNoCase(text.substr(text.size() - end.size()), end);
}

bool IsProgramName(std::string_view path) {
    for (std::string_view extension : kProgramExtensions) {
        if (EndsWithNoCase(path, extension)) return true;
    }
    return false;
}

std::string Unquote(std::string text) {
    text = Trim(text);
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"') {
        text = Trim(std::string_view(text).substr(1, text.size() - 2));
    }
    return text;
}

// A file, not a folder: a folder on a command's path is never the program.
bool IsFile(const ReferenceContext& refs, const std::string& path) {
    uint32_t attributes = refs.files.GetFileAttributes(path);
    return attributes != kInvalidFileAttributes && (attributes & kFileAttributeDirectory) == 0;
}

// A program registered under App Paths (the machine's or the user's) by its file name.
bool InAppPaths(const ReferenceContext& refs, const std::string& name) {
    for (RegHandle root : {kHkeyLocalMachine, kHkeyCurrentUser}) {
        std::string target =
            refs.registry.ReadStringValue(root, std::string(kAppPathsKey) + "\\" + name, "");
        target = Unquote(Expand(refs, target));
        if (!target.empty() && !IsBareName(target) && IsFile(refs, target)) return true;
    }
    return false;
}

bool BareNameFound(const ReferenceContext& refs, const std::string& name) {
    return refs.files.PathFindOnPath(name).has_value() || InAppPaths(refs, name);
}

// The name as written, then with the loader's extension when it has none.
template <typename Test>
bool WithExtension(const std::string& name, std::string_view extension, Test&& test) {
    if (test(name)) return true;
    return !extension.empty() && LacksExtension(name) && test(name + std::string(extension));
}

// One candidate of an unquoted command line, with no leniency: an absolute path that is a
// file, or a bare name found by the search.
bool CandidateFound(const ReferenceContext& refs, const std::string& candidate) {
    if (IsBareName(candidate)) {
        return WithExtension(candidate, ".exe",
                             [&](const std::string& n) { return BareNameFound(refs, n); });
    }
    if (candidate.size() < 3 || candidate[1] != ':' || candidate[2] != '\\') return false;
    return WithExtension(candidate, ".exe", [&](const std::string& n) { return IsFile(refs, n); });
}

// rundll32's first argument is "library,entry"; the library may be quoted.
Judged LibraryOfRundll(const ReferenceContext& refs, std::string_view arguments) {
    std::string text = Trim(arguments);
    std::string library;
    if (!text.empty() && text.front() == '"') {
        size_t close = text.find('"', 1);
        library = text.substr(1, close == std::string::npos ? std::string::npos : close - 1);
    } else {
        size_t end = text.find(',');
        if (end == std::string::npos) end = text.find(' ');
        library = text.substr(0, end);
    }
    library = Trim(library);
    return {library, FileFound(refs, library, ".dll")};
}

bool IsRundll(std::string_view program) {
    size_t slash = program.find_last_of("\\/");
    std::string_view name = slash == std::string_view::npos ? program : program.substr(slash + 1);
    return AnsiEqualsNoCase(name, "rundll32.exe") || AnsiEqualsNoCase(name, "rundll32");
}

}  // namespace

std::string Trim(std::string_view text) {
    size_t first = 0;
    while (first < text.size() && IsBlank(text[first]))
        ++first;
    size_t last = text.size();
    while (last > first && IsBlank(text[last - 1]))
        --last;
    return std::string(text.substr(first, last - first));
}

std::string Expand(const ReferenceContext& refs, std::string_view text) {
    auto expanded = refs.files.ExpandEnvironmentStrings(text);
    return expanded ? std::move(*expanded) : std::string(text);
}

bool FileFound(const ReferenceContext& refs, const std::string& name, std::string_view extension) {
    if (name.empty()) return true;
    // A variable the machine does not define, or a placeholder filled in at run time.
    if (name.find('%') != std::string::npos) return true;
    if (name.find("\\\\") != std::string::npos || name.find("//") != std::string::npos) {
        return true;
    }
    if (IsBareName(name)) {
        return WithExtension(name, extension,
                             [&](const std::string& n) { return BareNameFound(refs, n); });
    }
    // Only an absolute path on a fixed disk can be known to be gone.
    if (name.size() < 3 || name[1] != ':' || name[2] != '\\') return true;
    if (refs.files.GetDriveType(name.substr(0, 3)) != DriveType::Fixed) return true;
    return WithExtension(name, extension,
                         [&](const std::string& n) { return refs.files.PathFileExists(n); });
}

Judged ProgramOfCommand(const ReferenceContext& refs, std::string_view command) {
    const std::string text = Trim(Expand(refs, command));
    if (text.empty()) return {};
    std::string program;
    std::string_view rest;
    bool present = false;
    if (text.front() == '"') {
        size_t close = text.find('"', 1);
        program = Trim(text.substr(1, close == std::string::npos ? std::string::npos : close - 1));
        if (close != std::string::npos) rest = std::string_view(text).substr(close + 1);
        present = FileFound(refs, program, ".exe");
    } else {
        // The program ends before some blank; any prefix that names a program is it.
        std::string longestProgramName;
        std::string beforeArguments;
        for (size_t from = 0; !present;) {
            size_t blank = text.find(' ', from);
            std::string candidate = Trim(text.substr(0, blank));
            if (CandidateFound(refs, candidate)) {
                program = candidate;
                rest = blank == std::string::npos ? std::string_view()
                                                  : std::string_view(text).substr(blank);
                present = true;
            } else if (IsProgramName(candidate)) {
                longestProgramName = candidate;
            }
            if (blank == std::string::npos) break;
            if (beforeArguments.empty() && blank + 1 < text.size() &&
                std::string_view("/-\"%").find(text[blank + 1]) != std::string_view::npos) {
                beforeArguments = candidate;
            }
            from = blank + 1;
        }
        if (!present) {
            // Nothing found: the longest prefix that reads as a program, else the text before
            // the first switch or placeholder, else the first word; judged with the usual
            // leniency.
            program = !longestProgramName.empty() ? longestProgramName
                      : !beforeArguments.empty()  ? beforeArguments
                                                  : text.substr(0, text.find(' '));
            present = FileFound(refs, program, ".exe");
        }
    }
    if (present && IsRundll(program)) return LibraryOfRundll(refs, rest);
    return {program, present};
}

Judged IconFile(const ReferenceContext& refs, std::string_view icon) {
    std::string text = Trim(Expand(refs, icon));
    std::string path;
    if (!text.empty() && text.front() == '"') {
        size_t close = text.find('"', 1);
        path = text.substr(1, close == std::string::npos ? std::string::npos : close - 1);
    } else {
        path = text;
        // The index after the last comma: digits, perhaps negative (a resource id).
        size_t comma = text.rfind(',');
        if (comma != std::string::npos) {
            std::string index = Trim(std::string_view(text).substr(comma + 1));
            if (!index.empty() && index.front() == '-') index.erase(0, 1);
            bool digits = !index.empty();
            for (char c : index)
                digits = digits && c >= '0' && c <= '9';
            if (digits) path = text.substr(0, comma);
        }
    }
    path = Unquote(path);
    return {path, FileFound(refs, path, "")};
}

}  // namespace hivewise::program_lookup
