#pragma once

#include <ctime>
#include <filesystem>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/machine/machine.h"
#include "scan/problem.h"
#include "scan/scan_driver.h"

// The scan log: one text file per scan in the folder of "Log File Path", with a header
// naming the program and the system, and a block per accepted finding.
namespace hivewise {

constexpr std::string_view kLogFilePathSetting = "Log File Path";

// "<folder>\<day>-<month>-<year> (<hour>-<minute>-<second>).txt", numbers without
// leading zeros.
std::string LogFileName(const std::string& folder, const std::tm& localTime);
// The header and a finding block as the program formats them (CR LF line ends).
std::string LogHeader(const std::string& osName);
std::string LogBlock(const Problem& problem);
// What a text-mode stream writes for `text`: every LF preceded by a CR.
std::string TextModeBytes(std::string_view text);
void AppendTextModeBytes(std::string_view text, std::string* bytes);
// The system's name for the header; empty when the system information is not built in.
std::string MachineOsName(const Machine& machine);

// The file stays open from the start of a scan to its end, and the blocks are written
// in large pieces: a scan of a large registry hands over a hundred thousand findings, and
// a write per finding would cost more than the scan. Findings are handed over on the scan
// thread or the window's, the end comes on the scan thread; the lock keeps them apart.
class ScanLog : public ScanLogWriter {
  public:
    ScanLog(Machine& machine, std::string osName);
    ~ScanLog() override;
    ScanLog(const ScanLog&) = delete;
    ScanLog& operator=(const ScanLog&) = delete;

    // Names the new file from "Log File Path" and the time, creates its folder and
    // writes the header. Without a usable folder there is no log for this scan.
    void StartLog(const std::tm& localTime) override;
    // Adds the finding's block to the current file.
    void AppendFinding(const Problem& problem) override;
    // Writes what is held and closes the file.
    void EndLog() override;

    // The current file as a Windows path of the machine; empty when there is none.
    const std::string& CurrentFile() const { return file_; }

  private:
    // Writes the held bytes out; on a failure the rest of this scan's log is dropped.
    void WritePending();
    void Close();

    Machine& machine_;
    std::string osName_;
    std::string file_;
    std::mutex mutex_;
    int fd_ = -1;
    std::string pending_;
};

}  // namespace hivewise
