#include "report/scan_log.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/files/file_system_access.h"
#include "platform/registry/registry_access.h"
#include "report/problem_details.h"

#include "tools/system_info.h"

namespace hivewise {

std::string LogFileName(const std::string& folder, const std::tm& t) {
    char name[96];
    std::snprintf(name, sizeof name, "\\%d-%d-%d (%d-%d-%d).txt", t.tm_mday, t.tm_mon + 1,
                  t.tm_year + 1900, t.tm_hour, t.tm_min, t.tm_sec);
    return folder + name;
}

std::string LogHeader(const std::string& osName) {
    return "Hivewise Version = 6.2\r\n" + osName + "\r\n" + std::string(44, '-') + "\r\n\r\n";
}

std::string LogBlock(const Problem& problem) {
    std::string block = "\r\nKey : ";
    block.append(problem.Location()).append("\r\nValueName : ").append(ShownValueName(problem));
    block.append("\r\nValue : ").append(problem.ValueData()).append("\r\n");
    return block;
}

std::string TextModeBytes(std::string_view text) {
    std::string bytes;
    bytes.reserve(text.size() + text.size() / 8);
    for (char c : text) {
        if (c == '\n') bytes += '\r';
        bytes += c;
    }
    return bytes;
}

std::string MachineOsName(const Machine& machine) {
    SystemInfo info(machine);
    info.Identify();
    return info.osName;
}

ScanLog::ScanLog(Machine& machine, std::string osName)
    : machine_(machine), osName_(std::move(osName)) {}

void ScanLog::StartLog(const std::tm& localTime) {
    file_.clear();
    hostFile_.reset();
    RegistryAccess registry(machine_);
    std::string folder;
    if (!registry.ReadSetting(kLogFilePathSetting, &folder)) folder.clear();
    while (!folder.empty() && folder.back() == '\\')
        folder.pop_back();
    // Without a folder the name would land in the root of the current drive.
    if (folder.empty()) return;

    FileSystemAccess files(machine_);
    files.CreateDirectoryPath(folder);  // a failure shows when the file is opened
    file_ = LogFileName(folder, localTime);
    // Resolved once, so that appends made while the scan thread walks the drives do
    // not share the path cache with it.
    hostFile_ = files.ToHostPath(file_, true);
    Append(LogHeader(osName_));
}

void ScanLog::AppendFinding(const Problem& problem) {
    Append(LogBlock(problem));
}

bool ScanLog::Append(std::string_view text) {
    if (!hostFile_) return false;
    int fd = ::open(hostFile_->c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    std::string bytes = TextModeBytes(text);
    const char* data = bytes.data();
    size_t left = bytes.size();
    bool ok = true;
    while (left > 0) {
        ssize_t written = ::write(fd, data, left);
        if (written < 0) {
            if (errno == EINTR) continue;
            ok = false;
            break;
        }
        data += written;
        left -= static_cast<size_t>(written);
    }
    ::close(fd);
    return ok;
}

}  // namespace hivewise
