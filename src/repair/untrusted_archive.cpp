#include "repair/untrusted_archive.h"

#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "platform/machine/registry_glance.h"

namespace hivewise {
namespace {

namespace fs = std::filesystem;

constexpr uint64_t kMiB = uint64_t{1} << 20;
// A hive or key export is text of the registry it came from; UTF-16 doubles it.
constexpr uint64_t kRegistryFactor = 4;
constexpr uint64_t kRegistryFloor = 64 * kMiB;
// Left free on the disk, so that unpacking never fills it.
constexpr uint64_t kFreeMargin = 16 * kMiB;

}  // namespace

uint64_t RegistrySizedLimit(const fs::path& prefixDir) {
    return std::max(kRegistryFloor, RegistryFilesSize(prefixDir) * kRegistryFactor);
}

uint64_t UnpackableBytes(const fs::path& folder) {
    struct statvfs disk {};
    if (::statvfs(folder.c_str(), &disk) != 0) return 0;
    uint64_t available = static_cast<uint64_t>(disk.f_bavail) * disk.f_frsize;
    return available > kFreeMargin ? available - kFreeMargin : 0;
}

ZipStatus UntrustedArchive::Fail(ZipStatus status, std::string detail) {
    error_ = std::move(detail);
    return status;
}

ZipStatus UntrustedArchive::Open(const fs::path& archive, std::string_view password) {
    error_.clear();
    ZipStatus status = reader_.Open(archive, password);
    if (status != ZipStatus::kOk) return Fail(status, reader_.LastError());
    return status;
}

std::optional<uint64_t> UntrustedArchive::Allowance(int index, const fs::path* folder) {
    ZipEntryInfo info = reader_.Entry(index);
    uint64_t limit = limitOf_ ? limitOf_(info.name) : 0;
    if (limit == 0) return std::nullopt;
    if (folder) limit = std::min(limit, UnpackableBytes(*folder));
    // The declared size is judged first; the inflated bytes are held to the same limit.
    if (info.size > limit) return std::nullopt;
    return limit;
}

ZipStatus UntrustedArchive::Read(int index, std::string* bytes) {
    bytes->clear();
    if (!reader_.IsOpen()) return Fail(ZipStatus::kNotOpen, "no archive is open");
    if (index < 0 || index >= EntryCount()) return Fail(ZipStatus::kNoSuchEntry, "no entry");
    auto limit = Allowance(index, nullptr);
    if (!limit) return Fail(ZipStatus::kDamaged, Entry(index).name + ": entry larger than allowed");
    ZipStatus status = reader_.ReadEntry(index, bytes, *limit);
    if (status != ZipStatus::kOk) return Fail(status, reader_.LastError());
    return status;
}

ZipStatus UntrustedArchive::ExtractAs(int index, const fs::path& folder,
                                      std::string_view fileName) {
    if (!reader_.IsOpen()) return Fail(ZipStatus::kNotOpen, "no archive is open");
    if (index < 0 || index >= EntryCount()) return Fail(ZipStatus::kNoSuchEntry, "no entry");
    auto limit = Allowance(index, &folder);
    if (!limit) return Fail(ZipStatus::kDamaged, Entry(index).name + ": entry larger than allowed");
    reader_.SetBaseFolder(folder);
    reader_.SetExtractLimit(*limit);
    ZipStatus status = reader_.ExtractAs(index, fileName);
    if (status != ZipStatus::kOk) return Fail(status, reader_.LastError());
    return status;
}

ZipStatus UntrustedArchive::CheckAll() {
    if (!reader_.IsOpen()) return Fail(ZipStatus::kNotOpen, "no archive is open");
    for (int i = 0, count = EntryCount(); i < count; ++i) {
        ZipEntryInfo info = Entry(i);
        if (!SafeEntryPath(info.name, nullptr)) {
            return Fail(ZipStatus::kUnsafeName, "unsafe entry name: " + info.name);
        }
        auto limit = Allowance(i, nullptr);
        if (!limit) return Fail(ZipStatus::kDamaged, info.name + ": entry larger than allowed");
        if (info.folder) continue;
        ZipStatus status = reader_.CheckEntry(i, *limit);
        if (status != ZipStatus::kOk) return Fail(status, reader_.LastError());
    }
    return ZipStatus::kOk;
}

ZipStatus UntrustedArchive::ExtractAll(const fs::path& folder) {
    if (!reader_.IsOpen()) return Fail(ZipStatus::kNotOpen, "no archive is open");
    reader_.SetBaseFolder(folder);
    std::vector<fs::path> written;
    ZipStatus status = ZipStatus::kOk;
    for (int i = 0, count = EntryCount(); i < count && status == ZipStatus::kOk; ++i) {
        ZipEntryInfo info = Entry(i);
        fs::path relative;
        if (!SafeEntryPath(info.name, &relative)) {
            status = Fail(ZipStatus::kUnsafeName, "unsafe entry name: " + info.name);
            break;
        }
        auto limit = Allowance(i, &folder);
        if (!limit) {
            status = Fail(ZipStatus::kDamaged, info.name + ": entry larger than allowed");
            break;
        }
        reader_.SetExtractLimit(*limit);
        status = reader_.Extract(i);
        if (status != ZipStatus::kOk) {
            Fail(status, reader_.LastError());
        } else if (!info.folder) {
            written.push_back(folder / relative);
        }
    }
    if (status != ZipStatus::kOk) {
        // A partly unpacked archive is never used: what it wrote goes again.
        for (auto it = written.rbegin(); it != written.rend(); ++it)
            ::unlink(it->c_str());
    }
    return status;
}

}  // namespace hivewise
