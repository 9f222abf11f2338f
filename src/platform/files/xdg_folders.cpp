#include "platform/files/xdg_folders.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "platform/files/atomic_file.h"

extern char** environ;

namespace hivewise {
namespace fs = std::filesystem;
namespace {

// user-dirs.dirs is a few lines; anything larger is not that file.
constexpr uint64_t kUserDirsLimit = 64 * 1024;

std::string Lookup(const std::map<std::string, std::string>& env, const std::string& name) {
    auto it = env.find(name);
    return it == env.end() ? std::string() : it->second;
}

fs::path AbsoluteOr(const std::string& value, const fs::path& fallback) {
    fs::path path(value);
    return !value.empty() && path.is_absolute() ? path.lexically_normal() : fallback;
}

// XDG_DESKTOP_DIR="$HOME/Desktop" or an absolute path; nothing for any other form.
std::optional<fs::path> DesktopFromUserDirs(const fs::path& file, const fs::path& home) {
    std::string text, error;
    if (!ReadWholeFile(file, &text, &error, kUserDirsLimit)) return std::nullopt;
    std::optional<fs::path> found;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string_view line(text.data() + start, end - start);
        start = end + 1;
        constexpr std::string_view kKey = "XDG_DESKTOP_DIR=\"";
        if (line.substr(0, kKey.size()) != kKey) continue;
        line.remove_prefix(kKey.size());
        size_t close = line.find('"');
        if (close == std::string_view::npos) continue;
        std::string value(line.substr(0, close));
        if (value.find('\\') != std::string::npos || value.find('$', 1) != std::string::npos) {
            continue;
        }
        if (value == "$HOME" || value.rfind("$HOME/", 0) == 0) {
            found = (home / value.substr(std::min<size_t>(value.size(), 6))).lexically_normal();
        } else if (!value.empty() && value[0] == '/') {
            found = fs::path(value).lexically_normal();
        }
    }
    if (found && found->has_filename() == false) *found = found->parent_path();
    return found;
}

bool IsDirectory(const fs::path& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// `path` below `base`: the parts after it, or nothing.
std::optional<fs::path> Below(const fs::path& base, const fs::path& path) {
    if (base.empty()) return std::nullopt;
    auto b = base.begin(), p = path.begin();
    for (; b != base.end(); ++b, ++p) {
        if (b->empty()) continue;  // a trailing separator
        if (p == path.end() || *b != *p) return std::nullopt;
    }
    fs::path rest;
    for (; p != path.end(); ++p)
        rest /= *p;
    if (rest.empty()) return std::nullopt;
    return rest;
}

bool StartsWith(std::string_view text, std::string_view start) {
    return text.substr(0, start.size()) == start;
}

bool EndsWith(std::string_view text, std::string_view end) {
    return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

bool IsDataFile(const fs::path& rest) {
    std::vector<std::string> parts;
    for (const auto& part : rest)
        parts.push_back(part.string());
    if (parts.size() < 2) return false;
    const std::string& name = parts.back();
    if (parts[0] == "applications") {
        if (parts.size() >= 3 && parts[1] == "wine") return true;
        return parts.size() == 2 && StartsWith(name, "wine-extension-") &&
               EndsWith(name, ".desktop");
    }
    if (parts[0] == "desktop-directories") {
        return parts.size() == 2 && StartsWith(name, "wine-") && EndsWith(name, ".directory");
    }
    if (parts[0] == "icons") {
        return parts.size() == 5 && parts[1] == "hicolor" && parts[3] == "apps";
    }
    if (parts[0] == "mime") {
        return parts.size() == 3 && parts[1] == "packages" &&
               StartsWith(name, "x-wine-extension-") && EndsWith(name, ".xml");
    }
    return false;
}

bool HasDotParts(const fs::path& path) {
    for (const auto& part : path) {
        if (part == "." || part == "..") return true;
    }
    return false;
}

// The program's path in PATH, or nothing.
std::optional<std::string> FindProgram(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string_view dirs = path ? path : "/usr/bin:/bin";
    while (!dirs.empty()) {
        size_t colon = dirs.find(':');
        std::string dir(dirs.substr(0, colon));
        dirs.remove_prefix(colon == std::string_view::npos ? dirs.size() : colon + 1);
        if (dir.empty() || dir[0] != '/') continue;
        std::string candidate = dir + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return std::nullopt;
}

void RunQuietly(const std::string& program, const std::string& argument) {
    auto found = FindProgram(program);
    if (!found) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::string arg0 = program;
    std::string arg1 = argument;
    char* argv[] = {arg0.data(), arg1.data(), nullptr};
    pid_t pid = 0;
    if (posix_spawn(&pid, found->c_str(), &actions, nullptr, argv, environ) == 0) {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
    posix_spawn_file_actions_destroy(&actions);
}

}  // namespace

std::optional<XdgFolders> FindXdgFolders(const std::map<std::string, std::string>& env) {
    fs::path home(Lookup(env, "HOME"));
    if (home.empty() || !home.is_absolute()) return std::nullopt;
    XdgFolders folders;
    folders.home = home.lexically_normal();
    if (!folders.home.has_filename() && folders.home != folders.home.root_path()) {
        folders.home = folders.home.parent_path();
    }
    folders.dataHome = AbsoluteOr(Lookup(env, "XDG_DATA_HOME"), folders.home / ".local/share");
    folders.configHome = AbsoluteOr(Lookup(env, "XDG_CONFIG_HOME"), folders.home / ".config");
    auto desktop = DesktopFromUserDirs(folders.configHome / "user-dirs.dirs", folders.home);
    if (desktop) {
        folders.desktop = *desktop;
    } else {
        // Without a desktop folder, Wine links the profile's Desktop to the home folder.
        fs::path standard = folders.home / "Desktop";
        folders.desktop = IsDirectory(standard) ? standard : folders.home;
    }
    return folders;
}

std::optional<XdgFolders> CurrentXdgFolders() {
    std::map<std::string, std::string> env;
    for (const char* name : {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME"}) {
        if (const char* value = std::getenv(name)) env[name] = value;
    }
    return FindXdgFolders(env);
}

namespace {

// The base folder below which `path` is a menu builder file.
std::optional<fs::path> MenuBuilderBase(const XdgFolders& folders, const fs::path& path) {
    if (!path.is_absolute() || HasDotParts(path) || !path.has_filename()) return std::nullopt;
    if (auto rest = Below(folders.dataHome, path); rest && IsDataFile(*rest)) {
        return folders.dataHome;
    }
    if (auto rest = Below(folders.configHome, path)) {
        std::vector<std::string> parts;
        for (const auto& part : *rest)
            parts.push_back(part.string());
        if (parts.size() == 3 && parts[0] == "menus" && parts[1] == "applications-merged" &&
            StartsWith(parts[2], "wine-") && EndsWith(parts[2], ".menu")) {
            return folders.configHome;
        }
    }
    if (auto rest = Below(folders.desktop, path)) {
        std::string name = rest->string();
        if (name.find('/') == std::string::npos &&
            (EndsWith(name, ".desktop") || EndsWith(name, ".lnk"))) {
            return folders.desktop;
        }
    }
    return std::nullopt;
}

}  // namespace

bool IsMenuBuilderFile(const XdgFolders& folders, const fs::path& path) {
    return MenuBuilderBase(folders, path).has_value();
}

bool MayTouchMenuBuilderFile(const XdgFolders& folders, const fs::path& path, bool createFolders) {
    auto base = MenuBuilderBase(folders, path);
    if (!base) return false;
    struct stat st {};
    // The base folder itself may be a link the user made; below it nothing may be.
    if (::stat(base->c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
    fs::path at = *base;
    fs::path between = Below(*base, path.parent_path()).value_or(fs::path());
    for (const auto& part : between) {
        at /= part;
        if (::lstat(at.c_str(), &st) != 0 && createFolders && errno == ENOENT) {
            ::mkdir(at.c_str(), 0755);
        }
        if (::lstat(at.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
    }
    if (::lstat(path.c_str(), &st) == 0) return S_ISREG(st.st_mode);
    return errno == ENOENT;
}

void RefreshDesktopCaches(const XdgFolders& folders, const std::vector<fs::path>& changed) {
    fs::path applications = folders.dataHome / "applications";
    fs::path packages = folders.dataHome / "mime" / "packages";
    auto any = [&](const fs::path& folder) {
        return std::any_of(changed.begin(), changed.end(),
                           [&](const fs::path& path) { return Below(folder, path).has_value(); });
    };
    if (any(applications) && IsDirectory(applications)) {
        RunQuietly("update-desktop-database", applications.string());
    }
    if (any(packages) && IsDirectory(packages)) {
        RunQuietly("update-mime-database", (folders.dataHome / "mime").string());
    }
}

}  // namespace hivewise
