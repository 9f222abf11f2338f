#include "platform/files/file_system_access.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/files/path_resolver.h"
#include "platform/files/wildcard.h"
#include "platform/machine/text.h"
#include "platform/registry/registry_editor.h"
#include "platform/registry/registry_store.h"

namespace hivewise {
namespace {

namespace fs = std::filesystem;

// Where Wine keeps the hidden and system attributes of a file.
constexpr const char* kDosAttribXattr = "user.DOSATTRIB";
// CreateDirectoryA leaves room for an 8.3 name below the new folder.
constexpr size_t kMaxDirectoryPath = kMaxPath - 12 + 1;

bool HasWriteBit(mode_t mode) {
    return (mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0;
}

bool WriteAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// Copies the bytes, mode and times of `from` into the open descriptor `to`.
bool CopyContents(const fs::path& from, const struct stat& st, int to) {
    int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return false;
    char buffer[64 * 1024];
    bool ok = true;
    for (;;) {
        ssize_t n = ::read(in, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) ok = false;
        if (n <= 0) break;
        if (!WriteAll(to, buffer, static_cast<size_t>(n))) {
            ok = false;
            break;
        }
    }
    ::close(in);
    if (!ok) return false;
    struct timespec times[2] = {st.st_atim, st.st_mtim};
    ::fchmod(to, st.st_mode & 07777);
    ::futimens(to, times);
    return ::fsync(to) == 0;
}

std::string SplitLast(const std::string& path, std::string* folder) {
    size_t cut = path.find_last_of("\\/");
    if (cut == std::string::npos) {
        // "C:name" is a name in the drive's current folder.
        bool drive = path.size() >= 2 && path[1] == ':';
        *folder = drive ? path.substr(0, 2) : std::string{};
        return drive ? path.substr(2) : path;
    }
    *folder = path.substr(0, cut + 1);
    return path.substr(cut + 1);
}

}  // namespace

uint32_t HostFileAttributes(const fs::path& hostPath, std::string_view name) {
    struct stat st {};
    // A dangling link still is an entry of its folder; it reads as a file.
    if (::stat(hostPath.c_str(), &st) != 0 && ::lstat(hostPath.c_str(), &st) != 0) {
        return kInvalidFileAttributes;
    }
    uint32_t attributes = S_ISDIR(st.st_mode) ? kFileAttributeDirectory : kFileAttributeArchive;
    if (!HasWriteBit(st.st_mode)) attributes |= kFileAttributeReadOnly;
    if (name.size() > 1 && name[0] == '.' && name != "..") attributes |= kFileAttributeHidden;
    char text[32] = {};
    ssize_t n = ::getxattr(hostPath.c_str(), kDosAttribXattr, text, sizeof text - 1);
    if (n > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        unsigned long stored = std::strtoul(text + 2, nullptr, 16);
        attributes |= static_cast<uint32_t>(stored) & (kFileAttributeHidden | kFileAttributeSystem);
    }
    return attributes;
}

std::optional<WindowsPathParts> FileSystemAccess::PartsWithin(const std::string& path,
                                                              size_t limit) {
    if (path.size() + 1 > limit) return std::nullopt;
    PathResolver& paths = machine_.Paths();
    auto parts = paths.Parse(path);
    if (!parts) return std::nullopt;
    // The ANSI text and its full form must both fit the buffer.
    if (parts->TextSize() + 1 > limit) return std::nullopt;
    // The full form is what gets resolved; it reads back as the same parts unless the
    // last component kept trailing dots or blanks (a last one made of nothing else went).
    const std::string* last = parts->components.empty() ? nullptr : &parts->components.back();
    if (last && !last->empty() && (last->back() == '.' || last->back() == ' ')) {
        parts = paths.Parse(parts->Text());
    }
    return parts;
}

std::optional<std::string> FileSystemAccess::ResolveText(const std::string& path, bool mayNotExist,
                                                         size_t limit) {
    auto parts = PartsWithin(path, limit);
    if (!parts) return std::nullopt;
    return machine_.Paths().HostPath(*parts, mayNotExist);
}

std::optional<fs::path> FileSystemAccess::Resolve(const std::string& path, bool mayNotExist,
                                                  size_t limit) {
    auto host = ResolveText(path, mayNotExist, limit);
    if (!host) return std::nullopt;
    return fs::path(std::move(*host));
}

uint32_t FileSystemAccess::GetFileAttributes(const std::string& path) {
    auto host = Resolve(path, false);
    if (!host) return kInvalidFileAttributes;
    // The real name decides hiding, also when the path gave the short one.
    auto parts = machine_.Paths().Parse(path);
    bool root = !parts || parts->components.empty();
    return HostFileAttributes(*host, root ? std::string() : host->filename().string());
}

// The two questions below need no attribute store: the walk that finds the entry
// answers existence (a dangling link is an entry too), one stat the directory bit.
bool FileSystemAccess::IsDirectory(const std::string& path) {
    auto parts = PartsWithin(path, kMaxPath);
    if (!parts) return false;
    struct stat st {};
    PathResolver& paths = machine_.Paths();
    // A path there as written resolves to itself: one stat answers. In a snapshot the
    // listings answer a missing path without one, so they are asked first.
    if (!paths.Snapshotting()) {
        auto written = paths.WrittenPath(*parts);
        if (written && ::stat(written->c_str(), &st) == 0) return S_ISDIR(st.st_mode);
    }
    auto host = paths.HostPath(*parts, false);
    return host && ::stat(host->c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool FileSystemAccess::PathFileExists(const std::string& path) {
    return ResolveText(path, false).has_value();
}

std::optional<std::string> FileSystemAccess::PathFindOnPath(const std::string& name) {
    if (name.empty() || name.size() + 1 > kMaxPath) return std::nullopt;
    // Only a name relative to a folder is searched for.
    if (name.find(':') != std::string::npos || name[0] == '\\' || name[0] == '/') {
        return std::nullopt;
    }
    std::vector<std::string> folders = {SystemDirectory(), WindowsDirectory()};
    std::string path = machine_.GetEnv("PATH").value_or("");
    size_t pos = 0;
    while (pos <= path.size()) {
        size_t next = path.find(';', pos);
        if (next == std::string::npos) next = path.size();
        std::string folder = path.substr(pos, next - pos);
        pos = next + 1;
        if (folder.size() >= 2 && folder.front() == '"' && folder.back() == '"') {
            folder = folder.substr(1, folder.size() - 2);
        }
        if (!folder.empty()) folders.push_back(folder);
    }
    for (const auto& folder : folders) {
        if (folder.empty()) continue;
        std::string candidate = folder + (folder.back() == '\\' ? "" : "\\") + name;
        if (PathFileExists(candidate)) return candidate;
    }
    return std::nullopt;
}

std::optional<std::vector<FindEntry>> FileSystemAccess::FindFiles(const std::string& pattern) {
    auto full = machine_.Paths().FullPath(pattern);
    if (!full || pattern.size() + 1 > kMaxPath || full->size() + 1 > kMaxPath) return std::nullopt;
    std::string folderText;
    std::string mask = SplitLast(pattern, &folderText);
    if (mask.empty()) return std::nullopt;
    auto folderParts = machine_.Paths().Parse(folderText.empty() ? "." : folderText);
    auto folder = machine_.Paths().ToHost(folderText.empty() ? "." : folderText);
    if (!folderParts || !folder) return std::nullopt;
    PathResolver& paths = machine_.Paths();
    std::vector<FindEntry> found;
    auto add = [&](const FolderEntry& entry) {
        uint32_t attributes = HostFileAttributes(*folder / entry.hostName, entry.name);
        if (attributes == kInvalidFileAttributes) return;  // gone since the listing
        FindEntry out{entry.name, entry.shortName, attributes, 0};
        if (!(attributes & kFileAttributeDirectory)) {
            std::error_code ec;
            auto size = fs::file_size(*folder / entry.hostName, ec);
            out.size = ec ? 0 : size;
        }
        found.push_back(std::move(out));
    };
    if (!HasWildcards(mask)) {
        // A plain name finds the one entry it stands for, by long or short name, without
        // a copy of the whole listing.
        auto entry = paths.Lookup(*folder, mask);
        if (!paths.CompleteEntry(*folder, entry ? &*entry : nullptr)) return std::nullopt;
        if (entry) add(*entry);
        return found;
    }
    auto listing = paths.List(*folder);
    if (!listing) return std::nullopt;
    if (!folderParts->components.empty()) {
        // Folders below a drive's root list themselves and their parent first.
        for (const char* dot : {".", ".."}) {
            if (!WildcardMatch(mask, dot)) continue;
            fs::path host = std::string_view(dot) == "." ? *folder : folder->parent_path();
            found.push_back({dot, "", HostFileAttributes(host, dot), 0});
        }
    }
    for (const auto& entry : *listing) {
        if (WildcardMatch(mask, entry.name) || WildcardMatch(mask, entry.shortName)) add(entry);
    }
    return found;
}

bool FileSystemAccess::DeleteFile(const std::string& path) {
    auto host = Resolve(path, false);
    struct stat st {
    }, link{};
    if (!host || ::lstat(host->c_str(), &link) != 0) return false;
    bool dangling = ::stat(host->c_str(), &st) != 0;
    if (!dangling && S_ISDIR(st.st_mode)) return false;
    // A read-only file refuses deletion until its attributes are made normal.
    if (!S_ISLNK(link.st_mode) && !HasWriteBit(link.st_mode)) return false;
    bool ok = ::unlink(host->c_str()) == 0;
    machine_.Paths().Invalidate(host->parent_path());
    return ok;
}

bool FileSystemAccess::DeleteFileOnReboot(const std::string& path) {
    auto parts = machine_.Paths().Parse(path);
    if (!parts) return false;
    std::string full = parts->Text();
    if (path.size() + 1 > kMaxPath || full.size() + 1 > kMaxPath) return false;
    std::string nt = parts->unc ? "\\??\\UNC\\" + full.substr(2) : "\\??\\" + full;

    RegistryStore& store = machine_.Registry();
    auto lock = store.Lock();
    RegKey* machineKey = machine_.LocalMachine();
    if (!machineKey) return false;
    // CurrentControlSet is a link; Find follows it to the control set in use.
    constexpr std::u16string_view kSessionManager =
        u"System\\CurrentControlSet\\Control\\Session Manager";
    RegistryEditor editor(machine_);
    RegKey* key = store.Find(machineKey, kSessionManager);
    if (!key && editor.CreateKey(machineKey, kSessionManager, &key) != kErrorSuccess) return false;
    constexpr std::u16string_view kValue = u"PendingFileRenameOperations";
    std::string data;
    if (const RegValue* existing = key->FindValue(kValue)) {
        // Other kinds of data there are not ours to replace.
        if (existing->type != kRegMultiSz) return false;
        data = existing->data;
        if (data.size() % 2) data.pop_back();
        // The list's closing terminator goes; entries keep their own terminators,
        // including the empty target of an earlier deletion.
        if (data.size() >= 2 && data[data.size() - 1] == 0 && data[data.size() - 2] == 0) {
            data.resize(data.size() - 2);
        }
    }
    std::u16string entry = AnsiToUtf16(nt);
    entry.push_back(u'\0');  // end of the source
    entry.push_back(u'\0');  // the empty target: delete
    entry.push_back(u'\0');  // end of the list
    data += Utf16ToBytes(entry);
    return editor.SetValue(key, kValue, kRegMultiSz, std::move(data)) == kErrorSuccess;
}

bool FileSystemAccess::CopyFile(const std::string& from, const std::string& to) {
    auto source = Resolve(from, false);
    auto target = Resolve(to, true);
    struct stat st {
    }, existing{};
    if (!source || !target || ::stat(source->c_str(), &st) != 0 || S_ISDIR(st.st_mode)) {
        return false;
    }
    if (::stat(target->c_str(), &existing) == 0) {
        if (S_ISDIR(existing.st_mode) || !HasWriteBit(existing.st_mode)) return false;
        if (existing.st_dev == st.st_dev && existing.st_ino == st.st_ino) return false;
    }
    // The copy is written beside the target and renamed over it only when complete.
    std::string temp = (target->parent_path() / (std::string(kCopyPrefix) + "XXXXXX")).string();
    int fd = ::mkstemp(temp.data());
    if (fd < 0) return false;
    bool ok = CopyContents(*source, st, fd);
    ok = ::close(fd) == 0 && ok;
    ok = ok && ::rename(temp.c_str(), target->c_str()) == 0;
    if (!ok) ::unlink(temp.c_str());
    machine_.Paths().Invalidate(target->parent_path());
    return ok;
}

void FileSystemAccess::RemoveCopyLeftovers(const std::string& path) {
    auto target = Resolve(path, true);
    if (!target || !HostPathInPrefix(target->parent_path())) return;
    std::error_code ec;
    bool removed = false;
    for (const auto& entry : fs::directory_iterator(target->parent_path(), ec)) {
        std::string name = entry.path().filename().string();
        // Exactly what mkstemp makes of the pattern, and only plain files.
        if (name.size() != kCopyPrefix.size() + 6 || name.rfind(kCopyPrefix, 0) != 0) continue;
        if (entry.symlink_status(ec).type() != fs::file_type::regular) continue;
        removed = fs::remove(entry.path(), ec) || removed;
    }
    if (removed) machine_.Paths().Invalidate(target->parent_path());
}

bool FileSystemAccess::SetNormalAttributes(const std::string& path) {
    auto host = Resolve(path, false);
    struct stat st {};
    if (!host || ::stat(host->c_str(), &st) != 0) return false;
    if (!HasWriteBit(st.st_mode) && ::chmod(host->c_str(), (st.st_mode & 07777) | S_IWUSR) != 0) {
        return false;
    }
    if (::removexattr(host->c_str(), kDosAttribXattr) != 0 && errno != ENODATA &&
        errno != ENOTSUP) {
        return false;
    }
    return true;
}

bool FileSystemAccess::CreateDirectory(const std::string& path) {
    auto host = Resolve(path, true, kMaxDirectoryPath);
    struct stat st {};
    if (!host || ::lstat(host->c_str(), &st) == 0) return false;
    bool ok = ::mkdir(host->c_str(), 0777) == 0;
    machine_.Paths().Invalidate(host->parent_path());
    return ok;
}

bool FileSystemAccess::RemoveDirectory(const std::string& path) {
    auto host = Resolve(path, false);
    struct stat link {
    }, st{};
    if (!host || ::lstat(host->c_str(), &link) != 0) return false;
    auto parts = machine_.Paths().Parse(path);
    if (!parts || parts->components.empty()) return false;  // never a drive's root
    bool ok;
    if (S_ISLNK(link.st_mode)) {
        // A linked folder goes as a link; what it points to is not touched.
        ok = ::stat(host->c_str(), &st) == 0 && S_ISDIR(st.st_mode) && ::unlink(host->c_str()) == 0;
    } else {
        ok = ::rmdir(host->c_str()) == 0;
    }
    machine_.Paths().Invalidate(*host);
    machine_.Paths().Invalidate(host->parent_path());
    return ok;
}

std::string FileSystemAccess::ShortPath(const std::string& path) {
    auto full = machine_.Paths().FullPath(path);
    if (!full || path.size() + 1 > kMaxPath || full->size() + 1 > kMaxPath) return {};
    return machine_.Paths().ShortPath(*full).value_or("");
}

std::string FileSystemAccess::LongPath(const std::string& path) {
    auto full = machine_.Paths().FullPath(path);
    if (!full || path.size() + 1 > kMaxPath || full->size() + 1 > kMaxPath) return {};
    return machine_.Paths().LongPath(*full).value_or("");
}

bool FileSystemAccess::CreateDirectoryPath(const std::string& path) {
    std::string prefix;
    std::string rest = path;
    size_t split = path.find(":\\");
    if (split == std::string::npos) {
        split = path.find("\\\\");
        if (split != std::string::npos) split += 2;
    } else {
        split += 2;
    }
    if (split != std::string::npos) {
        prefix = path.substr(0, split);
        rest = path.substr(split);
    }
    std::string accumulated = prefix;
    while (!rest.empty()) {
        // Each step after the first starts with its own backslash.
        size_t next = rest.find('\\', 1);
        if (next == std::string::npos) next = rest.size();
        accumulated += rest.substr(0, next);
        rest.erase(0, next);
        if (GetFileAttributes(accumulated) == kInvalidFileAttributes) CreateDirectory(accumulated);
    }
    return IsDirectory(accumulated.empty() ? path : accumulated);
}

bool FileSystemAccess::ClearDirectory(const std::string& folder, bool keepSubfolders) {
    // Clearing through a link would empty whatever it points to: only a real folder is.
    auto top = ToHostPath(folder);
    struct stat st {};
    if (!top || ::lstat(top->c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
    auto entries = FindFiles(folder + "\\*.*");
    if (!entries) return false;
    for (const auto& entry : *entries) {
        if (entry.name == "." || entry.name == "..") continue;
        // A name the ANSI code page cannot hold is reached through its short name.
        const std::string& name =
            entry.name.find('?') == std::string::npos ? entry.name : entry.shortName;
        std::string path = folder + "\\" + name;
        auto host = ToHostPath(path);
        struct stat link {};
        if (host && ::lstat(host->c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
            // A link is an entry of its own, removed as a link whatever it points to (Wine
            // links profile folders to the home folder): never entered, never followed.
            bool removed = ::unlink(host->c_str()) == 0;
            machine_.Paths().Invalidate(host->parent_path());
            if (!removed) return false;
            continue;
        }
        if (!(entry.attributes & kFileAttributeDirectory)) {
            if (!DeleteFile(path)) return false;
            continue;
        }
        if (!ClearDirectory(path, keepSubfolders)) return false;
        if (!keepSubfolders && !RemoveDirectory(path)) return false;
    }
    return true;
}

bool HostPathInside(const fs::path& hostPath, const fs::path& folder) {
    std::error_code ec;
    fs::path base = fs::weakly_canonical(folder, ec);
    if (ec || base.empty()) return false;
    fs::path real = fs::weakly_canonical(fs::absolute(hostPath, ec), ec);
    if (ec || real.empty()) return false;
    // Compared component by component: "/p/drive_c2" is not inside "/p/drive_c".
    auto it = real.begin();
    for (const fs::path& part : base) {
        if (part.empty()) continue;
        while (it != real.end() && it->empty())
            ++it;
        if (it == real.end() || *it != part) return false;
        ++it;
    }
    return true;
}

bool FileSystemAccess::HostPathInPrefix(const fs::path& hostPath) const {
    return HostPathInside(hostPath, machine_.PrefixDir());
}

bool FileSystemAccess::InPrefix(const std::string& path, bool mayNotExist) {
    auto host = Resolve(path, mayNotExist);
    return host && HostPathInPrefix(*host);
}

}  // namespace hivewise
