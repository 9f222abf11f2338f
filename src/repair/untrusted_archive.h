#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "repair/zip_archive.h"

// An archive that came from outside: a fix backup or a full backup is a file anyone can
// craft. Every entry is held to the largest size the program itself could have written
// under that name, first on the size the archive declares (before anything is written)
// and again while it inflates, since a header can lie; nothing is unpacked past the free
// space of the disk. A refused entry is a failure result that leaves nothing behind.
namespace hivewise {

// The largest size an entry of that name may have; 0 refuses the entry.
using EntryLimit = std::function<uint64_t(std::string_view entryName)>;

class UntrustedArchive {
  public:
    explicit UntrustedArchive(EntryLimit limitOf) : limitOf_(std::move(limitOf)) {}

    ZipStatus Open(const std::filesystem::path& archive, std::string_view password = {});
    int EntryCount() const { return reader_.EntryCount(); }
    ZipEntryInfo Entry(int index) const { return reader_.Entry(index); }
    int FindEntry(std::string_view name, bool ignoreCase) const {
        return reader_.FindEntry(name, ignoreCase);
    }

    // The entry's bytes, in memory.
    ZipStatus Read(int index, std::string* bytes);
    // The entry into `folder` under the bare name `fileName`, replacing a file of that name.
    ZipStatus ExtractAs(int index, const std::filesystem::path& folder, std::string_view fileName);
    // Every entry into `folder` under its stored name, in index order. On a failure the files
    // this call wrote are removed again.
    ZipStatus ExtractAll(const std::filesystem::path& folder);

    // Every entry read through and held to its limit, nothing written: kOk when each has
    // a safe name and decrypts and inflates whole.
    ZipStatus CheckAll();

    const std::string& LastError() const { return error_; }

  private:
    // The bytes the entry may take (unpacked into `folder`, when given); nothing when it
    // is refused.
    std::optional<uint64_t> Allowance(int index, const std::filesystem::path* folder);
    ZipStatus Fail(ZipStatus status, std::string detail);

    EntryLimit limitOf_;
    ZipReader reader_;
    std::string error_;
};

// The limit for a file the size of the machine's registry (a saved hive, a key export): a
// generous multiple of the prefix's registry files, never below a floor.
uint64_t RegistrySizedLimit(const std::filesystem::path& prefixDir);

// What a disk keeps free of an unpacked archive: its available bytes less a margin.
uint64_t UnpackableBytes(const std::filesystem::path& folder);

}  // namespace hivewise
