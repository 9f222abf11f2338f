#pragma once

#include <string>
#include <string_view>

#include "platform/machine/text.h"

// Registry data searched without regard to case and shown as the registry stores it:
// every edit is made to the text and, at the same place, to its lower-case twin (ANSI
// lower case keeps each character in place).
namespace hivewise {

class CasedText {
  public:
    explicit CasedText(std::string text) : text_(std::move(text)), lower_(AnsiLower(text_)) {}

    const std::string& Text() const { return text_; }
    // What searches look in; patterns are written in lower case.
    const std::string& Lower() const { return lower_; }
    size_t size() const { return text_.size(); }
    bool empty() const { return text_.empty(); }

    void Replace(size_t at, size_t count, std::string_view with) {
        text_.replace(at, count, with);
        lower_.replace(at, count, AnsiLower(with));
    }
    // Every occurrence of `fromLower`; `to()` is asked only when there is one.
    template <typename To>
    void ReplaceAllWith(std::string_view fromLower, To&& to) {
        size_t at = lower_.find(fromLower);
        if (fromLower.empty() || at == std::string::npos) return;
        const std::string with = to();
        for (; at != std::string::npos; at = lower_.find(fromLower, at + with.size()))
            Replace(at, fromLower.size(), with);
    }
    void Erase(size_t at, size_t count = std::string::npos) { Replace(at, count, {}); }
    void Resize(size_t size) {
        text_.resize(size);
        lower_.resize(size);
    }
    void Insert(size_t at, std::string_view text) { Replace(at, 0, text); }
    void Append(std::string_view text) { Replace(text_.size(), 0, text); }

  private:
    std::string text_;
    std::string lower_;
};

}  // namespace hivewise
