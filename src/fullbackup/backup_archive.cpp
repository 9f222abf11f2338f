#include "fullbackup/backup_archive.h"

#include "repair/backup_records.h"
#include "repair/untrusted_archive.h"
#include "repair/zip_archive.h"

namespace hivewise {

std::string UnusedArchivePath(FileSystemAccess& files, const std::string& folder,
                              const std::tm& when) {
    for (int sequence = 1; sequence < 1000; ++sequence) {
        std::string path = ArchiveName(folder, when, sequence);
        if (!files.PathFileExists(path)) return path;
    }
    return {};
}

bool PackFolder(FileSystemAccess& files, const std::string& folder, const std::string& archive) {
    auto hostArchive = files.ToHostPath(archive, true);
    auto entries = files.FindFiles(folder + "\\*.*");
    if (!hostArchive || !entries) return false;
    ZipWriter writer;
    if (writer.Create(*hostArchive) != ZipStatus::kOk) return false;
    for (const FindEntry& entry : *entries) {
        std::string path = folder + "\\" + entry.name;
        if ((entry.attributes & kFileAttributeDirectory) || path == archive) continue;
        auto host = files.ToHostPath(path);
        if (!host || writer.AddFile(entry.name, *host) != ZipStatus::kOk) return false;
    }
    return writer.Close() == ZipStatus::kOk;
}

bool UnpackArchive(FileSystemAccess& files, const std::string& archive, const std::string& folder,
                   uint64_t entryLimit) {
    auto hostArchive = files.ToHostPath(archive);
    auto hostFolder = files.ToHostPath(folder);
    if (!hostArchive || !hostFolder) return false;
    UntrustedArchive reader([entryLimit](std::string_view) { return entryLimit; });
    bool ok = reader.Open(*hostArchive) == ZipStatus::kOk &&
              reader.ExtractAll(*hostFolder) == ZipStatus::kOk;
    // A partly unpacked backup is never restored from.
    if (!ok) files.ClearDirectory(folder, true);
    return ok;
}

}  // namespace hivewise
