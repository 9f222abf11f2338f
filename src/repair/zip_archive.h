#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "repair/deflated_bytes.h"

// ZIP archives on host paths: deflate-compressed entries, optionally encrypted with the
// traditional PKWARE scheme (which unzip and 7z read). Failures are results with a
// readable detail in LastError(), never exceptions.
//
// Entry names are stored as given ('/' separates folders; ASCII or UTF-8). The reader
// never writes outside its base folder: names with "..", a drive, a leading separator
// or a control character are refused, and so is a path through a symbolic link.
typedef struct zip zip_t;
typedef struct zip_source zip_source_t;

namespace hivewise {

enum class ZipStatus {
    kOk,
    kCannotOpen,     // the archive file is missing or unreadable
    kNotAnArchive,   // not a ZIP archive, or its directory is damaged
    kWrongPassword,  // encrypted entries and no password, or the wrong one
    kDamaged,        // an entry's data does not decompress or fails its CRC
    kNoSuchEntry,    // index out of range, or a source file that cannot be read
    kUnsafeName,     // an entry name that would leave the base folder
    kCannotWrite,    // the archive or an extracted file cannot be written
    kNotOpen,        // no archive is open
};

class ZipWriter {
  public:
    ZipWriter() = default;
    ~ZipWriter();  // discards an archive that was not closed
    ZipWriter(const ZipWriter&) = delete;
    ZipWriter& operator=(const ZipWriter&) = delete;

    // Creates the archive: an empty archive is on disk when this returns kOk. An existing
    // file is replaced unless `replaceExisting` is false (then kCannotWrite). An empty
    // password means no encryption.
    ZipStatus Create(const std::filesystem::path& archive, std::string_view password = {},
                     bool replaceExisting = true);
    // Adds a file's current bytes under `entryName`; a later entry of the same name
    // replaces an earlier one.
    ZipStatus AddFile(std::string_view entryName, const std::filesystem::path& source);
    ZipStatus AddBytes(std::string_view entryName, std::string_view bytes);
    // Bytes deflated already (see deflated_bytes.h): the archive stores them as they are,
    // encrypting them when it has a password.
    ZipStatus AddDeflated(std::string_view entryName, DeflatedBytes bytes);
    // A folder entry ("name/").
    ZipStatus AddFolder(std::string_view entryName);
    // Every file below `folder`, named by its path relative to `folder` (with `prefix`
    // and a '/' before it when `prefix` is not empty). Folders without files are kept as
    // folder entries.
    ZipStatus AddFolderTree(const std::filesystem::path& folder, std::string_view prefix = {});
    // Writes the archive (atomically: the file holds the old content or the new, whole).
    // Until then nothing added is readable.
    ZipStatus Close();
    // Leaves the archive as Create made it.
    void Discard();

    bool IsOpen() const { return archive_ != nullptr; }
    int EntryCount() const { return entries_; }
    const std::string& LastError() const { return error_; }

  private:
    ZipStatus Add(std::string_view entryName, zip_source_t* source);
    // Hands `bytes` to the archive; `deflated` gives their sizes and CRC when they are
    // deflated already.
    ZipStatus AddHeld(std::string_view entryName, std::string bytes, const DeflatedBytes* deflated);
    ZipStatus Fail(ZipStatus status, std::string detail);

    zip_t* archive_ = nullptr;
    std::filesystem::path path_;
    std::string password_;
    int entries_ = 0;
    std::string error_;
};

struct ZipEntryInfo {
    std::string name;
    uint64_t size = 0;
    uint64_t compressedSize = 0;
    bool encrypted = false;
    bool folder = false;
};

class ZipReader {
  public:
    ZipReader() = default;
    ~ZipReader();
    ZipReader(const ZipReader&) = delete;
    ZipReader& operator=(const ZipReader&) = delete;

    // An empty password opens unencrypted entries only.
    ZipStatus Open(const std::filesystem::path& archive, std::string_view password = {});
    void SetBaseFolder(const std::filesystem::path& folder) { base_ = folder; }
    // The most bytes an extraction writes; an entry that inflates past it is kDamaged
    // and leaves nothing behind.
    void SetExtractLimit(uint64_t limit) { extractLimit_ = limit; }
    int EntryCount() const;
    // Nothing useful for an index out of range.
    ZipEntryInfo Entry(int index) const;
    std::vector<ZipEntryInfo> Entries() const;
    // The index of the first entry of that name, or -1.
    int FindEntry(std::string_view name, bool ignoreCase) const;

    // The entry's bytes, up to `limit` (a larger entry is kDamaged).
    ZipStatus ReadEntry(int index, std::string* bytes, uint64_t limit = 64u << 20);
    // Reads the entry through, up to `limit`, and checks its CRC; nothing is kept.
    ZipStatus CheckEntry(int index, uint64_t limit);
    // Extracts to base folder + stored name, creating missing folders and replacing an
    // existing file (atomically); a folder entry makes the folder.
    ZipStatus Extract(int index);
    // Extracts to base folder + `fileName` (a bare name), whatever the stored name is.
    ZipStatus ExtractAs(int index, std::string_view fileName);
    // Every entry in index order; stops at the first failure.
    ZipStatus ExtractAll();
    void Close();

    bool IsOpen() const { return archive_ != nullptr; }
    const std::string& LastError() const { return error_; }

  private:
    ZipStatus ExtractTo(int index, const std::filesystem::path& relative);
    ZipStatus Fail(ZipStatus status, std::string detail);

    zip_t* archive_ = nullptr;
    std::filesystem::path base_;
    uint64_t extractLimit_ = UINT64_MAX;
    std::string error_;
};

// True when `name` names a place inside any folder: relative, no "..", no drive, no
// control characters, '/' or '\' as separators. `relative` receives its host form.
bool SafeEntryPath(std::string_view name, std::filesystem::path* relative);

}  // namespace hivewise
