#include "scan/scanners/shortcut_scanner.h"

#include <sys/stat.h>

#include <string_view>
#include <unordered_map>

#include "platform/files/folder_walk.h"
#include "platform/machine/string_table.h"
#include "platform/machine/text.h"
#include "scan/scan_driver.h"

namespace hivewise {
namespace {

constexpr int kSectionShortcuts = 14;
// Only files below this size are opened as shortcuts.
constexpr uint64_t kShortcutSizeLimit = 1024;
// A folder's listing pattern ("\*.*") must fit MAX_PATH with its terminator.
constexpr size_t kPatternSuffix = 4;

bool EndsWith(std::string_view text, std::string_view end) {
    return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

// A host name (UTF-8) as the ANSI name Windows shows.
// Appends the ANSI form of a host name.
void AppendAnsiName(std::string& out, std::string_view hostName) {
    if (IsAscii(hostName)) {
        out += hostName;
    } else {
        out += Utf16ToAnsi(Utf8ToUtf16(hostName));
    }
}

// PathIsFileSpecA: no colon and no backslash.
bool IsFileSpec(std::string_view path) {
    return path.find_first_of(":\\") == std::string_view::npos;
}

// PathIsUNCServerShareA: "\\server\share" with nothing after the share.
bool IsUncServerShare(std::string_view path) {
    if (path.size() < 2 || path[0] != '\\' || path[1] != '\\') return false;
    size_t slashes = 0;
    for (char c : path.substr(2)) {
        if (c == '\\' && ++slashes > 1) return false;
    }
    return slashes == 1;
}

// A Wine prefix met through a link (this one again below the home folder, or another
// one): its shortcuts name targets of its own drives, and its dosdevices lead to other
// drives and the host's root. It is not entered.
bool IsWinePrefix(const std::string& hostFolder) {
    struct stat st {};
    return ::stat((hostFolder + "/system.reg").c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
           ::stat((hostFolder + "/dosdevices").c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Whether the entry is a plain file small enough to be a shortcut. A lean walk knows only
// that a file is plain; its size is asked for here, for ".lnk" files alone.
bool IsSmallFile(const WalkEntry& entry) {
    struct stat st = entry.st;
    if (!S_ISREG(st.st_mode)) return false;
    if (!entry.statted && ::stat(entry.path.c_str(), &st) != 0) return false;
    return S_ISREG(st.st_mode) && static_cast<uint64_t>(st.st_size) < kShortcutSizeLimit;
}

// Whether a resolved target is a missing file on a fixed disk, the tests in this order.
bool TargetIsMissingFile(ScanContext& context, const std::string& target) {
    FileSystemAccess& files = context.Files();
    return !target.empty() && !IsFileSpec(target) && target.find("Recycled") == std::string::npos &&
           !IsUncServerShare(target) && !files.IsNonFixedDrive(target) &&
           !FileReferenceExists(context.Refs(), target) && !files.IsDirectory(target);
}

void ReportShortcut(ScanContext& context, const std::string& shortcut, const std::string& target) {
    const std::string description = LoadResourceText(kIdsShortcutInvalid);
    context.Report(
        std::make_unique<Problem>(kSectionShortcuts, ProblemTexts{.itemText = shortcut,
                                                                  .location = target,
                                                                  .valueData = target,
                                                                  .description = description}));
}

// The walk's state: the Windows path of every folder entered, and the folder whose
// remaining entries are passed over.
class ShortcutWalk {
  public:
    ShortcutWalk(ScanContext& context, std::string rootHost, std::string rootWindows)
        : context_(context) {
        folders_.emplace(std::move(rootHost), std::move(rootWindows));
    }

    WalkAction Visit(const WalkEntry& entry) {
        if (!context_.Continue()) return WalkAction::Stop;
        const std::string& host = entry.path;
        size_t cut = host.rfind('/');
        std::string_view parent(host.data(), cut == std::string::npos ? 0 : cut);
        std::string_view name(host.data() + parent.size() + 1, host.size() - parent.size() - 1);
        if (parent != parentHost_) {
            parentHost_.assign(parent);
            auto known = folders_.find(parentHost_);
            parentWindows_ = known == folders_.end() ? std::string() : known->second;
            folderStopped_ = false;
        }
        // A name holding a backslash has no path of its own on the Windows side.
        if (folderStopped_ || parentWindows_.empty() || name.find('\\') != std::string::npos) {
            return WalkAction::SkipChildren;
        }
        // Built in a buffer kept from entry to entry: most entries are plain files.
        std::string& path = path_;
        path.assign(parentWindows_).append(1, '\\');
        AppendAnsiName(path, name);
        // A link out of the prefix (a profile folder linked to the home folder) leads to
        // files of the host or of other prefixes: never judged against this machine.
        if (entry.isLink && !context_.Files().HostPathInPrefix(std::filesystem::path(entry.path))) {
            return WalkAction::SkipChildren;
        }

        if (entry.isDirectory) {
            context_.PumpMessages();
            // Deeper folders cannot be listed within MAX_PATH.
            if (entry.revisited || path.size() + kPatternSuffix >= kMaxPath || IsWinePrefix(host)) {
                return WalkAction::SkipChildren;
            }
            folders_.emplace(host, path);
            return WalkAction::Continue;
        }
        // The network neighbourhood's entries are not examined.
        if (path.find("NetHood") != std::string::npos) {
            folderStopped_ = true;
            return WalkAction::SkipChildren;
        }
        if (EndsWith(path, ".lnk") && IsSmallFile(entry)) {
            std::string target, description;
            ResolveShortcutFile(context_.Files(), std::filesystem::path(entry.path), &target,
                                &description, &targets_);
            if (TargetIsMissingFile(context_, target)) ReportShortcut(context_, path, target);
        }
        context_.SetStatusLine(path);
        context_.PumpMessages();
        return WalkAction::Continue;
    }

  private:
    ScanContext& context_;
    std::unordered_map<std::string, std::string> folders_;
    std::string parentHost_ = std::string(1, '\0');  // matches no host path
    std::string parentWindows_;
    std::string path_;
    bool folderStopped_ = false;
    ShortcutTargets targets_;
};

}  // namespace

void ScanShortcuts(ScanContext& context, const std::string& folder) {
    std::string windows = folder;
    while (!windows.empty() && (windows.back() == '\\' || windows.back() == '/'))
        windows.pop_back();
    if (windows.empty() || windows.size() + kPatternSuffix >= kMaxPath) return;
    auto host = context.Files().ToHostPath(windows + "\\");
    if (!host) return;
    // Paths of the walk are built on the host path's own text, without a trailing slash.
    std::string root = host->native();
    while (root.size() > 1 && root.back() == '/')
        root.pop_back();
    // A drive outside the prefix (Z:, the host's root) is not the machine's to walk.
    if (!context.Files().HostPathInPrefix(root)) return;
    // The root of the host's tree: its entries' parent text is empty.
    ShortcutWalk walk(context, root == "/" ? std::string() : root, windows);
    WalkFolder(
        root, [&walk](const WalkEntry& entry) { return walk.Visit(entry); }, WalkDetail::Lean);
}

void ScanSystemDriveShortcuts(ScanContext& context) {
    std::string root = SystemDriveRoot(context.Files());
    if (!root.empty()) ScanShortcuts(context, root);
}

}  // namespace hivewise
