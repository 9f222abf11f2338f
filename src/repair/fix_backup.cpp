#include "repair/fix_backup.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <ctime>

#include "platform/files/atomic_file.h"
#include "platform/machine/registry_glance.h"
#include "platform/machine/text.h"
#include "platform/registry/reg_file.h"
#include "platform/registry/registry_editor.h"
#include "scan/menu_entries/desktop_entry.h"

namespace hivewise {
namespace {

// The record list goes to the deflating thread in pieces of this size, so that little of
// it is held whole.
constexpr size_t kConfigPiece = size_t{1} << 20;

std::string WithoutTrailingBackslashes(std::string path) {
    while (!path.empty() && path.back() == '\\')
        path.pop_back();
    return path;
}

}  // namespace

std::string BackupFolder(Machine& machine) {
    return WithoutTrailingBackslashes(machine.ProgramFolder()) + "\\HivewiseBackup";
}

std::string WriteWorkFolder(Machine& machine) {
    return WithoutTrailingBackslashes(FileSystemAccess(machine).TempPath()) + "\\HivewiseBackUp";
}

std::string RestoreWorkFolder(Machine& machine) {
    return BackupFolder(machine) + "\\Temp";
}

std::string EntryNameOf(std::string_view ansiName) {
    return Utf16ToUtf8(AnsiToUtf16(ansiName));
}

std::string AnsiNameOf(std::string_view entryName) {
    return Utf16ToAnsi(Utf8ToUtf16(entryName));
}

namespace {

// "name.zip.XXXXXX" (libzip's temporary archive) or ".name.zip.XXXXXX" (a staged file):
// six letters or digits after ".zip.".
bool IsTemporaryArchiveName(const std::string& name) {
    std::string lower = AnsiLower(name);
    size_t at = lower.rfind(".zip.");
    if (at == std::string::npos || at == 0 || lower.size() != at + 11) return false;
    for (size_t i = at + 5; i < lower.size(); ++i) {
        if (!std::isalnum(static_cast<unsigned char>(lower[i]))) return false;
    }
    return true;
}

// Flushes a file and the folder that names it to the disk.
bool SyncFileAndFolder(const std::filesystem::path& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = ::fsync(fd) == 0;
    ::close(fd);
    int dir = ::open(path.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return ok;
}

// Exactly the end-of-directory record of an archive with no entries, as creating an
// archive writes it before anything is added.
bool IsEmptyArchive(const std::filesystem::path& path) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(std::filesystem::symlink_status(path, ec)) ||
        std::filesystem::file_size(path, ec) != 22) {
        return false;
    }
    std::string bytes, error;
    return ReadWholeFile(path, &bytes, &error) &&
           bytes == std::string("PK\x05\x06", 4) + std::string(18, '\0');
}

}  // namespace

void RemoveBackupLeftovers(Machine& machine) {
    FileSystemAccess files(machine);
    std::string folder = BackupFolder(machine);
    auto host = files.ToHostPath(folder, true);
    std::error_code ec;
    if (!host || !std::filesystem::is_directory(std::filesystem::symlink_status(*host, ec))) {
        return;
    }
    for (const auto& entry : std::filesystem::directory_iterator(*host, ec)) {
        std::string name = entry.path().filename().string();
        bool temporary = IsTemporaryArchiveName(name) &&
                         entry.symlink_status(ec).type() == std::filesystem::file_type::regular;
        bool unfilled =
            AnsiLower(entry.path().extension().string()) == ".zip" && IsEmptyArchive(entry.path());
        if (temporary || unfilled) std::filesystem::remove(entry.path(), ec);
    }
}

FixBackup::FixBackup(Machine& machine) : machine_(machine), files_(machine) {}

std::optional<std::filesystem::path> FixBackup::Host(const std::string& path) {
    return files_.ToHostPath(path, true);
}

bool FixBackup::BeginBackup(const std::string& workFolder) {
    workFolder_ = WithoutTrailingBackslashes(workFolder);
    usedNames_ = {AnsiLower(kConfigEntry)};
    deflate_.reset();
    exportNames_.clear();
    config_.clear();
    configSize_ = 0;
    writer_.reset();
    archivePath_.clear();
    workHost_.reset();
    if (!files_.IsDirectory(workFolder_)) return false;
    // Resolved once: the folder gains a file per saved item, and looking up a new name in
    // it would list the whole folder again each time.
    workHost_ = Host(workFolder_);
    if (!workHost_) return false;
    std::string folder = BackupFolder(machine_);
    files_.CreateDirectory(folder);

    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    auto writer = std::make_unique<ZipWriter>();
    // A second backup within the same second gets a sequence number, not the first's file.
    for (int sequence = 1; sequence < 1000; ++sequence) {
        std::string name = ArchiveName(folder, local, sequence);
        auto host = Host(name);
        if (!host) return false;
        ZipStatus status = writer->Create(*host, kFixBackupPassword, false);
        if (status == ZipStatus::kOk) {
            archivePath_ = name;
            writer_ = std::move(writer);
            deflate_ = std::make_unique<BackgroundDeflate>();
            return true;
        }
        std::error_code ec;
        if (!std::filesystem::exists(*host, ec)) return false;
    }
    return false;
}

std::optional<std::filesystem::path> FixBackup::WorkFile(std::string_view name) {
    if (!workHost_) return std::nullopt;
    return *workHost_ / std::string(name);
}

bool FixBackup::AppendConfigRecord(const std::string& record) {
    if (!workHost_ || !deflate_) return false;
    config_ += record;
    configSize_ += record.size();
    if (config_.size() >= kConfigPiece) {
        deflate_->AppendPiece(std::move(config_));
        config_ = std::string();
        config_.reserve(kConfigPiece + record.size());
    }
    return true;
}

int FixBackup::BackupRegKey(const std::string& keyPath, int number) {
    if (!workHost_) return 0;
    std::string name = "rkBackUp" + std::to_string(number) + ".reg";
    auto bytes = ExportRegFile(machine_, keyPath, RegFileFormatFor(machine_));
    if (!bytes || !AppendConfigRecord(KeyRecord(keyPath, number))) return 0;
    usedNames_.insert(AnsiLower(name));
    exportNames_.push_back(std::move(name));
    deflate_->AddWhole(std::move(*bytes));
    return 1;
}

int FixBackup::BackupRegValue(const std::string& keyPath, const std::string& valueName,
                              const std::string& valueData) {
    std::optional<ExactValue> exact = ReadExactValue(machine_, keyPath, valueName);
    if (!exact) return 0;
    return AppendConfigRecord(ValueRecord(keyPath, valueName, valueData, &*exact)) ? 1 : 0;
}

std::string FixBackup::UnusedEntryName(const std::string& name) {
    auto taken = [this](const std::string& candidate) {
        std::string lower = AnsiLower(candidate);
        // Key exports are named by the finding's position; a copy never takes such a name.
        bool exportName = lower.rfind("rkbackup", 0) == 0 && lower.size() > 4 &&
                          lower.compare(lower.size() - 4, 4, ".reg") == 0;
        return exportName || usedNames_.count(lower) > 0;
    };
    std::string chosen = name;
    size_t dot = name.rfind('.');
    std::string stem = dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
    std::string extension = stem.size() == name.size() ? "" : name.substr(dot);
    for (int k = 2; taken(chosen); ++k)
        chosen = stem + "~" + std::to_string(k) + extension;
    usedNames_.insert(AnsiLower(chosen));
    return chosen;
}

int FixBackup::BackupFile(const std::string& path) {
    std::string name = BareName(path);
    if (!IsBareName(name)) return 0;
    std::string entry = UnusedEntryName(name);
    std::string copy = workFolder_ + "\\" + entry;
    if (!files_.CopyFile(path, copy)) {
        usedNames_.erase(AnsiLower(entry));
        return 0;
    }
    // A copy under its own bare name keeps the plain record; another name is recorded.
    if (!AppendConfigRecord(FileRecord(path, entry == name ? "" : entry))) {
        files_.DeleteFile(copy);
        usedNames_.erase(AnsiLower(entry));
        return 0;
    }
    return 1;
}

int FixBackup::BackupHostFile(const std::filesystem::path& path) {
    std::string text = path.string();
    // A line break would change the path the record names.
    if (!path.is_absolute() || text.find_first_of("\r\n") != std::string::npos) return 0;
    struct stat st {};
    std::string bytes;
    if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) ||
        !ReadSmallFile(path, &bytes, kFileCopyLimit)) {
        return 0;
    }
    // Host names need not be ANSI; the copy gets a plain name of its own.
    std::string entry = UnusedEntryName("hostfile.dat");
    auto copy = Host(workFolder_ + "\\" + entry);
    std::string error;
    if (!copy || !WriteFileAtomically(*copy, bytes, &error)) {
        usedNames_.erase(AnsiLower(entry));
        return 0;
    }
    if (!AppendConfigRecord(HostFileRecord(text, st.st_mode & 07777, entry))) {
        files_.DeleteFile(workFolder_ + "\\" + entry);
        usedNames_.erase(AnsiLower(entry));
        return 0;
    }
    return 1;
}

namespace {

// One entry of the archive being finished: bytes deflated in memory, or a file of the
// work folder.
struct PendingEntry {
    PendingEntry(std::string ansiName, DeflatedBytes* bytes, std::filesystem::path hostPath)
        : name(std::move(ansiName)),
          wide(AnsiToUtf16(name)),
          deflated(bytes),
          host(std::move(hostPath)) {}
    std::string name;     // ANSI
    std::u16string wide;  // the name as the listing compares it, made once for the sort
    DeflatedBytes* deflated = nullptr;
    std::filesystem::path host;
};

// The order a listing of one folder holding every entry gives: the archive reads the same
// as when every entry went through the work folder.
bool ListedBefore(const PendingEntry& a, const PendingEntry& b) {
    int order = CompareNoCase(a.wide, b.wide);
    return order != 0 ? order < 0 : a.name < b.name;
}

}  // namespace

FixBackup::FinishResult FixBackup::FinishBackup() {
    FinishResult result;
    if (!writer_ || !deflate_) {
        result.ok = false;
        return result;
    }
    if (!config_.empty()) deflate_->AppendPiece(std::move(config_));
    std::string().swap(config_);
    std::vector<DeflatedBytes> exports;
    DeflatedBytes config;
    bool ok = deflate_->Finish(&exports, &config) && exports.size() == exportNames_.size();
    deflate_.reset();
    std::vector<PendingEntry> pending;
    std::set<std::string> held;  // lower case
    if (ok && configSize_ > 0) {
        pending.emplace_back(std::string(kConfigEntry), &config, std::filesystem::path());
        held.insert(AnsiLower(kConfigEntry));
    }
    for (size_t i = 0; ok && i < exports.size(); ++i) {
        pending.emplace_back(exportNames_[i], &exports[i], std::filesystem::path());
        held.insert(AnsiLower(exportNames_[i]));
    }
    auto entries = files_.FindFiles(workFolder_ + "\\*.*");
    if (!entries) ok = false;
    for (const FindEntry& entry : entries ? *entries : std::vector<FindEntry>{}) {
        if (entry.name.empty() || entry.name[0] == '.') continue;
        if (entry.attributes & kFileAttributeDirectory) continue;
        // A file of a name this backup holds in memory is none of its own.
        if (held.count(AnsiLower(entry.name)) > 0) continue;
        auto host = Host(workFolder_ + "\\" + entry.name);
        if (!host) {
            ok = false;
            break;
        }
        pending.emplace_back(entry.name, nullptr, *host);
    }
    std::sort(pending.begin(), pending.end(), ListedBefore);
    for (PendingEntry& entry : ok ? pending : std::vector<PendingEntry>{}) {
        std::string name = EntryNameOf(entry.name);
        ZipStatus added = entry.deflated ? writer_->AddDeflated(name, std::move(*entry.deflated))
                                         : writer_->AddFile(name, entry.host);
        if (added != ZipStatus::kOk) {
            ok = false;
            break;
        }
    }
    exportNames_.clear();
    auto archive = Host(archivePath_);
    result.empty = ok && writer_->EntryCount() == 0;
    // The archive must be on the disk before anything it holds is removed: a crash or a
    // power cut right after the removal would otherwise leave neither.
    ok = ok && !result.empty && writer_->Close() == ZipStatus::kOk && archive &&
         SyncFileAndFolder(*archive);
    writer_.reset();
    if (!ok || result.empty) {
        result.ok = result.empty;
        if (archive) {
            std::error_code ec;
            std::filesystem::remove(*archive, ec);
        }
        archivePath_.clear();
    }
    // Nothing saved has been removed yet, so the copies are not needed any more.
    files_.ClearDirectory(workFolder_, false);
    return result;
}

uint64_t ConfigLimit(Machine& machine) {
    // A record repeats its key's path and holds a value's data twice, once as hex of its
    // UTF-16 text, so a list runs to several times what it names; and by the time it is
    // read back the repair has made the registry smaller by just that much.
    constexpr uint64_t kRecordFactor = 16;
    return std::max<uint64_t>(kConfigEntryLimit,
                              RegistryFilesSize(machine.PrefixDir()) * kRecordFactor);
}

EntryLimit FixBackupEntryLimit(Machine& machine) {
    uint64_t exportLimit = RegistrySizedLimit(machine.PrefixDir());
    uint64_t configLimit = ConfigLimit(machine);
    return [exportLimit, configLimit](std::string_view name) -> uint64_t {
        // Asked for every entry each time one is read: the names this program writes are
        // ASCII, and need no conversion.
        std::string converted;
        std::string_view ansi = name;
        if (!IsAscii(name)) ansi = converted = AnsiNameOf(name);
        if (AnsiEqualsNoCase(ansi, kConfigEntry)) return configLimit;
        bool keyExport = ansi.size() >= 8 && AnsiEqualsNoCase(ansi.substr(0, 8), "rkbackup") &&
                         AnsiEqualsNoCase(ansi.substr(ansi.size() - 4), ".reg");
        return keyExport ? exportLimit : kFileCopyLimit;
    };
}

bool FixBackup::OpenForReading(const std::string& archive, UntrustedArchive* reader) {
    auto host = Host(archive);
    return host && reader->Open(*host, kFixBackupPassword) == ZipStatus::kOk;
}

bool FixBackup::ExtractConfig(const std::string& archive, const std::string& folder) {
    auto folderHost = Host(folder);
    UntrustedArchive reader(FixBackupEntryLimit(machine_));
    if (!folderHost || !OpenForReading(archive, &reader)) return false;
    int index = reader.FindEntry(kConfigEntry, true);
    return index >= 0 && reader.ExtractAs(index, *folderHost, kConfigEntry) == ZipStatus::kOk;
}

bool FixBackup::ReadConfig(const std::string& archive, std::string* text) {
    text->clear();
    UntrustedArchive reader(FixBackupEntryLimit(machine_));
    if (!OpenForReading(archive, &reader)) return false;
    int index = reader.FindEntry(kConfigEntry, true);
    return index >= 0 && reader.Read(index, text) == ZipStatus::kOk;
}

std::unique_ptr<UntrustedArchive> FixBackup::OpenWhole() {
    auto reader = std::make_unique<UntrustedArchive>(FixBackupEntryLimit(machine_));
    if (!OpenForReading(archivePath_, reader.get())) return nullptr;
    for (int i = 0, count = reader->EntryCount(); i < count; ++i) {
        if (!IsBareName(reader->Entry(i).name)) return nullptr;
    }
    if (reader->CheckAll() != ZipStatus::kOk) return nullptr;
    return reader;
}

}  // namespace hivewise
