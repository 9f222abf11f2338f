// The machine's folders, environment, drives and program launch.
#include <algorithm>
#include <cctype>

#include "platform/files/file_system_access.h"
#include "platform/files/path_resolver.h"
#include "platform/machine/text.h"

namespace hivewise {
namespace {

constexpr int kLaunchWaitMs = 120000;

std::string WithoutTrailingBackslash(std::string text) {
    while (text.size() > 3 && text.back() == '\\')
        text.pop_back();
    return text;
}

}  // namespace

std::string FileSystemAccess::WindowsDirectory() const {
    std::optional<std::string> value = machine_.GetEnv("SystemRoot");
    if (!value || value->empty()) value = machine_.GetEnv("windir");
    std::string folder =
        WithoutTrailingBackslash(value && !value->empty() ? *value : "C:\\windows");
    return folder.size() + 1 > kMaxPath + 1 ? std::string{} : folder;
}

std::string FileSystemAccess::SystemDirectory() const {
    std::string windows = WindowsDirectory();
    if (windows.empty()) return {};
    std::string folder = windows + (windows.back() == '\\' ? "" : "\\") + "system32";
    return folder.size() + 1 > kMaxPath + 1 ? std::string{} : folder;
}

std::string FileSystemAccess::ProgramFilesDirectory() const {
    auto expanded = ExpandEnvironmentStrings("%ProgramFiles%", kMaxPath + 1);
    if (!expanded) return {};
    if (AnsiEqualsNoCase(*expanded, "%ProgramFiles%")) return "C:\\ProgramFiles";
    return *expanded;
}

std::string FileSystemAccess::ExecutableDirectory() const {
    std::string file = machine_.ProgramFile();
    if (file.size() + 1 > kMaxPath) return {};
    size_t cut = file.rfind('\\');
    return cut == std::string::npos ? std::string{} : file.substr(0, cut);
}

std::optional<std::string> FileSystemAccess::ExpandEnvironmentStrings(std::string_view text,
                                                                      size_t capacity) const {
    std::string out;
    size_t pos = 0;
    while (pos < text.size()) {
        if (text[pos] != '%') {
            size_t next = text.find('%', pos);
            if (next == std::string_view::npos) next = text.size();
            out.append(text.substr(pos, next - pos));
            pos = next;
            continue;
        }
        size_t close = text.find('%', pos + 1);
        if (close == std::string_view::npos) {
            out.append(text.substr(pos));
            break;
        }
        std::string name(text.substr(pos + 1, close - pos - 1));
        auto value = name.empty() ? std::nullopt : machine_.GetEnv(name);
        if (value) {
            out += *value;
            pos = close + 1;
        } else {
            // An undefined reference stays; its closing '%' may open the next one.
            out.append(text.substr(pos, close - pos));
            pos = close;
        }
    }
    if (out.size() + 1 > capacity) return std::nullopt;
    return out;
}

std::optional<std::string> FileSystemAccess::PathStripToRoot(const std::string& path) const {
    if (path.size() >= 2 && path[0] == '\\' && path[1] == '\\') {
        // "\\server\share" and shorter forms are their own root.
        size_t slash = path.find('\\', 2);
        if (slash == std::string::npos) return path;
        size_t second = path.find('\\', slash + 1);
        return second == std::string::npos ? path : path.substr(0, second);
    }
    if (!path.empty() && path[0] == '\\') return std::string("\\");
    if (path.size() >= 3 && path[1] == ':' && path[2] == '\\') return path.substr(0, 3);
    return std::nullopt;
}

DriveType FileSystemAccess::GetDriveType(const std::string& root) const {
    char letter = 0;
    if (root.empty() || root == "\\") {
        const std::string& current = machine_.ProgramFolder();
        letter = current.size() >= 2 && current[1] == ':' ? current[0] : 'C';
    } else if ((root.size() == 2 || (root.size() == 3 && (root[2] == '\\' || root[2] == '/'))) &&
               root[1] == ':') {
        letter = root[0];
    } else {
        return DriveType::NoRootDir;
    }
    if (!std::isalpha(static_cast<unsigned char>(letter))) return DriveType::NoRootDir;
    const Drive* drive = machine_.FindDrive(static_cast<char>(std::toupper(letter)));
    return drive ? drive->type : DriveType::NoRootDir;
}

bool FileSystemAccess::IsNonFixedDrive(const std::string& path) const {
    auto root = PathStripToRoot(path.substr(0, kMaxPath - 1));
    return !root || GetDriveType(*root) != DriveType::Fixed;
}

std::vector<std::string> FileSystemAccess::DriveRoots(size_t capacity) const {
    std::vector<char> letters;
    for (const Drive& drive : machine_.Drives())
        letters.push_back(drive.letter);
    std::sort(letters.begin(), letters.end());
    letters.erase(std::unique(letters.begin(), letters.end()), letters.end());
    // The drive strings ("C:\" and a terminator each) must fit 500 bytes.
    if (letters.size() * 4 + 1 > 500) return {};
    std::vector<std::string> roots;
    for (char letter : letters) {
        if (roots.size() >= capacity) break;
        roots.push_back(std::string(1, letter) + ":\\");
    }
    return roots;
}

int FileSystemAccess::DriveCount() const {
    // The drive-strings list holds four bytes per drive ("C:\" and its terminator);
    // when it outgrows the 255-byte buffer the needed size still counts the same.
    return static_cast<int>(DriveRoots(26).size());
}

std::string FileSystemAccess::TempPath() const {
    std::optional<std::string> value;
    for (const char* name : {"TMP", "TEMP", "USERPROFILE"}) {
        value = machine_.GetEnv(name);
        if (value && !value->empty()) break;
        value.reset();
    }
    std::string folder = value ? *value : WindowsDirectory();
    if (folder.empty()) return {};
    if (folder.back() != '\\') folder += '\\';
    return folder.size() + 1 > kMaxPath ? std::string{} : folder;
}

bool FileSystemAccess::LaunchProgram(const std::string& file, const std::string& parameters,
                                     bool wait) {
    // Addresses and other texts that are no path of the machine go to the host as they are.
    auto host =
        file.find("://") == std::string::npos ? machine_.Paths().ToHost(file) : std::nullopt;
    std::string target = host ? host->string() : file;
    // With or without the wait, a program that never started is a failure: the export
    // that waits on the registry editor must not count a file that was never written.
    return machine_.Host().Launch(target, parameters, wait, kLaunchWaitMs);
}

void FileSystemAccess::ServiceMessageQueue() {
    machine_.Host().PumpEvents(10);
}

std::optional<std::filesystem::path> FileSystemAccess::ToHostPath(const std::string& path,
                                                                  bool mayNotExist) {
    return machine_.Paths().ToHost(path, mayNotExist);
}

std::optional<std::string> FileSystemAccess::ToWindowsPath(
    const std::filesystem::path& hostPath) const {
    return machine_.Paths().ToWindows(hostPath);
}

}  // namespace hivewise
