#include "scan/reference_tests.h"

#include <algorithm>
#include <cctype>

#include "platform/machine/text.h"

namespace hivewise {
namespace {

// Working texts live in MAX_PATH buffers: at most 259 characters.
constexpr size_t kMaxText = kMaxPath - 1;

bool IsWhiteSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

bool Contains(std::string_view text, std::string_view part) {
    return text.find(part) != std::string_view::npos;
}

// The environment expanded as into a MAX_PATH buffer. A longer expansion is cut rather
// than judged missing, so that a long but valid command line keeps its program part.
std::string ExpandForTest(const ReferenceContext& context, std::string_view text) {
    auto expanded = context.files.ExpandEnvironmentStrings(text, kMaxPath);
    if (!expanded) expanded = context.files.ExpandEnvironmentStrings(text);
    std::string result = expanded ? std::move(*expanded) : std::string(text);
    if (result.size() > kMaxText) result.resize(kMaxText);
    return result;
}

// "\.\" stands for the folder itself.
void CollapseDotFolders(std::string& text) {
    size_t pos = 0;
    while ((pos = text.find("\\.\\", pos)) != std::string::npos) {
        text.erase(pos, 2);
    }
}

// `ask()`, or its answer about `text` remembered by the context's cache.
template <typename Ask>
bool Remembered(const ReferenceContext& context, ReferenceCache::Question question,
                std::string_view text, Ask&& ask) {
    if (!context.cache) return ask();
    return context.cache->Answer(question, text, std::forward<Ask>(ask));
}

bool FileExists(const ReferenceContext& context, const std::string& path) {
    return Remembered(context, ReferenceCache::Question::kFile, path,
                      [&] { return context.files.PathFileExists(path); });
}

bool FoundOnPath(const ReferenceContext& context, const std::string& name) {
    if (name.empty() || name.size() > kMaxText) return false;
    return Remembered(context, ReferenceCache::Question::kOnPath, name,
                      [&] { return context.files.PathFindOnPath(name).has_value(); });
}

bool PathExists(const ReferenceContext& context, const std::string& path) {
    return !path.empty() && FileExists(context, path);
}

// Whether the candidate text[0, to) only adds blanks to text[0, from), which was tried
// and failed. A path's last name loses its trailing blanks, so both name the same file,
// unless the shorter one ends where that name would be a dot, nothing or a drive.
bool OnlyAddsBlanks(std::string_view text, size_t from, size_t to) {
    if (from == 0 || std::string_view(".\\/: ").find(text[from - 1]) != std::string_view::npos) {
        return false;
    }
    for (size_t i = from; i < to; ++i) {
        if (text[i] != ' ') return false;
    }
    return true;
}

bool IsGuidText(std::string_view text) {
    if (text.size() != 38 || text.front() != '{' || text.back() != '}') return false;
    for (size_t i = 1; i < 37; ++i) {
        bool dash = i == 9 || i == 14 || i == 19 || i == 24;
        if (dash ? text[i] != '-' : !std::isxdigit(static_cast<unsigned char>(text[i]))) {
            return false;
        }
    }
    return true;
}

// Opens a key of HKEY_CLASSES_ROOT with full access, closes it again, returns the code.
long OpenClassesKey(RegistryAccess& registry, std::string_view path) {
    ScopedKey key(registry);
    long status = registry.OpenKey(kHkeyClassesRoot, path, kKeyAllAccess, &key);
    return status;
}

// The default value of an open key as the string functions deliver it.
long ReadDefaultString(RegistryAccess& registry, RegHandle key, std::string* text) {
    uint32_t type = 0;
    std::string data;
    long status = registry.QueryValue(key, "", 255, &type, &data);
    if (status != kErrorSuccess) return status;
    if (type != kRegSz && type != kRegExpandSz) return kErrorInvalidData;
    *text = UpToNul(std::move(data));
    return kErrorSuccess;
}

// One lookup of <progId>\CLSID: kErrorFileNotFound when there is no such key.
long ClassIdOfKey(RegistryAccess& registry, std::string_view progId, std::string* classId) {
    std::string path(progId);
    path += "\\CLSID";
    ScopedKey key(registry);
    if (registry.OpenKey(kHkeyClassesRoot, path, kKeyRead, &key) != kErrorSuccess) {
        return kErrorFileNotFound;
    }
    std::string text;
    long status = ReadDefaultString(registry, key, &text);
    if (status != kErrorSuccess || !IsGuidText(text)) return kErrorInvalidData;
    if (classId) *classId = std::move(text);
    return kErrorSuccess;
}

bool FileReferenceExistsUncached(const ReferenceContext& context, std::string_view input);

}  // namespace

long ClassIdFromProgId(RegistryAccess& registry, std::string_view progId, std::string* classId) {
    if (progId.empty()) return kErrorFileNotFound;
    long status = ClassIdOfKey(registry, progId, classId);
    if (status != kErrorFileNotFound) return status;
    // A version-independent identifier names its current version in CurVer.
    std::string curVerPath(progId);
    curVerPath += "\\CurVer";
    ScopedKey key(registry);
    if (registry.OpenKey(kHkeyClassesRoot, curVerPath, kKeyRead, &key) != kErrorSuccess) {
        return kErrorFileNotFound;
    }
    std::string current;
    long read = ReadDefaultString(registry, key, &current);
    // Only one level is followed, so a CurVer naming itself cannot loop.
    if (read != kErrorSuccess || current.empty() || AnsiEqualsNoCase(current, progId)) {
        return kErrorFileNotFound;
    }
    return ClassIdOfKey(registry, current, classId);
}

bool CommandLineExists(const ReferenceContext& context, std::string_view input) {
    // A file followed by a comma and a number is a resource reference.
    if (Contains(input, ",")) return true;
    std::string text(input);
    size_t colon = text.size() > 4 ? text.find(':', 4) : std::string::npos;
    if (colon != std::string::npos) text.insert(colon, 1, ' ');
    for (char& c : text) {
        switch (c) {
            case '"':
            case ';':
            case '|':
            case '*':
            case '?':
            case '<':
            case '>':
            case '^':
            case '/':
                c = ' ';
                break;
            default:
                break;
        }
    }
    size_t first = 0;
    while (first < text.size() && IsWhiteSpace(text[first]))
        ++first;
    size_t last = text.size();
    while (last > first && IsWhiteSpace(text[last - 1]))
        --last;
    text = text.substr(first, last - first);

    if (text.find(' ') == std::string::npos) {
        return PathExists(context, text) || FoundOnPath(context, text);
    }
    // The program part ends before some blank: try the shortest candidate first.
    size_t tried = std::string::npos;
    for (size_t blank = text.find(' '); blank != std::string::npos;
         blank = text.find(' ', blank + 1)) {
        if (tried != std::string::npos && OnlyAddsBlanks(text, tried, blank)) continue;
        std::string candidate = text.substr(0, blank);
        if (FoundOnPath(context, candidate) || PathExists(context, candidate)) return true;
        tried = blank;
    }
    return PathExists(context, text);
}

bool FolderExists(const ReferenceContext& context, const std::string& path) {
    return Remembered(context, ReferenceCache::Question::kFolder, path, [&] {
        // Where no file or folder is, no folder is: a missing file's path is often asked
        // both ways.
        if (context.cache && context.cache->Known(ReferenceCache::Question::kFile, path) == false) {
            return false;
        }
        return context.files.IsDirectory(path);
    });
}

bool FileReferenceExists(const ReferenceContext& context, std::string_view input) {
    return Remembered(context, ReferenceCache::Question::kReference, input,
                      [&] { return FileReferenceExistsUncached(context, input); });
}

namespace {

bool FileReferenceExistsUncached(const ReferenceContext& context, std::string_view input) {
    std::string text = ExpandForTest(context, input);
    const std::string fullExpansion = text;
    if (text.size() < 3) return false;

    // Removable, CD-ROM, network and RAM drives, and drives that do not exist, may
    // simply be absent now.
    if (text[1] == ':' && context.files.GetDriveType(text.substr(0, 3)) != DriveType::Fixed) {
        return true;
    }
    CollapseDotFolders(text);
    if (Contains(text, "//")) return true;    // addresses
    if (Contains(text, "\\\\")) return true;  // UNC paths
    if (AnsiContainsNoCase(text, "rundll32") || AnsiContainsNoCase(text, "msiexec") ||
        AnsiContainsNoCase(text, "regsvr32")) {
        return true;
    }
    if (CommandLineExists(context, text)) return true;

    // A folder reference ends with a backslash (sometimes followed by one character).
    if (text.empty()) return false;
    if (text.size() >= 2 && text[text.size() - 2] == '\\') {
        if (CommandLineExists(context, text.substr(0, text.size() - 2))) return true;
    } else if (text.back() == '\\') {
        if (CommandLineExists(context, text.substr(0, text.size() - 1))) return true;
    }

    size_t cut = text.rfind('\\');
    if (cut == std::string::npos) return false;
    std::string parent = text.substr(0, cut);
    while (!parent.empty() && parent.back() == '\\')
        parent.pop_back();
    if (!parent.empty()) {
        // The folder is there and the file is not.
        if (FolderExists(context, parent)) return false;
        // A file used as a folder: the rest is an argument or an inner part of it.
        if (FileExists(context, parent)) return true;
    }
    return FoundOnPath(context, fullExpansion);
}

}  // namespace

bool ClassKeyExists(const ReferenceContext& context, std::string_view classId) {
    if (classId.empty()) return false;
    std::string path = "CLSID\\";
    if (classId.front() != '{') {
        path += '{';
        path += classId;
        path += '}';
    } else {
        path += classId;
    }
    return OpenClassesKey(context.registry, path) == kErrorSuccess;
}

bool ClassReferenceValid(const ReferenceContext& context, std::string_view input) {
    if (input.empty()) return false;
    if (Contains(input, "rundll32")) return true;
    if (ClassIdFromProgId(context.registry, input) == kErrorSuccess) return true;
    // Only "does not exist" counts against the class; access denied and the like do not.
    if (OpenClassesKey(context.registry, input) != kErrorFileNotFound) return true;

    // Word.Document.8 becomes Word.Document: one trim pass per digit, dots included.
    std::string text(input);
    for (char digit = '0'; digit <= '9'; ++digit) {
        while (!text.empty() && (text.back() == '.' || text.back() == digit))
            text.pop_back();
    }
    if (OpenClassesKey(context.registry, text) != kErrorFileNotFound) return true;
    return FileReferenceExists(context, text);
}

}  // namespace hivewise
