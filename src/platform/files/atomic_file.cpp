#include "platform/files/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>

namespace hivewise {

bool WriteAll(int fd, std::string_view content) {
    size_t done = 0;
    while (done < content.size()) {
        ssize_t n = ::write(fd, content.data() + done, content.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

bool ReadAll(int fd, std::string* out, uint64_t limit, bool* tooLarge) {
    out->clear();
    if (tooLarge) *tooLarge = false;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && st.st_size > 0) {
        if (static_cast<uint64_t>(st.st_size) > limit) {
            if (tooLarge) *tooLarge = true;
            return false;
        }
        out->reserve(static_cast<size_t>(st.st_size));
    }
    char buf[1 << 16];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) continue;
            out->clear();
            return false;
        }
        if (n == 0) return true;
        // The size can grow while it is read, and a device has none: checked as it comes.
        if (out->size() + static_cast<size_t>(n) > limit) {
            if (tooLarge) *tooLarge = true;
            out->clear();
            return false;
        }
        out->append(buf, static_cast<size_t>(n));
    }
}

bool ReadWholeFile(const std::filesystem::path& path, std::string* out, std::string* error,
                   uint64_t limit) {
    out->clear();
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (error) *error = path.filename().string() + ": " + std::strerror(errno);
        return false;
    }
    bool tooLarge = false;
    const bool read = ReadAll(fd, out, limit, &tooLarge);
    if (!read && error) {
        *error =
            path.filename().string() + ": " + (tooLarge ? "file too large" : std::strerror(errno));
    }
    ::close(fd);
    return read;
}

namespace {

// The file a chain of symbolic links ends at (which need not exist yet); the path itself
// when it is no link. Nothing for a loop or a chain too long to be one.
std::optional<std::filesystem::path> FollowLinks(std::filesystem::path path) {
    for (int hops = 0; hops < 40; ++hops) {
        std::error_code ec;
        if (!std::filesystem::is_symlink(std::filesystem::symlink_status(path, ec))) return path;
        std::filesystem::path target = std::filesystem::read_symlink(path, ec);
        if (ec) return std::nullopt;
        path = target.is_absolute() ? target : path.parent_path() / target;
    }
    return std::nullopt;
}

// A device, FIFO or terminal is written as it is: a new file in its place would hide it.
bool WriteThrough(const std::filesystem::path& path, std::string_view content, std::string* error) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
    bool ok = fd >= 0 && WriteAll(fd, content);
    int savedErrno = errno;
    if (fd >= 0 && ::close(fd) != 0 && ok) {
        ok = false;
        savedErrno = errno;
    }
    if (!ok && error) *error = "cannot write " + path.string() + ": " + std::strerror(savedErrno);
    return ok;
}

}  // namespace

bool WriteFileAtomically(const std::filesystem::path& given, std::string_view content,
                         std::string* error, mode_t mode) {
    std::optional<std::filesystem::path> followed = FollowLinks(given);
    if (!followed) {
        if (error) *error = "cannot write " + given.string() + ": " + std::strerror(ELOOP);
        return false;
    }
    const std::filesystem::path& path = *followed;
    struct stat existing {};
    if (::stat(path.c_str(), &existing) == 0) {
        if (S_ISDIR(existing.st_mode)) {
            if (error) *error = "cannot write " + given.string() + ": it is a folder";
            return false;
        }
        if (!S_ISREG(existing.st_mode)) return WriteThrough(path, content, error);
        mode = existing.st_mode & 07777;
    }
    StagedFile staged;
    return staged.Write(path, content, error, mode) && staged.Commit(error);
}

StagedFile::StagedFile(StagedFile&& other) noexcept
    : path_(std::move(other.path_)), temp_(std::move(other.temp_)) {
    other.temp_.clear();
}

bool StagedFile::Write(const std::filesystem::path& path, std::string_view content,
                       std::string* error, mode_t mode) {
    return Write(path, std::vector<std::string_view>{content}, error, mode);
}

bool StagedFile::Write(const std::filesystem::path& path,
                       const std::vector<std::string_view>& pieces, std::string* error,
                       mode_t mode) {
    Discard();
    struct stat existing {};
    if (::stat(path.c_str(), &existing) == 0) mode = existing.st_mode & 07777;
    std::filesystem::path folder = path.has_parent_path() ? path.parent_path() : ".";
    // Built piece by piece: GCC 12 at -O3 warns falsely (-Wrestrict) on the chained form.
    std::string name = ".";
    name += path.filename().string();
    name += ".XXXXXX";
    std::string tmpl = (folder / name).string();
    int fd = ::mkstemp(tmpl.data());
    if (fd < 0) {
        if (error) {
            *error = "cannot create a temporary file beside " + path.filename().string() + ": " +
                     std::strerror(errno);
        }
        return false;
    }
    bool ok = true;
    for (size_t i = 0; ok && i < pieces.size(); ++i)
        ok = WriteAll(fd, pieces[i]);
    int savedErrno = errno;
    if (ok && (::fchmod(fd, mode) != 0 || ::fsync(fd) != 0)) {
        ok = false;
        savedErrno = errno;
    }
    if (::close(fd) != 0 && ok) {
        ok = false;
        savedErrno = errno;
    }
    if (!ok) {
        ::unlink(tmpl.c_str());
        if (error) {
            *error = "cannot write " + path.filename().string() + ": " + std::strerror(savedErrno);
        }
        return false;
    }
    path_ = path;
    temp_ = std::move(tmpl);
    return true;
}

bool StagedFile::Commit(std::string* error) {
    if (temp_.empty()) return false;
    if (::rename(temp_.c_str(), path_.c_str()) != 0) {
        if (error)
            *error = "cannot replace " + path_.filename().string() + ": " + std::strerror(errno);
        Discard();
        return false;
    }
    temp_.clear();
    std::filesystem::path folder = path_.has_parent_path() ? path_.parent_path() : ".";
    int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

void StagedFile::Discard() {
    if (temp_.empty()) return;
    ::unlink(temp_.c_str());
    temp_.clear();
}

}  // namespace hivewise
