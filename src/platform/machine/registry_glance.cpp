#include "platform/machine/registry_glance.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <string_view>
#include <system_error>

#include "platform/machine/text.h"
#include "platform/registry/hive_file.h"

namespace hivewise {
namespace {

namespace fs = std::filesystem;

// The sections the version facts come from, as the file writes their names.
constexpr std::array<std::string_view, 2> kWantedSections = {
    "Software\\\\Microsoft\\\\Windows NT\\\\CurrentVersion",
    "Software\\\\Microsoft\\\\Windows\\\\CurrentVersion",
};

// What a glance holds at most: the header, and each wanted section. Those keys hold a few
// dozen values; one larger than this is no version key.
constexpr size_t kMaxHeader = 64u << 10;
constexpr size_t kMaxSection = 1u << 20;
// Read in pieces of this size; the seek narrows to one piece before reading on.
constexpr size_t kChunk = 64u << 10;

// A line that opens a section, and its name: "[Name] 1699999999" up to its closing
// bracket (the rest of the line when there is none).
std::optional<std::string_view> SectionName(std::string_view line) {
    if (line.empty() || line[0] != '[') return std::nullopt;
    size_t close = line.find(']');
    return line.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1);
}

// The order the server writes keys in: depth first, the sub-keys of a key by their names
// compared upper-cased. Names with escapes may be misplaced here; a seek then misses and
// the file is read through instead.
int CompareKeyPaths(std::string_view a, std::string_view b) {
    constexpr std::string_view kSeparator = "\\\\";
    while (true) {
        size_t aEnd = a.find(kSeparator), bEnd = b.find(kSeparator);
        std::string_view aPart = a.substr(0, aEnd), bPart = b.substr(0, bEnd);
        for (size_t i = 0; i < aPart.size() && i < bPart.size(); ++i) {
            auto upper = [](char c) {
                return c >= 'a' && c <= 'z' ? static_cast<unsigned char>(c - 32)
                                            : static_cast<unsigned char>(c);
            };
            if (upper(aPart[i]) != upper(bPart[i]))
                return upper(aPart[i]) < upper(bPart[i]) ? -1 : 1;
        }
        if (aPart.size() != bPart.size()) return aPart.size() < bPart.size() ? -1 : 1;
        bool aMore = aEnd != std::string_view::npos, bMore = bEnd != std::string_view::npos;
        if (!aMore || !bMore) return aMore == bMore ? 0 : (aMore ? 1 : -1);
        a.remove_prefix(aEnd + kSeparator.size());
        b.remove_prefix(bEnd + kSeparator.size());
    }
}

// Reads a registry file's lines from any offset, a piece at a time.
class LineReader {
  public:
    explicit LineReader(int fd) : fd_(fd) {}

    // Moves to `offset`; with `skipPartial`, on to the start of the next whole line.
    bool Seek(uint64_t offset, bool skipPartial) {
        buffer_.clear();
        at_ = 0;
        base_ = offset;
        eof_ = false;
        if (!skipPartial || offset == 0) return true;
        base_ = offset - 1;  // a line starts here when the byte before is a line break
        std::string_view line;
        return Next(&line, nullptr);
    }

    // The next line without its break, and the offset it starts at; false at the end,
    // on an error, or for a line longer than the section limit.
    bool Next(std::string_view* line, uint64_t* start) {
        while (true) {
            size_t end = buffer_.find('\n', at_);
            if (end != std::string::npos || (eof_ && at_ < buffer_.size())) {
                if (end == std::string::npos) end = buffer_.size();
                if (start) *start = base_ + at_;
                *line = std::string_view(buffer_).substr(at_, end - at_);
                at_ = end + 1;
                return true;
            }
            if (eof_ || buffer_.size() - at_ > kMaxSection) return false;
            base_ += at_;
            buffer_.erase(0, at_);
            at_ = 0;
            size_t had = buffer_.size();
            buffer_.resize(had + kChunk);
            ssize_t got =
                ::pread(fd_, buffer_.data() + had, kChunk, static_cast<off_t>(base_ + had));
            if (got < 0) return false;
            buffer_.resize(had + static_cast<size_t>(got));
            eof_ = got == 0;
        }
    }

  private:
    int fd_;
    std::string buffer_;
    size_t at_ = 0;
    uint64_t base_ = 0;  // file offset of buffer_[0]
    bool eof_ = false;
};

// The first section at or after `offset` (and before `limit`): its start and name.
struct SectionStart {
    uint64_t offset = 0;
    std::string name;
};
std::optional<SectionStart> NextSection(LineReader& reader, uint64_t offset, uint64_t limit) {
    if (!reader.Seek(offset, true)) return std::nullopt;
    std::string_view line;
    uint64_t start = 0;
    while (reader.Next(&line, &start) && start < limit) {
        if (auto name = SectionName(line)) return SectionStart{start, std::string(*name)};
    }
    return std::nullopt;
}

// Appends the section that starts at the reader's next line (its name line included) up
// to the next section; false when it is larger than a version key can be.
bool TakeSection(LineReader& reader, std::string_view nameLine, std::string* out) {
    *out += "\n";
    out->append(nameLine);
    *out += '\n';
    size_t taken = 0;
    std::string_view line;
    while (reader.Next(&line, nullptr) && !SectionName(line)) {
        taken += line.size() + 1;
        if (taken > kMaxSection) return false;
        out->append(line);
        *out += '\n';
    }
    return true;
}

enum class Found { kYes, kNo, kTooLarge };

// Finds a wanted section by halving the part of the file it can be in (the server writes
// sections in order), then reads on from there to it; appends it to `out`.
Found SeekSection(LineReader& reader, uint64_t from, uint64_t size, std::string_view wanted,
                  std::string* out) {
    uint64_t lo = from, hi = size;
    while (hi - lo > kChunk) {
        uint64_t mid = lo + (hi - lo) / 2;
        auto section = NextSection(reader, mid, hi);
        if (!section) {
            hi = mid;
        } else if (CompareKeyPaths(section->name, wanted) < 0) {
            lo = section->offset + 1;
        } else {
            hi = mid;
        }
    }
    if (!reader.Seek(lo, true)) return Found::kNo;
    std::string_view line;
    while (reader.Next(&line, nullptr)) {
        auto name = SectionName(line);
        if (!name) continue;
        if (AnsiEqualsNoCase(*name, wanted))
            return TakeSection(reader, line, out) ? Found::kYes : Found::kTooLarge;
        if (CompareKeyPaths(*name, wanted) > 0) break;
    }
    return Found::kNo;
}

// Reads the whole file for the wanted sections, for a file not in the server's order.
bool ScanSections(LineReader& reader, uint64_t from, std::string* out) {
    if (!reader.Seek(from, true)) return false;
    std::string_view line;
    std::array<bool, kWantedSections.size()> taken{};
    size_t found = 0;
    bool pending = reader.Next(&line, nullptr);
    while (pending && found < kWantedSections.size()) {
        auto name = SectionName(line);
        size_t which = kWantedSections.size();
        for (size_t i = 0; name && i < kWantedSections.size(); ++i) {
            if (!taken[i] && AnsiEqualsNoCase(*name, kWantedSections[i])) which = i;
        }
        if (which == kWantedSections.size()) {
            pending = reader.Next(&line, nullptr);
            continue;
        }
        taken[which] = true;
        ++found;
        *out += "\n";
        out->append(line);
        *out += '\n';
        size_t size = 0;
        while ((pending = reader.Next(&line, nullptr)) && !SectionName(line)) {
            size += line.size() + 1;
            if (size > kMaxSection) return false;
            out->append(line);
            *out += '\n';
        }
    }
    return true;
}

}  // namespace

std::optional<VersionFacts> GlanceVersionFacts(const fs::path& systemReg) {
    int fd = ::open(systemReg.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    const auto size = static_cast<uint64_t>(st.st_size);

    // The file's header, then only the wanted sections: each runs from its "[" line to
    // the next line that opens a section. Only they are read, whatever the file's size.
    LineReader reader(fd);
    std::string small;
    std::string_view line;
    uint64_t start = size;
    reader.Seek(0, false);
    while (reader.Next(&line, &start)) {
        if (SectionName(line)) break;
        small.append(line);
        small += '\n';
        if (small.size() > kMaxHeader) return std::nullopt;
        start = size;
    }
    std::string sections;
    bool seeked = true;
    for (std::string_view wanted : kWantedSections) {
        Found found = SeekSection(reader, start, size, wanted, &sections);
        if (found == Found::kTooLarge) return std::nullopt;
        seeked = seeked && found == Found::kYes;
    }
    if (!seeked) {
        sections.clear();
        if (!ScanSections(reader, start, &sections)) return std::nullopt;
    }
    small += sections;

    HiveParseError error;
    std::unique_ptr<ParsedHive> hive = ParseHive(small, &error);
    if (!hive || !hive->base) return std::nullopt;
    return ReadVersionFacts(hive->store, hive->base, nullptr);
}

std::string DescribeWindows(const VersionFacts& facts) {
    std::string numbers = std::to_string(facts.major) + "." + std::to_string(facts.minor) + "." +
                          std::to_string(facts.build);
    if (facts.productName.empty()) {
        return (facts.isNt ? "Windows NT " : "Windows ") + numbers;
    }
    std::string text = facts.productName;
    if (!facts.servicePack.empty() &&
        facts.servicePack.find_first_not_of(' ') != std::string::npos) {
        text += " " + facts.servicePack;
    }
    return text + " (" + numbers + ")";
}

std::uintmax_t RegistryFilesSize(const fs::path& prefix) {
    std::uintmax_t total = 0;
    for (const char* name : {"system.reg", "user.reg", "userdef.reg"}) {
        std::error_code ec;
        std::uintmax_t size = fs::file_size(prefix / name, ec);
        if (!ec) total += size;
    }
    return total;
}

}  // namespace hivewise
