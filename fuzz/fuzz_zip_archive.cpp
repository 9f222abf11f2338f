// A fix backup archive as the restore reads it: opened with and without the password,
// its entries listed, read and extracted into a scratch folder. Extraction must never
// leave that folder, whatever the entry names say; through the untrusted-archive reader
// no entry may come out larger than its limit, and a failed unpacking leaves no file.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <set>
#include <string>
#include <string_view>

#include "fuzz_temp_prefix.h"
#include "repair/fix_backup.h"
#include "repair/untrusted_archive.h"
#include "repair/zip_archive.h"

using namespace hivewise;
namespace fs = std::filesystem;

namespace {

// Larger entries are read but not extracted: the scratch folder lives in memory.
constexpr uint64_t kEntryLimit = 1 << 20;

std::set<std::string> Names(const fs::path& folder) {
    std::set<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        names.insert(it->path().filename().string());
    return names;
}

// Traps when the scratch tree holds anything but the archive and the base folder, or
// the base folder holds a symbolic link (extraction makes only files and folders) or
// the temporary file of an extraction that failed.
void CheckContained(const fs::path& root, const fs::path& base) {
    if (Names(fuzz::ScratchPrefix()) != std::set<std::string>{"drive_c", "dosdevices", "zip"})
        __builtin_trap();
    if (Names(root) != std::set<std::string>{"archive.zip", "a"}) __builtin_trap();
    if (Names(root / "a") != std::set<std::string>{"out"}) __builtin_trap();
    std::error_code ec;
    for (fs::recursive_directory_iterator it(base, ec), end; !ec && it != end; it.increment(ec)) {
        if (it->is_symlink()) __builtin_trap();
        if (it->path().filename().string().rfind(".hivewise-extract-", 0) == 0) __builtin_trap();
    }
}

// A name SafeEntryPath accepts stays below any folder it is joined to.
void CheckEntryPath(std::string_view name) {
    fs::path relative;
    if (!SafeEntryPath(name, &relative)) return;
    if (relative.empty() || relative.is_absolute() || relative.has_root_name()) __builtin_trap();
    for (const fs::path& part : relative) {
        if (part == ".." || part == "." || part.empty()) __builtin_trap();
    }
}

void ReadArchive(const fs::path& archive, const fs::path& base, std::string_view password) {
    ZipReader reader;
    reader.SetBaseFolder(base);
    if (reader.Open(archive, password) != ZipStatus::kOk) return;
    std::string bytes;
    int count = reader.EntryCount();
    for (int i = 0; i < count; ++i) {
        ZipEntryInfo info = reader.Entry(i);
        CheckEntryPath(info.name);
        if (reader.FindEntry(info.name, true) > i) __builtin_trap();
        ZipStatus status = reader.ReadEntry(i, &bytes, kEntryLimit);
        if (status == ZipStatus::kOk && bytes.size() > kEntryLimit) __builtin_trap();
        if (status != ZipStatus::kOk || info.size > kEntryLimit) continue;
        reader.Extract(i);
        reader.ExtractAs(i, "Config.ini");
        reader.ExtractAs(i, info.name);
    }
    reader.Entry(count);
    reader.Close();
}

// Files (not folders) below `folder`.
bool HoldsFiles(const fs::path& folder) {
    std::error_code ec;
    for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        if (!it->is_directory()) return true;
    }
    return false;
}

void ReadUntrusted(const fs::path& archive, const fs::path& base, std::string_view password) {
    constexpr uint64_t kLimit = 4096;
    UntrustedArchive reader([](std::string_view name) { return name == "refused" ? 0 : kLimit; });
    if (reader.Open(archive, password) != ZipStatus::kOk) return;
    std::string bytes;
    for (int i = 0, count = reader.EntryCount(); i < count; ++i) {
        if (reader.Read(i, &bytes) == ZipStatus::kOk) {
            if (bytes.size() > kLimit || reader.Entry(i).name == "refused") __builtin_trap();
        } else if (!bytes.empty()) {
            __builtin_trap();
        }
    }
    if (reader.ExtractAll(base) != ZipStatus::kOk && HoldsFiles(base)) __builtin_trap();
    std::error_code ec;
    for (fs::recursive_directory_iterator it(base, ec), end; !ec && it != end; it.increment(ec)) {
        if (it->is_regular_file() && it->file_size() > kLimit) __builtin_trap();
    }
    fs::remove_all(base, ec);
    fs::create_directories(base, ec);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const fs::path root = fuzz::ScratchPrefix() / "zip";
    static const fs::path archive = root / "archive.zip";
    static const fs::path base = root / "a" / "out";
    std::error_code ec;
    fs::create_directories(base, ec);
    {
        FILE* f = std::fopen(archive.c_str(), "wb");
        if (!f) std::abort();
        if (size) std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    ReadArchive(archive, base, {});
    ReadArchive(archive, base, kFixBackupPassword);
    CheckContained(root, base);
    fs::remove_all(base, ec);
    fs::create_directories(base, ec);
    ReadUntrusted(archive, base, {});
    ReadUntrusted(archive, base, kFixBackupPassword);
    CheckContained(root, base);
    fs::remove_all(base, ec);
    // Names alone, as the input's lines.
    std::string_view text(reinterpret_cast<const char*>(data), size);
    CheckEntryPath(text.substr(0, text.find('\n')));
    return 0;
}
