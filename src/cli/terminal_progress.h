#pragma once

#include <mutex>
#include <ostream>
#include <string>
#include <string_view>

// A one-line progress display on the terminal for long scans, repairs and full backups.
// It draws on standard error only when both standard output and standard error are
// terminals, and never beside JSON, so that piped and parsed output stays clean.
namespace hivewise::cli {

class TerminalProgress {
  public:
    // Whether a command's progress should show: not for JSON, and only on a terminal.
    static bool Wanted(bool json);

    TerminalProgress(std::ostream& err, bool shown) : err_(err), shown_(shown) {}
    ~TerminalProgress() { Clear(); }
    TerminalProgress(const TerminalProgress&) = delete;
    TerminalProgress& operator=(const TerminalProgress&) = delete;

    // "[ 40%] what"; callable from any thread.
    void Show(unsigned done, unsigned total, std::string_view what);
    // Counts one step more of `total`, keeping the last text.
    void Step(unsigned total);
    // Removes the line, so that what follows starts on a clean one.
    void Clear();

  private:
    void Draw(unsigned percent, std::string_view what);

    std::ostream& err_;
    const bool shown_;
    std::mutex mutex_;
    unsigned steps_ = 0;
    unsigned lastPercent_ = 101;
    std::string what_;
    size_t drawnWidth_ = 0;
};

}  // namespace hivewise::cli
