#include "cli/terminal_progress.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "report/output_text.h"

namespace hivewise::cli {

namespace {

// Room for the text after the percentage, so that the line never wraps on a narrow terminal.
constexpr size_t kTextWidth = 60;

unsigned Percent(unsigned done, unsigned total) {
    if (total == 0) return 0;
    return static_cast<unsigned>(std::min<unsigned long long>(100, done * 100ULL / total));
}

}  // namespace

bool TerminalProgress::Wanted(bool json) {
    return !json && isatty(STDOUT_FILENO) == 1 && isatty(STDERR_FILENO) == 1;
}

void TerminalProgress::Show(unsigned done, unsigned total, std::string_view what) {
    if (!shown_) return;
    std::lock_guard lock(mutex_);
    steps_ = done;
    what_ = TerminalField(what);
    if (what_.size() > kTextWidth) {
        size_t cut = kTextWidth;
        // Never between the bytes of one character.
        while (cut > 0 && (static_cast<unsigned char>(what_[cut]) & 0xC0) == 0x80)
            --cut;
        what_.resize(cut);
    }
    Draw(Percent(done, total), what_);
}

void TerminalProgress::Step(unsigned total) {
    if (!shown_) return;
    std::lock_guard lock(mutex_);
    ++steps_;
    unsigned percent = Percent(steps_, total);
    // Drawing at every step of a repair of 200 000 items would cost more than the repair.
    if (percent != lastPercent_) Draw(percent, what_);
}

void TerminalProgress::Clear() {
    if (!shown_) return;
    std::lock_guard lock(mutex_);
    if (drawnWidth_ == 0) return;
    err_ << '\r' << std::string(drawnWidth_, ' ') << '\r' << std::flush;
    drawnWidth_ = 0;
}

void TerminalProgress::Draw(unsigned percent, std::string_view what) {
    char head[16];
    std::snprintf(head, sizeof head, "[%3u%%] ", percent);
    std::string line = std::string(head) + std::string(what);
    size_t width = line.size();
    if (width < drawnWidth_) line.append(drawnWidth_ - width, ' ');
    err_ << '\r' << line << std::flush;
    drawnWidth_ = std::max(width, drawnWidth_);
    lastPercent_ = percent;
}

}  // namespace hivewise::cli
