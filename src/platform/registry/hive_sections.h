#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <string_view>

#include "platform/registry/hive_file.h"
#include "platform/registry/mapped_memory.h"

// A large registry file is read on two threads: while the loading thread reads the first
// part into keys, another lists and checks the sections of the rest, which the loading
// thread then turns into keys without reading their values' lines again. Only
// platform/registry uses it; the listing thread reads the text and nothing else.
namespace hivewise {

// The loading thread's share of a file read on two. Reading a part line by line costs
// about as much as listing it, and turning the listed part into keys afterwards little
// beside either now that keys' memory is made ahead: halves leave neither thread waiting
// long (the load of 1M values is 5% faster than with 0.4).
constexpr double kFirstPartShare = 0.5;

// Where the listed part of `text` starts: the start of a key line ('[' first on it) at
// about `share` of the way in, whose line before does not continue onto it. No such line
// (or too small a file to gain from it) gives npos.
size_t SplitPointOf(std::string_view text, double share);

// A place in a file being read, which ReadHive has bounded to kMaxHiveBytes.
inline uint32_t Place(size_t at) {
    return static_cast<uint32_t>(at);
}

// One section of the listed part, as the file holds it. Places in the file fit 32 bits,
// as ReadHive bounds files to kMaxHiveBytes.
struct ListedSection {
    uint32_t start;        // the key line's start
    uint32_t body;         // where the lines after the key line start
    uint32_t end;          // end of its last line that is not blank
    uint32_t firstOption;  // its option lines ('#') in ListedSections::options from here
};

// Lists the sections from `from` (a split point) to the end, checking every line as the
// file's reader does, up to the first fault.
class SectionLister {
  public:
    SectionLister(std::string_view text, size_t from);

    // Runs to the end, to the first fault or until `stop` is set; exceptions are kept
    // for the loading thread (Rethrow).
    void Run(const std::atomic<bool>& stop) noexcept;

    const MappedArray<ListedSection>& Sections() const { return sections_; }
    // Starts of the option lines, in file order.
    const MappedArray<uint32_t>& Options() const { return options_; }
    // The first fault, its line counted from the start of the file, or false.
    bool Failed(HiveParseError* error) const;
    // End of the last line that is not blank (where the file's trailer starts).
    size_t BodyEnd() const { return bodyEnd_; }
    void Rethrow() const {
        if (exception_) std::rethrow_exception(exception_);
    }

  private:
    void List(const std::atomic<bool>& stop);

    std::string_view text_;
    size_t from_;
    MappedArray<ListedSection> sections_;
    MappedArray<uint32_t> options_;
    size_t bodyEnd_ = 0;
    bool failed_ = false;
    HiveParseError error_;
    std::exception_ptr exception_;
};

// The number of the line that starts at `offset` of `text` (1 for the first).
int LineNumberAt(std::string_view text, size_t offset);

}  // namespace hivewise
