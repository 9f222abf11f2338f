#include "platform/machine/sample_machine.h"

#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <system_error>
#include <vector>

#include "platform/files/atomic_file.h"
#include "platform/files/path_resolver.h"
#include "platform/machine/machine.h"
#include "platform/machine/shell_link_writer.h"
#include "platform/machine/text.h"
#include "platform/registry/hive_file.h"

namespace hivewise {
namespace {

namespace fs = std::filesystem;

constexpr std::array<const char*, 3> kHiveFiles = {"system.reg", "user.reg", "userdef.reg"};
constexpr const char* kManifest = "drive_c.manifest";

struct ManifestEntry {
    char kind = 'd';         // 'd' folder, 'f' file, 'l' shortcut
    std::string path;        // relative to drive_c, '/' separated
    std::string linkTarget;  // Windows path, for shortcuts
    int line = 0;
};

bool EndsWithNoCase(std::string_view text, std::string_view tail) {
    return text.size() >= tail.size() &&
           AnsiEqualsNoCase(text.substr(text.size() - tail.size()), tail);
}

// A path that stays inside drive_c: relative, '/' separated, no empty, "." or ".."
// component.
bool IsSafeRelativePath(std::string_view path) {
    if (path.empty() || path.front() == '/' || path.back() == '/') return false;
    if (path.find('\\') != std::string_view::npos) return false;
    if (path.find('\0') != std::string_view::npos) return false;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string_view::npos) end = path.size();
        std::string_view part = path.substr(start, end - start);
        if (part.empty() || part == "." || part == "..") return false;
        start = end + 1;
    }
    return true;
}

bool ParseManifest(std::string_view text, std::vector<ManifestEntry>* entries, std::string* error) {
    int lineNumber = 0;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        ++lineNumber;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty() || line.front() == '#') continue;

        auto bad = [&](const std::string& why) {
            *error = std::string(kManifest) + ", line " + std::to_string(lineNumber) + ": " + why;
            return false;
        };
        if (line.size() < 3 || line[1] != ' ' ||
            (line[0] != 'd' && line[0] != 'f' && line[0] != 'l')) {
            return bad("expected \"d PATH\", \"f PATH\" or \"l PATH -> TARGET\"");
        }
        ManifestEntry entry;
        entry.kind = line[0];
        entry.line = lineNumber;
        std::string_view rest = line.substr(2);
        if (entry.kind == 'l') {
            size_t arrow = rest.find(" -> ");
            if (arrow == std::string_view::npos) return bad("a shortcut needs \" -> TARGET\"");
            entry.linkTarget = std::string(rest.substr(arrow + 4));
            rest = rest.substr(0, arrow);
            if (!EndsWithNoCase(rest, ".lnk")) return bad("a shortcut's name must end in .lnk");
        }
        if (!IsSafeRelativePath(rest))
            return bad("the path must be relative and stay inside drive_c");
        entry.path = std::string(rest);
        entries->push_back(std::move(entry));
    }
    return true;
}

// Program files get a few bytes, so that they are not mistaken for placeholders.
std::string_view FileContent(std::string_view path) {
    static constexpr std::array<std::string_view, 8> kBinaries = {".exe", ".dll", ".ocx", ".sys",
                                                                  ".vxd", ".cpl", ".drv", ".scr"};
    for (std::string_view ext : kBinaries) {
        if (EndsWithNoCase(path, ext)) return std::string_view("MZ\x90\0", 4);
    }
    return {};
}

bool WriteFileSynced(const fs::path& path, std::string_view content, std::string* error) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        *error = "cannot create " + path.string() + ": " + std::strerror(errno);
        return false;
    }
    bool ok = WriteAll(fd, content);
    if (ok && ::fsync(fd) != 0) ok = false;
    if (::close(fd) != 0) ok = false;
    if (!ok) *error = "cannot write " + path.string() + ": " + std::strerror(errno);
    return ok;
}

// The Windows path's folder, for a shortcut's working directory: "C:\A\b.exe" -> "C:\A".
std::string ParentFolder(const std::string& windowsPath) {
    size_t cut = windowsPath.find_last_of('\\');
    if (cut == std::string::npos) return {};
    return cut <= 2 ? windowsPath.substr(0, 3) : windowsPath.substr(0, cut);
}

std::string Stem(const std::string& relativePath) {
    std::string name = relativePath.substr(relativePath.find_last_of('/') + 1);
    return name.size() > 4 ? name.substr(0, name.size() - 4) : name;
}

// The host path below drive_c that a C: path of the template names, when it is one.
std::optional<fs::path> OnDriveC(const fs::path& driveC, const std::string& windowsPath) {
    if (windowsPath.size() < 3 || (windowsPath[0] != 'C' && windowsPath[0] != 'c') ||
        windowsPath[1] != ':' || windowsPath[2] != '\\') {
        return std::nullopt;
    }
    std::string relative = windowsPath.substr(3);
    for (char& c : relative) {
        if (c == '\\') c = '/';
    }
    return driveC / Utf16ToUtf8(AnsiToUtf16(relative));
}

bool BuildDriveC(const fs::path& driveC, const std::vector<ManifestEntry>& entries,
                 std::string* error) {
    std::error_code ec;
    fs::create_directory(driveC, ec);
    for (const ManifestEntry& entry : entries) {
        if (entry.kind != 'd' && entry.kind != 'f') continue;
        fs::path path = driveC / entry.path;
        fs::create_directories(entry.kind == 'd' ? path : path.parent_path(), ec);
        if (ec) {
            *error = "cannot create " + path.string() + ": " + ec.message();
            return false;
        }
        if (entry.kind == 'f' && !WriteFileAtomically(path, FileContent(entry.path), error)) {
            return false;
        }
    }
    // Shortcuts last, so that their targets' kind and size can be described.
    for (const ManifestEntry& entry : entries) {
        if (entry.kind != 'l') continue;
        ShellLinkFields shortcut;
        shortcut.targetPath = entry.linkTarget;
        shortcut.description = Stem(entry.path);
        shortcut.workingDirectory = ParentFolder(entry.linkTarget);
        if (auto host = OnDriveC(driveC, entry.linkTarget)) {
            if (fs::is_directory(*host, ec)) {
                shortcut.fileAttributes = 0x10;
            } else if (fs::is_regular_file(*host, ec)) {
                shortcut.fileSize = static_cast<uint32_t>(fs::file_size(*host, ec));
                shortcut.iconLocation = entry.linkTarget;
            }
        }
        std::string bytes = BuildShellLink(shortcut);
        if (bytes.empty()) {
            *error = std::string(kManifest) + ", line " + std::to_string(entry.line) +
                     ": the shortcut target is no full Windows path";
            return false;
        }
        fs::path path = driveC / entry.path;
        fs::create_directories(path.parent_path(), ec);
        if (ec) {
            *error = "cannot create " + path.parent_path().string() + ": " + ec.message();
            return false;
        }
        if (!WriteFileAtomically(path, bytes, error)) return false;
    }
    return true;
}

// Folders left by a creation that was interrupted: "<.name>.new-<pid>-<n>" of a process
// that no longer runs.
// "<.name>.new-": appended piece by piece, as GCC 12 at -O3 warns falsely (-Wrestrict) on
// the chained operator+.
std::string BuildFolderPrefix(const fs::path& destination) {
    std::string prefix = ".";
    prefix += destination.filename().string();
    prefix += ".new-";
    return prefix;
}

void RemoveAbandonedBuilds(const fs::path& destination) {
    const std::string prefix = BuildFolderPrefix(destination);
    std::error_code ec;
    for (fs::directory_iterator it(destination.parent_path(), ec), end; !ec && it != end;
         it.increment(ec)) {
        std::string name = it->path().filename().string();
        if (name.rfind(prefix, 0) != 0) continue;
        char* stop = nullptr;
        long pid = std::strtol(name.c_str() + prefix.size(), &stop, 10);
        if (pid <= 0 || pid > INT32_MAX || !stop || *stop != '-') continue;
        if (::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) continue;
        std::error_code ignored;
        fs::remove_all(it->path(), ignored);
    }
}

bool IsEmptyFolder(const fs::path& path) {
    std::error_code ec;
    return fs::is_directory(path, ec) && fs::is_empty(path, ec) && !ec;
}

bool IsTemplate(const fs::path& dir) {
    std::error_code ec;
    return fs::is_regular_file(dir / "system.reg", ec) && fs::is_regular_file(dir / kManifest, ec);
}

bool HoldsRegistry(const fs::path& dir) {
    std::error_code ec;
    return fs::is_regular_file(dir / "system.reg", ec);
}

std::string Lookup(const std::map<std::string, std::string>& env, const std::string& name) {
    auto it = env.find(name);
    return it == env.end() ? std::string() : it->second;
}

fs::path Absolute(const fs::path& path) {
    std::error_code ec;
    fs::path absolute = fs::absolute(path, ec);
    return (ec ? path : absolute).lexically_normal();
}

// A folder the user named (--prefix or WINEPREFIX): used only when it is a prefix.
MachineChoice NamedPrefix(const fs::path& folder, const std::string& source) {
    MachineChoice choice;
    fs::path path = Absolute(folder);
    std::error_code ec;
    if (!fs::is_directory(path, ec)) {
        choice.error = path.string() + " (" + source + ") is not a folder.";
    } else if (!HoldsRegistry(path)) {
        choice.error =
            path.string() + " (" + source + ") is not a Wine prefix (it has no system.reg).";
    } else {
        choice.folder = path;
    }
    return choice;
}

}  // namespace

bool CreateSampleMachine(const fs::path& templateDir, const fs::path& target, std::string* error) {
    std::string scratch;
    if (!error) error = &scratch;
    error->clear();

    // Read and check everything first: a bad template must not leave any folder behind.
    std::array<std::string, kHiveFiles.size()> hives;
    for (size_t i = 0; i < kHiveFiles.size(); ++i) {
        if (!ReadWholeFile(templateDir / kHiveFiles[i], &hives[i], error)) return false;
        HiveParseError parseError;
        if (!ParseHive(hives[i], &parseError)) {
            *error = (templateDir / kHiveFiles[i]).string() + ", line " +
                     std::to_string(parseError.line) + ": " + parseError.message;
            return false;
        }
    }
    std::string manifest;
    if (!ReadWholeFile(templateDir / kManifest, &manifest, error)) return false;
    std::vector<ManifestEntry> entries;
    if (!ParseManifest(manifest, &entries, error)) return false;

    fs::path destination = Absolute(target);
    if (destination.filename().empty()) destination = destination.parent_path();
    std::error_code ec;
    if (fs::exists(fs::symlink_status(destination, ec)) && !IsEmptyFolder(destination)) {
        *error = destination.string() + " already exists.";
        return false;
    }
    fs::create_directories(destination.parent_path(), ec);
    if (ec) {
        *error = "cannot create " + destination.parent_path().string() + ": " + ec.message();
        return false;
    }
    RemoveAbandonedBuilds(destination);
    // A folder of our own beside the target (made with the user's umask, unlike mkdtemp's).
    fs::path building;
    for (int attempt = 0; attempt < 100 && building.empty(); ++attempt) {
        std::string name = BuildFolderPrefix(destination);
        name += std::to_string(::getpid());
        name += '-';
        name += std::to_string(attempt);
        fs::path candidate = destination.parent_path() / name;
        if (fs::create_directory(candidate, ec)) building = candidate;
    }
    if (building.empty()) {
        *error = "cannot create a folder beside " + destination.string() +
                 (ec ? ": " + ec.message() : std::string());
        return false;
    }
    auto fail = [&]() {
        std::error_code ignored;
        fs::remove_all(building, ignored);
        return false;
    };

    for (size_t i = 0; i < kHiveFiles.size(); ++i) {
        if (!WriteFileSynced(building / kHiveFiles[i], hives[i], error)) return fail();
    }
    if (!BuildDriveC(building / "drive_c", entries, error)) return fail();
    fs::create_directory(building / "dosdevices", ec);
    if (!ec) fs::create_directory_symlink("../drive_c", building / "dosdevices" / "c:", ec);
    if (!ec) fs::create_directory_symlink("/", building / "dosdevices" / "z:", ec);
    if (ec) {
        *error = "cannot create the drive links in " + building.string() + ": " + ec.message();
        return fail();
    }
    if (::rename(building.c_str(), destination.c_str()) != 0) {
        *error =
            "cannot move the new machine to " + destination.string() + ": " + std::strerror(errno);
        return fail();
    }
    return true;
}

std::optional<fs::path> FindSampleTemplate(const fs::path& executable,
                                           const fs::path& sourceDataDir) {
    const fs::path exeDir = Absolute(executable).parent_path();
    fs::path dataDir = sourceDataDir;
#ifdef HIVEWISE_SOURCE_DATA_DIR
    if (dataDir.empty()) dataDir = HIVEWISE_SOURCE_DATA_DIR;
#endif
    std::vector<fs::path> candidates = {
        (exeDir / ".." / "share" / "hivewise" / "sample-machine").lexically_normal()};
    if (!dataDir.empty()) candidates.push_back(Absolute(dataDir / "sample-machine"));
    candidates.push_back(exeDir / "sample-machine");
    for (const fs::path& candidate : candidates) {
        if (IsTemplate(candidate)) return candidate;
    }
    return std::nullopt;
}

fs::path HomeFolder(const std::map<std::string, std::string>& env) {
    fs::path home = Lookup(env, "HOME");
    if (home.empty() && env.find("HOME") == env.end()) {
        if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) home = pw->pw_dir;
    }
    return home;
}

std::optional<fs::path> SampleMachineFolder(const std::map<std::string, std::string>& env) {
    // XDG: a relative XDG_DATA_HOME is invalid and ignored.
    fs::path dataHome = Lookup(env, "XDG_DATA_HOME");
    if (!dataHome.is_absolute()) {
        fs::path home = HomeFolder(env);
        if (home.empty()) return std::nullopt;
        dataHome = home / ".local" / "share";
    }
    return Absolute(dataHome / "hivewise" / "sample-machine");
}

MachineChoice ChooseSampleMachine(const std::map<std::string, std::string>& env,
                                  const fs::path& executable) {
    MachineChoice choice;
    auto folder = SampleMachineFolder(env);
    if (!folder) {
        choice.error = "No Wine prefix to work on: WINEPREFIX and HOME are not set.";
        return choice;
    }
    const fs::path sample = *folder;
    choice.isSample = true;
    if (HoldsRegistry(sample)) {
        choice.folder = sample;
        return choice;
    }
    std::error_code ec;
    if (fs::exists(fs::symlink_status(sample, ec)) && !IsEmptyFolder(sample)) {
        choice.error = sample.string() +
                       " is not a Wine prefix (it has no system.reg); remove it to have the "
                       "sample machine made again.";
        return choice;
    }
    auto templateDir = FindSampleTemplate(executable);
    if (!templateDir) {
        choice.error =
            "No Wine prefix to work on (WINEPREFIX is not set, ~/.wine has no system.reg) and "
            "the sample machine is not installed; give --prefix DIR.";
        return choice;
    }
    std::string error;
    if (!CreateSampleMachine(*templateDir, sample, &error)) {
        // Another start may have made it at the same moment.
        if (HoldsRegistry(sample)) {
            choice.folder = sample;
            return choice;
        }
        choice.error = "Cannot create the sample machine: " + error;
        return choice;
    }
    choice.folder = sample;
    return choice;
}

MachineChoice ChooseMachine(std::optional<fs::path> explicitPrefix,
                            const std::map<std::string, std::string>& env,
                            const fs::path& executable) {
    if (explicitPrefix && !explicitPrefix->empty()) return NamedPrefix(*explicitPrefix, "--prefix");
    // Wine's own convention: an empty WINEPREFIX counts as unset.
    if (std::string wine = Lookup(env, "WINEPREFIX"); !wine.empty()) {
        return NamedPrefix(wine, "WINEPREFIX");
    }
    fs::path home = HomeFolder(env);
    if (!home.empty() && HoldsRegistry(home / ".wine")) {
        MachineChoice choice;
        choice.folder = Absolute(home / ".wine");
        return choice;
    }
    return ChooseSampleMachine(env, executable);
}

bool InstallProgram(Machine& machine, const fs::path& executable, std::string* error) {
    std::string scratch;
    if (!error) error = &scratch;
    error->clear();
    std::error_code ec;
    const fs::path program = fs::canonical(executable, ec);
    if (ec || !fs::is_regular_file(program, ec)) {
        *error = "The program file " + executable.string() + " cannot be found.";
        return false;
    }
    const std::string folder = machine.ProgramFolder();
    PathResolver& paths = machine.Paths();
    auto parts = paths.Parse(folder);
    const Drive* drive = parts && !parts->unc ? machine.FindDrive(parts->drive) : nullptr;
    if (!drive || drive->type == DriveType::NoRootDir || !fs::is_directory(drive->hostRoot, ec)) {
        *error = "The program folder " + folder + " is on no drive of the machine.";
        return false;
    }

    // Each level is matched without regard to case, as Wine would, and made when missing.
    fs::path host = drive->hostRoot;
    for (const std::string& component : parts->components) {
        if (auto entry = paths.Lookup(host, component)) {
            host /= entry->hostName;
            if (!fs::is_directory(host, ec)) {
                *error = "Cannot create the program folder " + folder + ": " + host.string() +
                         " is not a folder.";
                return false;
            }
            continue;
        }
        fs::path next = host / Utf16ToUtf8(AnsiToUtf16(component));
        fs::create_directory(next, ec);
        paths.Invalidate(host);
        if (ec) {
            *error = "Cannot create the program folder " + folder + ": " + ec.message();
            return false;
        }
        host = next;
    }

    const std::string file = machine.ProgramFile();
    const std::string name = file.substr(file.find_last_of('\\') + 1);
    fs::path link = host / Utf16ToUtf8(AnsiToUtf16(name));
    if (auto entry = paths.Lookup(host, name)) {
        link = host / entry->hostName;
        if (!fs::is_symlink(fs::symlink_status(link, ec))) {
            // The user's own file: kept. Only a folder in the way is a failure.
            if (fs::is_directory(link, ec)) {
                *error =
                    "Cannot place the program in the machine: " + link.string() + " is a folder.";
                return false;
            }
            return true;
        }
        if (fs::read_symlink(link, ec) == program && !ec) return true;
    }
    // A new link beside the old one, renamed over it, so that there is always one.
    const fs::path temporary = host / (".hivewise.exe.new-" + std::to_string(::getpid()));
    fs::remove(temporary, ec);
    fs::create_symlink(program, temporary, ec);
    if (!ec) fs::rename(temporary, link, ec);
    paths.Invalidate(host);
    if (ec) {
        std::error_code ignored;
        fs::remove(temporary, ignored);
        *error =
            "Cannot place the program in the machine at " + link.string() + ": " + ec.message();
        return false;
    }
    return true;
}

fs::path RunningExecutable() {
    std::error_code ec;
    fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    return ec ? fs::path() : exe;
}

}  // namespace hivewise
