#include "repair/zip_archive.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <system_error>

#include "platform/files/atomic_file.h"

namespace hivewise {
namespace {

namespace fs = std::filesystem;

// The end-of-central-directory record alone: an archive with no entries. libzip writes
// nothing for an empty archive (it removes the file), so the writer keeps this one.
constexpr char kEmptyArchive[22] = {'P', 'K', 5, 6};

ZipStatus StatusOfZipError(int code) {
    switch (code) {
        case ZIP_ER_OK:
            return ZipStatus::kOk;
        case ZIP_ER_OPEN:
        case ZIP_ER_READ:
        case ZIP_ER_SEEK:
        case ZIP_ER_NOENT:
            return ZipStatus::kCannotOpen;
        case ZIP_ER_NOZIP:
        case ZIP_ER_INCONS:
        case ZIP_ER_MULTIDISK:
        case ZIP_ER_EOF:
            return ZipStatus::kNotAnArchive;
        case ZIP_ER_NOPASSWD:
        case ZIP_ER_WRONGPASSWD:
            return ZipStatus::kWrongPassword;
        case ZIP_ER_WRITE:
        case ZIP_ER_TMPOPEN:
        case ZIP_ER_RENAME:
        case ZIP_ER_CLOSE:
        case ZIP_ER_REMOVE:
            return ZipStatus::kCannotWrite;
        default:
            return ZipStatus::kDamaged;
    }
}

std::string ZipErrorText(zip_error_t* error) {
    const char* text = zip_error_strerror(error);
    return text ? text : "unknown error";
}

bool EqualsAsciiNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

// Creates the folders of `relative` below `base`, refusing to pass through anything
// but a real folder (a symbolic link could lead out of `base`).
bool MakeFoldersBelow(const fs::path& base, const fs::path& relative, std::string* error) {
    std::error_code ec;
    fs::create_directories(base, ec);
    fs::path at = base;
    for (const fs::path& part : relative) {
        at /= part;
        fs::file_status status = fs::symlink_status(at, ec);
        if (status.type() == fs::file_type::not_found) {
            if (!fs::create_directory(at, ec) && ec) {
                *error = "cannot create " + at.string() + ": " + ec.message();
                return false;
            }
        } else if (status.type() != fs::file_type::directory) {
            *error = at.string() + " is not a folder";
            return false;
        }
    }
    return true;
}

// An entry's bytes, held by the archive until it is closed: a file read whole is handed
// over, not copied again. Bytes deflated already carry their stat's compression method,
// sizes and CRC: libzip takes such data as compressed and writes it as it is.
struct HeldSource {
    std::string data;
    bool deflated = false;
    uint64_t size = 0;  // before compression, when deflated
    uint32_t crc = 0;   // when deflated
    time_t modified = 0;
    size_t at = 0;
    zip_error_t error;
};

zip_int64_t ReadHeldSource(void* state, void* data, zip_uint64_t length, zip_source_cmd_t command) {
    auto* source = static_cast<HeldSource*>(state);
    switch (command) {
        case ZIP_SOURCE_OPEN:
            source->at = 0;
            return 0;
        case ZIP_SOURCE_READ: {
            size_t count = std::min<size_t>(length, source->data.size() - source->at);
            std::memcpy(data, source->data.data() + source->at, count);
            source->at += count;
            return static_cast<zip_int64_t>(count);
        }
        case ZIP_SOURCE_CLOSE:
            return 0;
        case ZIP_SOURCE_STAT: {
            if (length < sizeof(zip_stat_t)) return -1;
            auto* stat = static_cast<zip_stat_t*>(data);
            zip_stat_init(stat);
            stat->valid = ZIP_STAT_SIZE | ZIP_STAT_COMP_SIZE | ZIP_STAT_COMP_METHOD |
                          ZIP_STAT_ENCRYPTION_METHOD | ZIP_STAT_MTIME;
            stat->comp_size = source->data.size();
            stat->encryption_method = ZIP_EM_NONE;
            if (source->deflated) {
                stat->valid |= ZIP_STAT_CRC;
                stat->size = source->size;
                stat->crc = source->crc;
                stat->comp_method = ZIP_CM_DEFLATE;
            } else {
                stat->size = source->data.size();
                stat->comp_method = ZIP_CM_STORE;
            }
            // The encryption's check byte is taken from this time: without it, readers
            // would take every password for a wrong one.
            stat->mtime = source->modified;
            return sizeof(zip_stat_t);
        }
        case ZIP_SOURCE_ERROR:
            return zip_error_to_data(&source->error, data, length);
        case ZIP_SOURCE_FREE:
            zip_error_fini(&source->error);
            delete source;
            return 0;
        case ZIP_SOURCE_SUPPORTS:
            return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ,
                                                  ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT,
                                                  ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE, -1);
        default:
            zip_error_set(&source->error, ZIP_ER_OPNOTSUPP, 0);
            return -1;
    }
}

// A source's ZIP_SOURCE_SEEK or ZIP_SOURCE_SEEK_WRITE: moves `at` within `size` bytes as
// the command's data asks; -1 with `error` set when it would leave them.
zip_int64_t SeekWithin(uint64_t* at, uint64_t size, void* data, zip_uint64_t length,
                       zip_error_t* error) {
    zip_int64_t to = zip_source_seek_compute_offset(*at, size, data, length, error);
    if (to < 0) return -1;
    *at = static_cast<uint64_t>(to);
    return 0;
}

// Where the writer puts the archive: in memory, in blocks, until libzip commits it, then
// into the file at once through a flushed temporary file. libzip goes back over each
// entry's local header after writing its data; on a stdio file every such seek flushed a
// few hundred bytes, three system calls per entry of a backup.
class ArchiveImage {
  public:
    // Null with `error` set when libzip cannot make the source.
    static zip_source_t* Create(const fs::path& archive, zip_error_t* error) {
        auto* state = new ArchiveImage(archive);
        zip_source_t* source = zip_source_function_create(Command, state, error);
        if (!source) delete state;
        return source;
    }

  private:
    static constexpr size_t kBlock = size_t{1} << 20;

    explicit ArchiveImage(fs::path path) : path_(std::move(path)) { zip_error_init(&error_); }
    ~ArchiveImage() { zip_error_fini(&error_); }

    void Write(const char* bytes, size_t length) {
        while (length > 0) {
            const size_t block = static_cast<size_t>(at_ / kBlock);
            const size_t offset = static_cast<size_t>(at_ % kBlock);
            if (block == blocks_.size()) blocks_.emplace_back();
            std::string& into = blocks_[block];
            const size_t count = std::min(length, kBlock - offset);
            if (into.size() < offset + count) into.resize(offset + count);
            std::memcpy(into.data() + offset, bytes, count);
            bytes += count;
            length -= count;
            at_ += count;
        }
        end_ = std::max(end_, at_);
    }

    bool Commit() {
        std::vector<std::string_view> pieces(blocks_.begin(), blocks_.end());
        StagedFile staged;
        const bool ok = staged.Write(path_, pieces, nullptr) && staged.Commit(nullptr);
        if (!ok) zip_error_set(&error_, ZIP_ER_WRITE, errno);
        Drop();
        return ok;
    }

    void Drop() {
        blocks_.clear();
        blocks_.shrink_to_fit();
        at_ = end_ = 0;
    }

    static zip_int64_t Command(void* state, void* data, zip_uint64_t length,
                               zip_source_cmd_t command) {
        auto* image = static_cast<ArchiveImage*>(state);
        switch (command) {
            // The archive is always written anew: reading it finds nothing.
            case ZIP_SOURCE_OPEN:
            case ZIP_SOURCE_CLOSE:
            case ZIP_SOURCE_READ:
            case ZIP_SOURCE_TELL:
                return 0;
            case ZIP_SOURCE_SEEK: {
                uint64_t nowhere = 0;
                return SeekWithin(&nowhere, 0, data, length, &image->error_);
            }
            case ZIP_SOURCE_STAT: {
                if (length < sizeof(zip_stat_t)) return -1;
                auto* stat = static_cast<zip_stat_t*>(data);
                zip_stat_init(stat);
                stat->valid = ZIP_STAT_SIZE;
                stat->size = 0;
                return sizeof(zip_stat_t);
            }
            case ZIP_SOURCE_BEGIN_WRITE:
                image->Drop();
                return 0;
            case ZIP_SOURCE_WRITE:
                image->Write(static_cast<const char*>(data), static_cast<size_t>(length));
                return static_cast<zip_int64_t>(length);
            case ZIP_SOURCE_SEEK_WRITE:
                return SeekWithin(&image->at_, image->end_, data, length, &image->error_);
            case ZIP_SOURCE_TELL_WRITE:
                return static_cast<zip_int64_t>(image->at_);
            case ZIP_SOURCE_COMMIT_WRITE:
                return image->Commit() ? 0 : -1;
            case ZIP_SOURCE_ROLLBACK_WRITE:
                image->Drop();
                return 0;
            case ZIP_SOURCE_REMOVE:
                if (::unlink(image->path_.c_str()) != 0 && errno != ENOENT) {
                    zip_error_set(&image->error_, ZIP_ER_REMOVE, errno);
                    return -1;
                }
                return 0;
            case ZIP_SOURCE_ERROR:
                return zip_error_to_data(&image->error_, data, length);
            case ZIP_SOURCE_FREE:
                delete image;
                return 0;
            case ZIP_SOURCE_SUPPORTS:
                return zip_source_make_command_bitmap(
                    ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT,
                    ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE, ZIP_SOURCE_SEEK, ZIP_SOURCE_TELL,
                    ZIP_SOURCE_SUPPORTS, ZIP_SOURCE_BEGIN_WRITE, ZIP_SOURCE_WRITE,
                    ZIP_SOURCE_SEEK_WRITE, ZIP_SOURCE_TELL_WRITE, ZIP_SOURCE_COMMIT_WRITE,
                    ZIP_SOURCE_ROLLBACK_WRITE, ZIP_SOURCE_REMOVE, -1);
            default:
                zip_error_set(&image->error_, ZIP_ER_OPNOTSUPP, 0);
                return -1;
        }
    }

    fs::path path_;
    std::vector<std::string> blocks_;
    uint64_t at_ = 0;
    uint64_t end_ = 0;
    zip_error_t error_;
};

// An archive read through a window of its own over its file. libzip seeks before each
// read of an entry; through stdio every seek drops the buffer, so a restore of many small
// entries paid two system calls per entry. Neighbouring entries now come from one read.
class FileWindowSource {
  public:
    static constexpr size_t kWindow = 64 * 1024;

    // Null with `error` set when the file cannot be opened.
    static zip_source_t* Open(const fs::path& archive, zip_error_t* error) {
        int fd = ::open(archive.c_str(), O_RDONLY | O_CLOEXEC);
        struct stat info {};
        if (fd < 0 || ::fstat(fd, &info) != 0) {
            const int code = errno;
            if (fd >= 0) ::close(fd);
            if (code == ENOENT) {
                zip_error_set(error, ZIP_ER_NOENT, 0);
            } else {
                zip_error_set(error, ZIP_ER_OPEN, code);
            }
            return nullptr;
        }
        auto* state = new FileWindowSource(fd, static_cast<uint64_t>(info.st_size), info.st_mtime);
        zip_source_t* source = zip_source_function_create(Command, state, error);
        if (!source) delete state;
        return source;
    }

  private:
    FileWindowSource(int fd, uint64_t size, time_t modified)
        : fd_(fd), size_(size), modified_(modified) {
        zip_error_init(&error_);
    }
    ~FileWindowSource() {
        ::close(fd_);
        zip_error_fini(&error_);
    }

    // Reads up to `length` bytes at `offset`; -1 with error_ set on failure.
    zip_int64_t ReadAt(uint64_t offset, char* into, size_t length) {
        size_t done = 0;
        while (done < length) {
            ssize_t got =
                ::pread(fd_, into + done, length - done, static_cast<off_t>(offset + done));
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) {
                zip_error_set(&error_, ZIP_ER_READ, errno);
                return -1;
            }
            if (got == 0) break;
            done += static_cast<size_t>(got);
        }
        return static_cast<zip_int64_t>(done);
    }

    zip_int64_t Read(char* into, size_t length) {
        size_t done = 0;
        while (done < length && at_ < size_) {
            if (at_ >= windowStart_ && at_ < windowStart_ + windowLength_) {
                size_t offset = static_cast<size_t>(at_ - windowStart_);
                size_t count = std::min(length - done, windowLength_ - offset);
                std::memcpy(into + done, window_.data() + offset, count);
                done += count;
                at_ += count;
                continue;
            }
            if (length - done >= kWindow) {  // a large read goes past the window
                zip_int64_t got = ReadAt(at_, into + done, length - done);
                if (got < 0) return -1;
                done += static_cast<size_t>(got);
                at_ += static_cast<uint64_t>(got);
                break;
            }
            if (window_.empty()) window_.resize(kWindow);
            zip_int64_t got = ReadAt(at_, window_.data(), kWindow);
            if (got < 0) return -1;
            windowStart_ = at_;
            windowLength_ = static_cast<size_t>(got);
            if (got == 0) break;  // the file was cut after it was opened
        }
        return static_cast<zip_int64_t>(done);
    }

    static zip_int64_t Command(void* state, void* data, zip_uint64_t length,
                               zip_source_cmd_t command) {
        auto* source = static_cast<FileWindowSource*>(state);
        switch (command) {
            case ZIP_SOURCE_OPEN:
                source->at_ = 0;
                return 0;
            case ZIP_SOURCE_READ:
                return source->Read(static_cast<char*>(data), static_cast<size_t>(length));
            case ZIP_SOURCE_CLOSE:
                return 0;
            case ZIP_SOURCE_SEEK:
                return SeekWithin(&source->at_, source->size_, data, length, &source->error_);
            case ZIP_SOURCE_TELL:
                return static_cast<zip_int64_t>(source->at_);
            case ZIP_SOURCE_STAT: {
                if (length < sizeof(zip_stat_t)) return -1;
                auto* stat = static_cast<zip_stat_t*>(data);
                zip_stat_init(stat);
                stat->valid = ZIP_STAT_SIZE | ZIP_STAT_MTIME;
                stat->size = source->size_;
                stat->mtime = source->modified_;
                return sizeof(zip_stat_t);
            }
            case ZIP_SOURCE_ERROR:
                return zip_error_to_data(&source->error_, data, length);
            case ZIP_SOURCE_FREE:
                delete source;
                return 0;
            case ZIP_SOURCE_SUPPORTS:
                return zip_source_make_command_bitmap(
                    ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT,
                    ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE, ZIP_SOURCE_SEEK, ZIP_SOURCE_TELL,
                    ZIP_SOURCE_SUPPORTS, -1);
            default:
                zip_error_set(&source->error_, ZIP_ER_OPNOTSUPP, 0);
                return -1;
        }
    }

    int fd_;
    uint64_t size_;
    time_t modified_;
    uint64_t at_ = 0;
    std::vector<char> window_;
    uint64_t windowStart_ = 0;
    size_t windowLength_ = 0;
    zip_error_t error_;
};

}  // namespace

bool SafeEntryPath(std::string_view name, fs::path* relative) {
    if (name.empty() || name.front() == '/' || name.front() == '\\') return false;
    // A drive ("C:") or an alternate stream ("a:b") has no place in a relative name.
    if (name.find(':') != std::string_view::npos) return false;
    fs::path result;
    bool anyPart = false;
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = name.find_first_of("/\\", start);
        if (end == std::string_view::npos) end = name.size();
        std::string_view part = name.substr(start, end - start);
        if (part == "..") return false;
        for (char c : part) {
            if (static_cast<unsigned char>(c) < 0x20) return false;
        }
        if (!part.empty() && part != ".") {
            anyPart = true;
            // The path is only made for a caller that wants it.
            if (relative) result /= std::string(part);
        }
        start = end + 1;
    }
    if (!anyPart) return false;
    if (relative) *relative = std::move(result);
    return true;
}

// ---- ZipWriter ----

ZipWriter::~ZipWriter() {
    Discard();
}

ZipStatus ZipWriter::Fail(ZipStatus status, std::string detail) {
    error_ = std::move(detail);
    return status;
}

ZipStatus ZipWriter::Create(const fs::path& archive, std::string_view password,
                            bool replaceExisting) {
    Discard();
    error_.clear();
    std::string_view empty(kEmptyArchive, sizeof kEmptyArchive);
    if (replaceExisting) {
        std::string detail;
        if (!WriteFileAtomically(archive, empty, &detail)) {
            return Fail(ZipStatus::kCannotWrite, detail);
        }
    } else {
        int fd = ::open(archive.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0) {
            return Fail(ZipStatus::kCannotWrite, archive.string() + ": " + std::strerror(errno));
        }
        bool written = WriteAll(fd, empty);
        ::close(fd);
        if (!written) {
            ::unlink(archive.c_str());
            return Fail(ZipStatus::kCannotWrite, archive.string() + ": write failed");
        }
    }
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* image = ArchiveImage::Create(archive, &error);
    if (image) {
        archive_ = zip_open_from_source(image, ZIP_TRUNCATE, &error);
        if (!archive_) zip_source_free(image);
    }
    if (!archive_) {
        std::string detail = ZipErrorText(&error);
        zip_error_fini(&error);
        return Fail(ZipStatus::kCannotWrite, archive.string() + ": " + detail);
    }
    zip_error_fini(&error);
    path_ = archive;
    password_ = std::string(password);
    entries_ = 0;
    return ZipStatus::kOk;
}

ZipStatus ZipWriter::Add(std::string_view entryName, zip_source_t* source) {
    std::string name(entryName);
    zip_int64_t index =
        zip_file_add(archive_, name.c_str(), source, ZIP_FL_OVERWRITE | ZIP_FL_ENC_GUESS);
    if (index < 0) {
        zip_source_free(source);
        return Fail(ZipStatus::kCannotWrite, name + ": " + ZipErrorText(zip_get_error(archive_)));
    }
    auto at = static_cast<zip_uint64_t>(index);
    if (zip_set_file_compression(archive_, at, ZIP_CM_DEFLATE, kDeflateLevel) != 0 ||
        (!password_.empty() &&
         zip_file_set_encryption(archive_, at, ZIP_EM_TRAD_PKWARE, password_.c_str()) != 0)) {
        std::string detail = ZipErrorText(zip_get_error(archive_));
        zip_delete(archive_, at);
        return Fail(ZipStatus::kCannotWrite, name + ": " + detail);
    }
    ++entries_;
    return ZipStatus::kOk;
}

ZipStatus ZipWriter::AddFile(std::string_view entryName, const fs::path& source) {
    if (!archive_) return Fail(ZipStatus::kNotOpen, "no archive is open");
    // The bytes are read now: the source may change or go before the archive is closed.
    std::string bytes, detail;
    if (!ReadWholeFile(source, &bytes, &detail)) return Fail(ZipStatus::kNoSuchEntry, detail);
    return AddHeld(entryName, std::move(bytes), nullptr);
}

ZipStatus ZipWriter::AddBytes(std::string_view entryName, std::string_view bytes) {
    if (!archive_) return Fail(ZipStatus::kNotOpen, "no archive is open");
    return AddHeld(entryName, std::string(bytes), nullptr);
}

ZipStatus ZipWriter::AddDeflated(std::string_view entryName, DeflatedBytes bytes) {
    if (!archive_) return Fail(ZipStatus::kNotOpen, "no archive is open");
    // An empty entry is stored as libzip stores one.
    if (bytes.size == 0) return AddBytes(entryName, {});
    std::string data = std::move(bytes.data);
    return AddHeld(entryName, std::move(data), &bytes);
}

ZipStatus ZipWriter::AddHeld(std::string_view entryName, std::string bytes,
                             const DeflatedBytes* deflated) {
    auto* state =
        new HeldSource{std::move(bytes), deflated != nullptr, 0, 0, std::time(nullptr), 0, {}};
    if (deflated) {
        state->size = deflated->size;
        state->crc = deflated->crc;
    }
    zip_error_init(&state->error);
    zip_source_t* source = zip_source_function(archive_, ReadHeldSource, state);
    if (!source) {
        zip_error_fini(&state->error);
        delete state;
        return Fail(ZipStatus::kCannotWrite, ZipErrorText(zip_get_error(archive_)));
    }
    return Add(entryName, source);
}

ZipStatus ZipWriter::AddFolder(std::string_view entryName) {
    if (!archive_) return Fail(ZipStatus::kNotOpen, "no archive is open");
    std::string name(entryName);
    if (name.empty()) return Fail(ZipStatus::kUnsafeName, "empty folder name");
    if (name.back() != '/') name += '/';
    if (zip_dir_add(archive_, name.c_str(), ZIP_FL_ENC_GUESS) < 0) {
        return Fail(ZipStatus::kCannotWrite, name + ": " + ZipErrorText(zip_get_error(archive_)));
    }
    ++entries_;
    return ZipStatus::kOk;
}

ZipStatus ZipWriter::AddFolderTree(const fs::path& folder, std::string_view prefix) {
    if (!archive_) return Fail(ZipStatus::kNotOpen, "no archive is open");
    std::error_code ec;
    fs::recursive_directory_iterator it(folder, ec), end;
    if (ec) return Fail(ZipStatus::kNoSuchEntry, folder.string() + ": " + ec.message());
    std::string lead = prefix.empty() ? std::string() : std::string(prefix) + "/";
    for (; it != end; it.increment(ec)) {
        if (ec) return Fail(ZipStatus::kNoSuchEntry, folder.string() + ": " + ec.message());
        std::string name = lead + it->path().lexically_relative(folder).generic_string();
        ZipStatus status = ZipStatus::kOk;
        if (it->is_directory(ec)) {
            if (fs::is_empty(it->path(), ec)) status = AddFolder(name);
        } else if (it->is_regular_file(ec)) {
            status = AddFile(name, it->path());
        }
        if (status != ZipStatus::kOk) return status;
    }
    return ZipStatus::kOk;
}

ZipStatus ZipWriter::Close() {
    if (!archive_) return Fail(ZipStatus::kNotOpen, "no archive is open");
    if (entries_ == 0) {
        // The empty archive written by Create stays as it is.
        Discard();
        return ZipStatus::kOk;
    }
    if (zip_close(archive_) != 0) {
        std::string detail = ZipErrorText(zip_get_error(archive_));
        Discard();
        return Fail(ZipStatus::kCannotWrite, path_.string() + ": " + detail);
    }
    archive_ = nullptr;
    return ZipStatus::kOk;
}

void ZipWriter::Discard() {
    if (archive_) zip_discard(archive_);
    archive_ = nullptr;
    entries_ = 0;
}

// ---- ZipReader ----

ZipReader::~ZipReader() {
    Close();
}

ZipStatus ZipReader::Fail(ZipStatus status, std::string detail) {
    error_ = std::move(detail);
    return status;
}

ZipStatus ZipReader::Open(const fs::path& archive, std::string_view password) {
    Close();
    error_.clear();
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* source = FileWindowSource::Open(archive, &error);
    if (source) {
        archive_ = zip_open_from_source(source, ZIP_RDONLY | ZIP_CHECKCONS, &error);
        if (!archive_) zip_source_free(source);
    }
    if (!archive_) {
        const int code = zip_error_code_zip(&error);
        std::string detail = ZipErrorText(&error);
        zip_error_fini(&error);
        return Fail(StatusOfZipError(code), archive.string() + ": " + detail);
    }
    zip_error_fini(&error);
    if (!password.empty()) {
        std::string text(password);
        zip_set_default_password(archive_, text.c_str());
    }
    return ZipStatus::kOk;
}

int ZipReader::EntryCount() const {
    if (!archive_) return 0;
    zip_int64_t count = zip_get_num_entries(archive_, 0);
    return count < 0 ? 0 : static_cast<int>(count);
}

ZipEntryInfo ZipReader::Entry(int index) const {
    ZipEntryInfo info;
    if (!archive_ || index < 0 || index >= EntryCount()) return info;
    zip_stat_t stat;
    zip_stat_init(&stat);
    if (zip_stat_index(archive_, static_cast<zip_uint64_t>(index), 0, &stat) != 0) return info;
    if (stat.valid & ZIP_STAT_NAME) info.name = stat.name;
    if (stat.valid & ZIP_STAT_SIZE) info.size = stat.size;
    if (stat.valid & ZIP_STAT_COMP_SIZE) info.compressedSize = stat.comp_size;
    info.encrypted = (stat.valid & ZIP_STAT_ENCRYPTION_METHOD) && stat.encryption_method != 0;
    info.folder = !info.name.empty() && info.name.back() == '/';
    return info;
}

std::vector<ZipEntryInfo> ZipReader::Entries() const {
    std::vector<ZipEntryInfo> entries;
    for (int i = 0, count = EntryCount(); i < count; ++i)
        entries.push_back(Entry(i));
    return entries;
}

int ZipReader::FindEntry(std::string_view name, bool ignoreCase) const {
    for (int i = 0, count = EntryCount(); i < count; ++i) {
        const char* stored = zip_get_name(archive_, static_cast<zip_uint64_t>(i), 0);
        if (!stored) continue;
        if (ignoreCase ? EqualsAsciiNoCase(stored, name) : name == stored) return i;
    }
    return -1;
}

namespace {

// Copies an open entry to `sink` chunk by chunk; the entry's CRC is checked at its end.
template <typename Sink>
ZipStatus CopyEntry(zip_t* archive, int index, uint64_t limit, std::string* error, Sink sink) {
    // libzip (1.7) leaks the reader it was building when it cannot decrypt an entry (the
    // "strong encryption" flag): such an entry is refused first, with libzip's own error.
    zip_stat_t stat;
    zip_stat_init(&stat);
    if (zip_stat_index(archive, static_cast<zip_uint64_t>(index), 0, &stat) == 0 &&
        (stat.valid & ZIP_STAT_ENCRYPTION_METHOD) && stat.encryption_method != ZIP_EM_NONE &&
        !zip_encryption_method_supported(stat.encryption_method, 0)) {
        zip_error_t unsupported;
        zip_error_init_with_code(&unsupported, ZIP_ER_ENCRNOTSUPP);
        *error = ZipErrorText(&unsupported);
        zip_error_fini(&unsupported);
        return StatusOfZipError(ZIP_ER_ENCRNOTSUPP);
    }
    zip_file_t* file = zip_fopen_index(archive, static_cast<zip_uint64_t>(index), 0);
    if (!file) {
        *error = ZipErrorText(zip_get_error(archive));
        return StatusOfZipError(zip_error_code_zip(zip_get_error(archive)));
    }
    char buffer[65536];
    uint64_t total = 0;
    ZipStatus status = ZipStatus::kOk;
    for (;;) {
        zip_int64_t got = zip_fread(file, buffer, sizeof buffer);
        if (got < 0) {
            *error = ZipErrorText(zip_file_get_error(file));
            status = StatusOfZipError(zip_error_code_zip(zip_file_get_error(file)));
            if (status == ZipStatus::kOk || status == ZipStatus::kCannotOpen) {
                status = ZipStatus::kDamaged;
            }
            break;
        }
        if (got == 0) break;
        total += static_cast<uint64_t>(got);
        if (total > limit) {
            *error = "entry larger than allowed";
            status = ZipStatus::kDamaged;
            break;
        }
        if (!sink(std::string_view(buffer, static_cast<size_t>(got)))) {
            *error = "write failed";
            status = ZipStatus::kCannotWrite;
            break;
        }
    }
    if (zip_fclose(file) != 0 && status == ZipStatus::kOk) {
        *error = "damaged entry";
        status = ZipStatus::kDamaged;
    }
    return status;
}

}  // namespace

ZipStatus ZipReader::ReadEntry(int index, std::string* bytes, uint64_t limit) {
    if (!archive_) return Fail(ZipStatus::kNotOpen, "no archive is open");
    if (index < 0 || index >= EntryCount()) return Fail(ZipStatus::kNoSuchEntry, "no entry");
    bytes->clear();
    std::string detail;
    ZipStatus status = CopyEntry(archive_, index, limit, &detail, [&](std::string_view chunk) {
        bytes->append(chunk);
        return true;
    });
    if (status != ZipStatus::kOk) {
        bytes->clear();
        return Fail(status, Entry(index).name + ": " + detail);
    }
    return status;
}

ZipStatus ZipReader::CheckEntry(int index, uint64_t limit) {
    if (!archive_) return Fail(ZipStatus::kNotOpen, "no archive is open");
    if (index < 0 || index >= EntryCount()) return Fail(ZipStatus::kNoSuchEntry, "no entry");
    std::string detail;
    ZipStatus status =
        CopyEntry(archive_, index, limit, &detail, [](std::string_view) { return true; });
    if (status != ZipStatus::kOk) return Fail(status, Entry(index).name + ": " + detail);
    return status;
}

ZipStatus ZipReader::ExtractTo(int index, const fs::path& relative) {
    std::string detail;
    fs::path target = base_ / relative;
    ZipEntryInfo info = Entry(index);
    if (info.folder) {
        if (!MakeFoldersBelow(base_, relative, &detail)) {
            return Fail(ZipStatus::kCannotWrite, detail);
        }
        return ZipStatus::kOk;
    }
    if (!MakeFoldersBelow(base_, relative.parent_path(), &detail)) {
        return Fail(ZipStatus::kCannotWrite, detail);
    }
    // Written beside the target and renamed over it: an existing file (or a link of that
    // name) is replaced whole, and a damaged entry leaves nothing behind.
    std::string temp = (target.parent_path() / ".hivewise-extract-XXXXXX").string();
    int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) return Fail(ZipStatus::kCannotWrite, target.string() + ": " + strerror(errno));
    ZipStatus status = CopyEntry(archive_, index, extractLimit_, &detail,
                                 [fd](std::string_view chunk) { return WriteAll(fd, chunk); });
    bool closed = ::close(fd) == 0;
    if (status == ZipStatus::kOk && !closed) status = ZipStatus::kCannotWrite;
    if (status == ZipStatus::kOk) {
        std::error_code ec;
        if (fs::is_directory(fs::symlink_status(target, ec))) {
            status = ZipStatus::kCannotWrite;
            detail = "a folder of that name exists";
        } else if (::rename(temp.c_str(), target.c_str()) != 0) {
            status = ZipStatus::kCannotWrite;
            detail = strerror(errno);
        } else {
            ::chmod(target.c_str(), 0644);
        }
    }
    if (status != ZipStatus::kOk) {
        ::unlink(temp.c_str());
        return Fail(status, info.name + ": " + detail);
    }
    return ZipStatus::kOk;
}

ZipStatus ZipReader::Extract(int index) {
    if (!archive_) return Fail(ZipStatus::kNotOpen, "no archive is open");
    if (index < 0 || index >= EntryCount()) return Fail(ZipStatus::kNoSuchEntry, "no entry");
    std::string name = Entry(index).name;
    fs::path relative;
    if (!SafeEntryPath(name, &relative)) {
        return Fail(ZipStatus::kUnsafeName, "unsafe entry name: " + name);
    }
    return ExtractTo(index, relative);
}

ZipStatus ZipReader::ExtractAs(int index, std::string_view fileName) {
    if (!archive_) return Fail(ZipStatus::kNotOpen, "no archive is open");
    if (index < 0 || index >= EntryCount()) return Fail(ZipStatus::kNoSuchEntry, "no entry");
    fs::path relative;
    if (!SafeEntryPath(fileName, &relative) || relative.has_parent_path()) {
        return Fail(ZipStatus::kUnsafeName, "not a bare file name: " + std::string(fileName));
    }
    return ExtractTo(index, relative);
}

ZipStatus ZipReader::ExtractAll() {
    for (int i = 0, count = EntryCount(); i < count; ++i) {
        ZipStatus status = Extract(i);
        if (status != ZipStatus::kOk) return status;
    }
    return archive_ ? ZipStatus::kOk : Fail(ZipStatus::kNotOpen, "no archive is open");
}

void ZipReader::Close() {
    if (archive_) zip_discard(archive_);
    archive_ = nullptr;
}

}  // namespace hivewise
