#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The names of a folder listing's entries, kept compact: a scan holds thousands of
// listings at once.
namespace hivewise::path_detail {

// Each entry's names back to back in one buffer: its host name (UTF-8), then its ANSI long
// name where that differs from the host name, then, where that ANSI name holds a '?' (which
// may stand for a character the code page lacks), its folded long name in UTF-16. Every
// other long name folds from its ANSI form, so it is hashed and compared folded as it is read.
class ListedNames {
  public:
    void Reserve(size_t entries, size_t hostBytes);
    // Adds an entry; `wide` is its host name in UTF-16.
    void Add(std::string_view hostName, std::u16string_view wide);
    // Gives back what the buffers hold beyond their size, once every entry is added.
    void Trim();

    size_t Size() const { return entries_.size(); }
    std::string_view Host(size_t k) const {
        const Entry& e = entries_[k];
        return {text_.data() + e.at, e.hostSize};
    }
    std::string_view Ansi(size_t k) const {
        const Entry& e = entries_[k];
        if (e.ansiSize == 0) return Host(k);
        return {text_.data() + e.at + e.hostSize, e.ansiSize};
    }

    // The long name without regard to case: its hash, and whether an ANSI name or another
    // entry's long name equals it so.
    size_t LongHash(size_t k) const;
    static size_t LongHashOf(std::string_view ansiName);
    bool LongIs(size_t k, std::string_view ansiName) const;
    bool SameLong(size_t a, size_t b) const;

  private:
    struct Entry {
        uint32_t at;        // the host name's first byte in `text_`
        uint16_t hostSize;  // a directory entry's name is shorter than 64 KiB
        uint16_t ansiSize;  // 0: the ANSI name is the host name
    };
    // Where the entry's folded long name is kept, or null when it folds from the ANSI name.
    const char* KeptFolded(size_t k) const;

    std::string text_;
    std::vector<Entry> entries_;
};

}  // namespace hivewise::path_detail
