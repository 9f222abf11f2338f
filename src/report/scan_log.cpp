#include "report/scan_log.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <optional>

#include "platform/files/atomic_file.h"
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
    AppendTextModeBytes(text, &bytes);
    return bytes;
}

void AppendTextModeBytes(std::string_view text, std::string* bytes) {
    bytes->reserve(bytes->size() + text.size() + text.size() / 8);
    for (char c : text) {
        if (c == '\n') *bytes += '\r';
        *bytes += c;
    }
}

std::string MachineOsName(const Machine& machine) {
    SystemInfo info(machine);
    info.Identify();
    return info.osName;
}

namespace {

// Findings are held until this much is waiting.
constexpr size_t kWriteSize = size_t{64} << 10;

}  // namespace

ScanLog::ScanLog(Machine& machine, std::string osName)
    : machine_(machine), osName_(std::move(osName)) {}

ScanLog::~ScanLog() {
    EndLog();
}

void ScanLog::StartLog(const std::tm& localTime) {
    std::lock_guard lock(mutex_);
    Close();
    file_.clear();
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
    std::optional<std::filesystem::path> hostFile = files.ToHostPath(file_, true);
    if (!hostFile) return;
    // Appended to: a second scan in the same second adds to the same file. A link in its
    // place could lead out of the prefix, and is not written through.
    fd_ = ::open(hostFile->c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd_ < 0) return;
    AppendTextModeBytes(LogHeader(osName_), &pending_);
    WritePending();
}

void ScanLog::AppendFinding(const Problem& problem) {
    std::lock_guard lock(mutex_);
    if (fd_ < 0) return;
    AppendTextModeBytes(LogBlock(problem), &pending_);
    if (pending_.size() >= kWriteSize) WritePending();
}

void ScanLog::EndLog() {
    std::lock_guard lock(mutex_);
    Close();
}

void ScanLog::WritePending() {
    if (fd_ >= 0 && !WriteAll(fd_, pending_)) {
        ::close(fd_);
        fd_ = -1;
    }
    pending_.clear();
}

void ScanLog::Close() {
    if (fd_ < 0) return;
    WritePending();
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

}  // namespace hivewise
