#include "platform/registry/hive_sections.h"

#include <algorithm>

#include "platform/registry/hive_values.h"

namespace hivewise {

size_t SplitPointOf(std::string_view text, double share) {
    size_t at = static_cast<size_t>(static_cast<double>(text.size()) * share);
    while (at < text.size()) {
        size_t nl = text.find("\n[", at);
        if (nl == std::string_view::npos) return std::string_view::npos;
        // Only hex data continues over lines, and only after a backslash that ends its line:
        // a key line after any other line starts afresh, as the reader will take it.
        size_t last = nl;
        while (last > 0 && IsSpace(text[last - 1]))
            --last;
        if (last == 0 || text[last - 1] != '\\') return nl + 1;
        at = nl + 1;
    }
    return std::string_view::npos;
}

int LineNumberAt(std::string_view text, size_t offset) {
    offset = std::min(offset, text.size());
    return 1 + static_cast<int>(std::count(text.begin(), text.begin() + offset, '\n'));
}

// Sections and their time lines, reserved for the densest a large file usually is.
SectionLister::SectionLister(std::string_view text, size_t from)
    : text_(text),
      from_(from),
      sections_((text.size() - std::min(from, text.size())) / 128),
      options_((text.size() - std::min(from, text.size())) / 128) {}

void SectionLister::Run(const std::atomic<bool>& stop) noexcept {
    try {
        List(stop);
    } catch (...) {
        exception_ = std::current_exception();
    }
}

void SectionLister::List(const std::atomic<bool>& stop) {
    LineReader reader(text_.substr(from_));
    ValueReader values(reader, &error_);
    std::string_view line;
    size_t bodyEnd = 0;  // within the part
    auto close = [&]() {
        if (!sections_.empty()) sections_.back().end = Place(from_ + bodyEnd);
        bodyEnd_ = from_ + bodyEnd;
    };
    auto fail = [&]() {
        close();
        failed_ = true;
        // Counted only now: the part's lines were numbered from its own start.
        error_.line += LineNumberAt(text_, from_) - 1;
    };
    uint32_t lines = 0;
    for (;;) {
        // The loading thread stops this one when its own part failed.
        if ((++lines & 0xFFF) == 0 && stop.load(std::memory_order_relaxed)) return;
        if (!sections_.empty() && reader.SkipPlainValue()) {
            bodyEnd = reader.Position();
            continue;
        }
        if (!reader.Next(line)) break;
        size_t first;
        char c = FirstChar(line, &first);
        if (c == 0) continue;
        if (c == '[') {
            close();
            sections_.push_back({Place(from_ + reader.LineStart()),
                                 Place(from_ + reader.Position()), 0, Place(options_.size())});
        } else if (sections_.empty() && c != '#' && c != ';') {
            // Never so from a split point, which is a key line; kept as the reader has it.
            error_ = {reader.Number(), "text before the first key"};
            return fail();
        } else if (c == '"' || c == '@') {
            if (!values.Read(line.substr(first), nullptr)) return fail();
        } else if (c == '#') {
            options_.push_back(Place(from_ + reader.LineStart()));
        } else if (c != ';') {
            error_ = {reader.Number(), "unrecognised line"};
            return fail();
        }
        bodyEnd = reader.Position();
    }
    close();
}

bool SectionLister::Failed(HiveParseError* error) const {
    if (failed_ && error) *error = error_;
    return failed_;
}

}  // namespace hivewise
