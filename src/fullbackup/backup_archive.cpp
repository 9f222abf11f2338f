#include "fullbackup/backup_archive.h"

#include <cstdio>

#include "repair/zip_archive.h"

namespace hivewise {
namespace {

// TEMPORARY until the fix backups' date display lands.
std::string ArchiveCopySuffix(int copy) {
    return copy <= 1 ? std::string() : "_" + std::to_string(copy);
}

std::string FormatBackupDate(const std::string& fileName) {
    std::string name = fileName.substr(0, fileName.rfind('.'));
    for (char& c : name)
        if (c == '_') c = ',';
    std::vector<int> numbers;
    size_t start = 0;
    while (start <= name.size()) {
        size_t comma = name.find(',', start);
        std::string piece =
            name.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        if (!piece.empty()) numbers.push_back(std::atoi(piece.c_str()));
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    if (numbers.size() < 6) return {};
    char text[64];
    std::snprintf(text, sizeof text, "%d/%02d/%d %02d:%02d:%02d", numbers[0], numbers[1],
                  numbers[2], numbers[3], numbers[4], numbers[5]);
    return text;
}

}  // namespace

std::string ArchiveBaseName(const std::tm& when) {
    return std::to_string(when.tm_mon + 1) + "," + std::to_string(when.tm_mday) + "," +
           std::to_string(when.tm_year + 1900) + "_" + std::to_string(when.tm_hour) + "," +
           std::to_string(when.tm_min) + "," + std::to_string(when.tm_sec);
}

std::string UnusedArchivePath(FileSystemAccess& files, const std::string& folder,
                              const std::string& baseName) {
    for (int copy = 1; copy < 1000; ++copy) {
        std::string path = folder + "\\" + baseName + ArchiveCopySuffix(copy) + ".zip";
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

bool UnpackArchive(FileSystemAccess& files, const std::string& archive, const std::string& folder) {
    auto hostArchive = files.ToHostPath(archive);
    auto hostFolder = files.ToHostPath(folder);
    if (!hostArchive || !hostFolder) return false;
    ZipReader reader;
    if (reader.Open(*hostArchive) != ZipStatus::kOk) return false;
    reader.SetBaseFolder(*hostFolder);
    bool ok = reader.ExtractAll() == ZipStatus::kOk;
    reader.Close();
    // A partly unpacked backup is never restored from.
    if (!ok) files.ClearDirectory(folder, true);
    return ok;
}

std::string BackupDateText(const std::string& fileName) {
    return FormatBackupDate(fileName);
}

}  // namespace hivewise
