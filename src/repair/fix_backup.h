#pragma once

#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/files/file_system_access.h"
#include "platform/machine/machine.h"
#include "repair/background_deflate.h"
#include "repair/backup_records.h"
#include "repair/untrusted_archive.h"
#include "repair/zip_archive.h"

// The fix backup: one password-protected archive per repair run, assembled from the key
// exports and the record list "Config.ini" (held in memory) and the file copies of a work
// folder, and read back for restoring. All paths are Windows paths of the machine.
namespace hivewise {

// The one password of every fix backup.
constexpr std::string_view kFixBackupPassword = "quarrytwine";
constexpr std::string_view kConfigEntry = "Config.ini";
// The smallest limit of a record list, and the largest saved file copy (the files a repair
// saves are shortcuts, far smaller); key exports are held to the size of the machine's
// registry.
constexpr uint64_t kConfigEntryLimit = uint64_t{8} << 20;
constexpr uint64_t kFileCopyLimit = uint64_t{1} << 20;

// The machine's backup folder, the folder a repair assembles its backup in, and the
// folder archives are unpacked into for restoring; none with a trailing backslash.
std::string BackupFolder(Machine& machine);
std::string WriteWorkFolder(Machine& machine);
std::string RestoreWorkFolder(Machine& machine);

class FixBackup {
  public:
    explicit FixBackup(Machine& machine);

    // Writing. BeginBackup creates the backup folder and the archive, named by the local
    // time (with a sequence number when that name is taken); false when the archive
    // cannot be created or the work folder is not there: then nothing may be removed.
    bool BeginBackup(const std::string& workFolder);
    // Each returns 1 when the item was saved and recorded, 0 when it was not (then the
    // work folder holds nothing of it).
    int BackupRegKey(const std::string& keyPath, int number);
    int BackupRegValue(const std::string& keyPath, const std::string& valueName,
                       const std::string& valueData);
    int BackupFile(const std::string& path);
    // A file outside the prefix (a menu entry Wine made), by its host path, with its
    // permission bits; its copy never leaves the archive's own entries.
    int BackupHostFile(const std::filesystem::path& path);
    bool AppendConfigRecord(const std::string& record);

    struct FinishResult {
        bool ok = true;
        // Nothing was saved: no archive is left behind and ArchivePath() is empty.
        bool empty = false;
    };
    // Adds the exports, the record list and the work folder's files to the archive (in the
    // order of the folder listing of them all), closes it, flushes it to the disk and
    // empties the work folder. Only then may anything saved be removed. When the archive
    // cannot be written, the unfinished archive is deleted (nothing may be removed then).
    FinishResult FinishBackup();
    const std::string& ArchivePath() const { return archivePath_; }

    // Reading.
    void SetArchivePath(const std::string& archive) { archivePath_ = archive; }
    // Extracts the archive's "Config.ini" (found without regard to case) into `folder`.
    bool ExtractConfig(const std::string& archive, const std::string& folder);
    // The archive's "Config.ini", read into `text` without writing anything.
    bool ReadConfig(const std::string& archive, std::string* text);
    // The stored archive opened for restoring, every entry read through once: nothing when
    // the archive cannot be opened or any entry is not a bare file name or does not
    // decrypt whole.
    std::unique_ptr<UntrustedArchive> OpenWhole();

  private:
    std::optional<std::filesystem::path> Host(const std::string& path);
    // The host path of a file of the program's own naming (ASCII) in the work folder.
    std::optional<std::filesystem::path> WorkFile(std::string_view name);
    // The archive opened for reading, each entry held to what a repair writes under its name.
    bool OpenForReading(const std::string& archive, UntrustedArchive* reader);
    // A name for a saved file's copy that no other copy or record file has.
    std::string UnusedEntryName(const std::string& name);

    Machine& machine_;
    FileSystemAccess files_;
    std::string archivePath_;
    std::unique_ptr<ZipWriter> writer_;
    std::string workFolder_;
    std::optional<std::filesystem::path> workHost_;
    std::set<std::string> usedNames_;  // lower case
    // The exports and the record list are held in memory, not in the work folder (a file
    // per export in a folder of hundreds of thousands made each save and the final
    // packing wait on the disk), and deflated on a second thread as they come.
    std::unique_ptr<BackgroundDeflate> deflate_;
    std::vector<std::string> exportNames_;  // ANSI, in the order handed to deflate_
    std::string config_;                    // the records not yet handed to deflate_
    uint64_t configSize_ = 0;               // of every record appended
};

// Removes what a repair killed before its end left in the backup folder: an archive that
// was created but never filled (nothing of it was removed yet) and the temporary files of
// an archive being written. Finished archives are never touched.
void RemoveBackupLeftovers(Machine& machine);

// Entry names are UTF-8 in the archive, so that other tools show them as they are; the
// program's own names are ANSI.
std::string EntryNameOf(std::string_view ansiName);
std::string AnsiNameOf(std::string_view entryName);

// The largest size each entry of a fix backup may have on this machine.
EntryLimit FixBackupEntryLimit(Machine& machine);
// The largest record list: each record names something the registry or the drive held, so
// a repair of a large registry writes a list of a few times its size.
uint64_t ConfigLimit(Machine& machine);

}  // namespace hivewise
