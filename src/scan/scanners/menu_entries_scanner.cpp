#include "scan/scanners/menu_entries_scanner.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <map>
#include <set>

#include "platform/machine/machine_finder.h"
#include "platform/machine/sample_machine.h"
#include "platform/machine/text.h"
#include "scan/menu_entries/desktop_entry.h"
#include "scan/scanners/shortcut_scanner.h"

namespace hivewise {
namespace fs = std::filesystem;
namespace {

constexpr std::string_view kPrefixGoneText =
    "The menu entry starts a program of a Wine prefix that no longer exists (%s)";
constexpr std::string_view kTargetGoneText =
    "The menu entry starts a shortcut or program that no longer exists (%s)";
constexpr std::string_view kProgIdGoneText =
    "The file type entry opens a ProgID that is no longer registered (%s)";
constexpr std::string_view kMenuUnusedText =
    "The menu file lists no menu entry that still exists (%s)";
constexpr std::string_view kDirectoryUnusedText =
    "The menu folder is used by no menu file that still exists (%s)";
constexpr std::string_view kIconUnusedText =
    "The icon is used by no menu entry that still exists (%s)";
constexpr std::string_view kFileTypeUnusedText =
    "The file type is used by no file type entry that still exists (%s)";
constexpr std::string_view kDesktopLinkText =
    "The desktop shortcut refers to a file that exists in no Wine prefix (%s)";

// Bounds of the walk of the menu builder's folders: their trees are a few levels deep.
constexpr int kMaxDepth = 16;
constexpr size_t kMaxFiles = 20000;
// Shortcut files are small; anything larger on the desktop is not one.
constexpr uint64_t kShortcutLimit = 64 * 1024;

bool EndsWith(std::string_view text, std::string_view end) {
    return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

bool StartsWith(std::string_view text, std::string_view start) {
    return text.substr(0, start.size()) == start;
}

struct LStat {
    bool ok = false;
    struct stat st {};
    explicit LStat(const fs::path& path) { ok = ::lstat(path.c_str(), &st) == 0; }
    bool File() const { return ok && S_ISREG(st.st_mode); }
    bool Folder() const { return ok && S_ISDIR(st.st_mode); }
};

// The names in a folder, links and all; "." and ".." left out.
std::vector<std::string> Names(const fs::path& folder) {
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return names;
    while (dirent* entry = ::readdir(dir)) {
        std::string_view name = entry->d_name;
        if (name == "." || name == "..") continue;
        names.emplace_back(name);
        if (names.size() >= kMaxFiles) break;
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

// Plain files below `folder`, never through a link, with their path relative to it.
void CollectFiles(const fs::path& folder, const fs::path& relative, int depth,
                  std::vector<fs::path>* out) {
    if (depth > kMaxDepth || out->size() >= kMaxFiles) return;
    for (const std::string& name : Names(folder / relative)) {
        fs::path rel = relative / name;
        LStat info(folder / rel);
        if (info.Folder()) {
            CollectFiles(folder, rel, depth + 1, out);
        } else if (info.File()) {
            out->push_back(rel);
        }
        if (out->size() >= kMaxFiles) return;
    }
}

bool IsPrefix(const fs::path& prefix) {
    struct stat st {};
    return !prefix.empty() && ::stat((prefix / "system.reg").c_str(), &st) == 0 &&
           S_ISREG(st.st_mode);
}

fs::path Canonical(const fs::path& path) {
    std::error_code ec;
    fs::path canonical = fs::weakly_canonical(path, ec);
    return ec ? path.lexically_normal() : canonical;
}

// One file the menu builder wrote, and the verdict on it.
struct Item {
    fs::path file;
    std::string name;  // the entry's Name=, else the file's name
    std::string icon;
    std::string reason;     // empty: not stale
    std::string menuId;     // applications/wine/A/B.desktop: "wine-A-B.desktop"
    std::string extension;  // wine-extension-EXT.desktop: "EXT"
    bool wineMade = false;
};

class MenuEntriesScan {
  public:
    MenuEntriesScan(ScanContext& context, const XdgFolders& folders,
                    const std::vector<fs::path>& prefixes)
        : context_(context), folders_(folders), self_(Canonical(context.GetMachine().PrefixDir())) {
        for (const fs::path& prefix : prefixes)
            prefixes_.push_back(Canonical(prefix));
        if (std::find(prefixes_.begin(), prefixes_.end(), self_) == prefixes_.end()) {
            prefixes_.push_back(self_);
        }
    }

    void Run() {
        ReadRecords();
        ReadEntries();
        JudgeMenus();
        JudgeDirectories();
        JudgeIcons();
        JudgeFileTypes();
        JudgeDesktopLinks();
    }

  private:
    // ---- the registry records of this machine ----
    void ReadRecords() {
        RegistryAccess& registry = context_.Registry();
        ScopedKey key(registry);
        if (registry.OpenKey(kHkeyCurrentUser, kMenuFilesKey, kKeyRead, &key) == kErrorSuccess) {
            std::string name;
            for (uint32_t i = 0; registry.EnumValue(key, i, &name) == kErrorSuccess; ++i) {
                // "\\?\Z:\home\...": the file's Windows path in its long form.
                std::string windows = name;
                if (StartsWith(windows, "\\\\?\\")) windows.erase(0, 4);
                if (auto host = context_.Files().ToHostPath(windows)) {
                    menuValues_[Canonical(*host)] = name;
                }
            }
        }
        if (registry.OpenKey(kHkeyCurrentUser, kFileOpenAssociationsKey, kKeyRead, &key) ==
            kErrorSuccess) {
            std::string name;
            for (uint32_t i = 0; registry.EnumKey(key, i, &name) == kErrorSuccess; ++i) {
                std::string sub = std::string(kFileOpenAssociationsKey) + "\\" + name;
                std::string file = registry.ReadStringValue(kHkeyCurrentUser, sub, "DesktopFile");
                if (!file.empty() && file[0] == '/') assocKeys_[Canonical(file)] = sub;
            }
        }
    }

    // ---- the entries ----
    void ReadEntries() {
        fs::path applications = folders_.dataHome / "applications";
        std::vector<fs::path> files;
        if (LStat(applications / "wine").Folder())
            CollectFiles(applications / "wine", {}, 0, &files);
        for (const fs::path& rel : files) {
            if (rel.extension() != ".desktop") continue;
            Item item = ReadEntry(applications / "wine" / rel);
            std::string id = "wine";
            for (const auto& part : rel) {
                id += '-';
                id += part.string();
            }
            item.menuId = id;
            entries_.push_back(std::move(item));
        }
        for (const std::string& name : Names(applications)) {
            fs::path file = applications / name;
            if (!EndsWith(name, ".desktop") || !LStat(file).File()) continue;
            Item item = ReadEntry(file);
            if (StartsWith(name, "wine-extension-")) {
                item.extension = name.substr(15, name.size() - 15 - 8);
                entries_.push_back(std::move(item));
            } else {
                others_.push_back(std::move(item));  // only its icon counts
            }
        }
        for (const std::string& name : Names(folders_.desktop)) {
            fs::path file = folders_.desktop / name;
            if (EndsWith(name, ".desktop") && LStat(file).File())
                entries_.push_back(ReadEntry(file));
        }
        for (Item& item : entries_) {
            if (!context_.Continue()) return;
            if (!item.reason.empty()) Report(item);
        }
    }

    Item ReadEntry(const fs::path& file) {
        Item item;
        item.file = file;
        item.name = file.filename().string();
        std::string text;
        if (!ReadSmallFile(file, &text)) return item;
        DesktopEntry entry = ParseDesktopEntry(text, folders_.home);
        if (!entry.name.empty()) item.name = entry.name;
        item.icon = entry.icon;
        item.wineMade = entry.wineMade;
        if (entry.wineMade) item.reason = Verdict(entry);
        context_.SetStatusLine(file.string());
        context_.PumpMessages();
        return item;
    }

    // Why a wine-made entry is stale; empty when it is not, or is another prefix's.
    std::string Verdict(const DesktopEntry& entry) {
        if (!IsPrefix(entry.prefix)) return std::string(kPrefixGoneText);
        if (Canonical(entry.prefix) != self_) return {};
        if (!entry.progId.empty()) {
            return context_.Registry().KeyExists(kHkeyClassesRoot, entry.progId)
                       ? std::string()
                       : std::string(kProgIdGoneText);
        }
        if (!entry.unixLink.empty()) {
            return LStat(entry.unixLink).ok ? std::string() : std::string(kTargetGoneText);
        }
        if (!entry.windowsPath.empty() && !WindowsPathExistsIn(self_, entry.windowsPath)) {
            return std::string(kTargetGoneText);
        }
        return {};
    }

    // ---- what the entries use ----
    void JudgeMenus() {
        std::set<std::string> remaining;
        for (const Item& item : entries_) {
            if (item.reason.empty() && !item.menuId.empty()) remaining.insert(item.menuId);
        }
        fs::path folder = folders_.configHome / "menus" / "applications-merged";
        for (const std::string& name : Names(folder)) {
            fs::path file = folder / name;
            if (!StartsWith(name, "wine-") || !EndsWith(name, ".menu") || !LStat(file).File()) {
                continue;
            }
            std::string text;
            if (!ReadSmallFile(file, &text)) continue;
            MenuFileRefs refs = ParseMenuFile(text);
            bool used = std::any_of(refs.filenames.begin(), refs.filenames.end(),
                                    [&](const std::string& id) { return remaining.count(id); });
            if (used) {
                for (const std::string& directory : refs.directories)
                    usedDirectories_.insert(directory);
                continue;
            }
            Item item{file, name, {}, std::string(kMenuUnusedText), {}, {}, true};
            Report(item);
        }
    }

    void JudgeDirectories() {
        fs::path folder = folders_.dataHome / "desktop-directories";
        for (const std::string& name : Names(folder)) {
            fs::path file = folder / name;
            if (!StartsWith(name, "wine-") || !EndsWith(name, ".directory") ||
                !LStat(file).File() || usedDirectories_.count(name)) {
                continue;
            }
            Item item{file, name, {}, std::string(kDirectoryUnusedText), {}, {}, true};
            Report(item);
        }
    }

    // An icon is removed only when a stale entry named it and no remaining entry does:
    // prefixes that installed the same program share its icon by name.
    void JudgeIcons() {
        std::set<std::string> stale, kept;
        for (const Item& item : entries_) {
            if (item.icon.empty() || item.icon.find('/') != std::string::npos) continue;
            (item.reason.empty() ? kept : stale).insert(item.icon);
        }
        for (const Item& item : others_)
            kept.insert(item.icon);
        fs::path hicolor = folders_.dataHome / "icons" / "hicolor";
        for (const std::string& size : Names(hicolor)) {
            fs::path apps = hicolor / size / "apps";
            if (!LStat(hicolor / size).Folder() || !LStat(apps).Folder()) continue;
            for (const std::string& name : Names(apps)) {
                std::string stem = fs::path(name).stem().string();
                if (!stale.count(stem) || kept.count(stem) || !LStat(apps / name).File()) continue;
                Item item{apps / name, name, {}, std::string(kIconUnusedText), {}, {}, true};
                Report(item);
            }
        }
    }

    void JudgeFileTypes() {
        std::set<std::string> stale, kept;
        for (const Item& item : entries_) {
            if (item.extension.empty()) continue;
            (item.reason.empty() ? kept : stale).insert(item.extension);
        }
        fs::path folder = folders_.dataHome / "mime" / "packages";
        for (const std::string& extension : stale) {
            if (kept.count(extension)) continue;
            std::string name = "x-wine-extension-" + extension + ".xml";
            if (!LStat(folder / name).File()) continue;
            Item item{folder / name, name, {}, std::string(kFileTypeUnusedText), {}, {}, true};
            Report(item);
        }
    }

    // The desktop folder is every prefix's Desktop: a shortcut there is stale only when
    // its target exists in no prefix at all.
    void JudgeDesktopLinks() {
        for (const std::string& name : Names(folders_.desktop)) {
            if (!context_.Continue()) return;
            fs::path file = folders_.desktop / name;
            if (!EndsWith(name, ".lnk")) continue;
            LStat info(file);
            if (!info.File() || static_cast<uint64_t>(info.st.st_size) > kShortcutLimit) continue;
            std::string target, description;
            ResolveShortcutFile(context_.Files(), file, &target, &description);
            if (target.size() < 3 || target[1] != ':' || target[2] != '\\') continue;
            // A drive no prefix has now (a disc not inserted) cannot be judged.
            std::string drive(
                1, static_cast<char>(std::tolower(static_cast<unsigned char>(target[0]))));
            bool judged = false, exists = false;
            for (const fs::path& prefix : prefixes_) {
                struct stat st {};
                if (!IsPrefix(prefix) ||
                    ::stat((prefix / "dosdevices" / (drive + ":")).c_str(), &st) != 0) {
                    continue;
                }
                judged = true;
                exists = exists || WindowsPathExistsIn(prefix, target);
            }
            if (!judged || exists) continue;
            Item item{file, name, {}, std::string(kDesktopLinkText), {}, {}, true};
            Report(item, target);
        }
    }

    void Report(const Item& item, const std::string& shown = {}) {
        // Nothing outside the menu builder's own files is ever a finding.
        if (!IsMenuBuilderFile(folders_, item.file)) return;
        const std::string file = item.file.string();
        std::string location = file;
        std::string_view valueName;
        fs::path canonical = Canonical(item.file);
        if (auto value = menuValues_.find(canonical); value != menuValues_.end()) {
            location = "HKEY_CURRENT_USER\\" + std::string(kMenuFilesKey);
            valueName = value->second;
        } else if (auto key = assocKeys_.find(canonical); key != assocKeys_.end()) {
            location = "HKEY_CURRENT_USER\\" + key->second;
        }
        std::string description = item.reason;
        if (!shown.empty()) {
            // The shortcut's target goes into the text; the file stays the finding's data.
            size_t at = description.find("%s");
            if (at != std::string::npos) description.replace(at, 2, shown);
        }
        context_.Report(std::make_unique<Problem>(
            kSectionMenuEntries, ProblemTexts{item.name, location, valueName, file, description}));
    }

    ScanContext& context_;
    const XdgFolders& folders_;
    fs::path self_;
    std::vector<fs::path> prefixes_;
    std::map<fs::path, std::string> menuValues_;  // file -> MenuFiles value name
    std::map<fs::path, std::string> assocKeys_;   // file -> FileOpenAssociations sub-key
    std::vector<Item> entries_;
    std::vector<Item> others_;
    std::set<std::string> usedDirectories_;
};

bool EqualsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

}  // namespace

bool IsMenuBuilderRecordKey(std::string_view keyPath) {
    // Every key of a walk is asked: most are told apart without a copy.
    constexpr std::string_view kWine = "\\software\\wine\\";
    bool wine = false;
    // From backslash to backslash: a path has a few, and the library finds each at once.
    for (size_t at = keyPath.find('\\'); !wine && at != std::string_view::npos;
         at = keyPath.find('\\', at + 1)) {
        wine = AnsiEqualsNoCase(keyPath.substr(at, kWine.size()), kWine);
    }
    if (!wine) return false;
    std::string lower = AnsiLower(keyPath);
    for (std::string_view key : {kMenuFilesKey, kFileOpenAssociationsKey}) {
        std::string tail = "\\" + AnsiLower(std::string(key));
        size_t at = lower.find(tail);
        if (at == std::string::npos) continue;
        size_t end = at + tail.size();
        // HKEY_CURRENT_USER\Software\Wine\..., or a user's key under HKEY_USERS.
        std::string_view root = std::string_view(lower).substr(0, at);
        bool userRoot = StartsWith(root, "hkey_users\\") || StartsWith(root, "hku\\");
        bool ownRoot = root == "hkey_current_user" || root == "hkcu" ||
                       (userRoot && root.find('\\', root.find('\\') + 1) == std::string_view::npos);
        if (ownRoot && (end == lower.size() || lower[end] == '\\')) return true;
    }
    return false;
}

bool WindowsPathExistsIn(const fs::path& prefix, std::string_view windowsPath) {
    if (windowsPath.size() < 3 || windowsPath[1] != ':' || windowsPath[2] != '\\' ||
        !std::isalpha(static_cast<unsigned char>(windowsPath[0]))) {
        return false;
    }
    std::string drive(1,
                      static_cast<char>(std::tolower(static_cast<unsigned char>(windowsPath[0]))));
    fs::path at = prefix / "dosdevices" / (drive + ":");
    std::string_view rest = windowsPath.substr(3);
    struct stat st {};
    if (::stat(at.c_str(), &st) != 0) return false;
    while (!rest.empty()) {
        size_t cut = rest.find('\\');
        std::string_view part = rest.substr(0, cut);
        rest.remove_prefix(cut == std::string_view::npos ? rest.size() : cut + 1);
        if (part.empty() || part == ".") continue;
        if (part == ".." || part.find('/') != std::string_view::npos) return false;
        if (::stat((at / std::string(part)).c_str(), &st) == 0) {
            at /= std::string(part);
            continue;
        }
        // Windows names are found without regard to case.
        std::string found;
        for (const std::string& name : Names(at)) {
            if (EqualsNoCase(name, part)) {
                found = name;
                break;
            }
        }
        if (found.empty()) return false;
        at /= found;
    }
    return ::stat(at.c_str(), &st) == 0;
}

void ScanMenuEntriesIn(ScanContext& context, const XdgFolders& folders,
                       const std::vector<fs::path>& prefixes) {
    MenuEntriesScan(context, folders, prefixes).Run();
}

void ScanMenuEntries(ScanContext& context) {
    auto folders = CurrentXdgFolders();
    if (!folders) return;
    std::map<std::string, std::string> env;
    for (const char* name : {"HOME", "WINEPREFIX", "XDG_DATA_HOME"}) {
        if (const char* value = std::getenv(name)) env[name] = value;
    }
    std::vector<fs::path> prefixes;
    for (const FoundMachine& machine : FindMachines(env, RunningExecutable()))
        prefixes.push_back(machine.path);
    ScanMenuEntriesIn(context, *folders, prefixes);
}

}  // namespace hivewise
