#include "tools/pe_resources.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace hivewise {

bool MemoryByteSource::ReadAt(uint64_t offset, void* out, size_t length) const {
    if (offset > bytes_.size() || length > bytes_.size() - offset) return false;
    if (length != 0) std::memcpy(out, bytes_.data() + offset, length);
    return true;
}

std::unique_ptr<FileByteSource> FileByteSource::Open(const std::filesystem::path& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return nullptr;
    struct stat st {};
    // Only regular files: a FIFO or a device could block or never end.
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return nullptr;
    }
    return std::unique_ptr<FileByteSource>(
        new FileByteSource(fd, static_cast<uint64_t>(st.st_size)));
}

FileByteSource::~FileByteSource() {
    ::close(fd_);
}

bool FileByteSource::ReadAt(uint64_t offset, void* out, size_t length) const {
    if (offset > size_ || length > size_ - offset) return false;
    auto* dst = static_cast<char*>(out);
    while (length > 0) {
        ssize_t got = ::pread(fd_, dst, length, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR) continue;
        // A file that shrank since it was opened ends the read as a failure.
        if (got <= 0) return false;
        dst += got;
        offset += static_cast<uint64_t>(got);
        length -= static_cast<size_t>(got);
    }
    return true;
}

namespace {

constexpr uint32_t kHighBit = 0x80000000u;
constexpr uint32_t kMaxSections = 65535;

uint16_t Le16(const unsigned char* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t Le32(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

bool Read16(const ByteSource& src, uint64_t offset, uint16_t& value) {
    unsigned char b[2];
    if (!src.ReadAt(offset, b, sizeof b)) return false;
    value = Le16(b);
    return true;
}
bool Read32(const ByteSource& src, uint64_t offset, uint32_t& value) {
    unsigned char b[4];
    if (!src.ReadAt(offset, b, sizeof b)) return false;
    value = Le32(b);
    return true;
}

struct Section {
    uint32_t virtualAddress;
    uint32_t virtualSize;
    uint32_t rawSize;
    uint32_t rawPointer;
};

struct DirEntry {
    uint32_t name;
    uint32_t target;
};

class PeImage {
  public:
    explicit PeImage(const ByteSource& src) : src_(src) {}

    bool ParseHeaders() {
        unsigned char mz[2];
        if (!src_.ReadAt(0, mz, 2) || mz[0] != 'M' || mz[1] != 'Z') return false;
        uint32_t peOffset = 0;
        if (!Read32(src_, 0x3C, peOffset)) return false;
        unsigned char sig[4];
        if (!src_.ReadAt(peOffset, sig, 4) || std::memcmp(sig, "PE\0\0", 4) != 0) return false;
        const uint64_t coff = uint64_t{peOffset} + 4;
        uint16_t sectionCount = 0, optionalSize = 0, magic = 0;
        if (!Read16(src_, coff + 2, sectionCount) || !Read16(src_, coff + 16, optionalSize)) {
            return false;
        }
        const uint64_t optional = coff + 20;
        if (!Read16(src_, optional, magic)) return false;
        uint64_t countField = 0, directories = 0;
        if (magic == 0x10B) {  // PE32
            countField = 92;
            directories = 96;
        } else if (magic == 0x20B) {  // PE32+
            countField = 108;
            directories = 112;
        } else {
            return false;
        }
        constexpr uint64_t kResourceDirectory = 2;
        uint32_t directoryCount = 0;
        const uint64_t resourceEntry = directories + kResourceDirectory * 8;
        if (resourceEntry + 8 > optionalSize) return false;
        if (!Read32(src_, optional + countField, directoryCount) ||
            directoryCount <= kResourceDirectory) {
            return false;
        }
        if (!Read32(src_, optional + resourceEntry, resourceRva_) || resourceRva_ == 0) {
            return false;
        }

        if (sectionCount == 0 || sectionCount > kMaxSections) return false;
        std::vector<unsigned char> table(size_t{sectionCount} * 40);
        if (!src_.ReadAt(optional + optionalSize, table.data(), table.size())) return false;
        sections_.reserve(sectionCount);
        for (size_t i = 0; i < sectionCount; ++i) {
            const unsigned char* s = table.data() + i * 40;
            sections_.push_back({Le32(s + 12), Le32(s + 8), Le32(s + 16), Le32(s + 20)});
        }
        return true;
    }

    // The file offset of the bytes at `rva` and how many of up to `wanted` of them the
    // file holds contiguously; nothing when fewer than `needed` are there.
    std::optional<std::pair<uint64_t, uint64_t>> Locate(uint64_t rva, uint64_t wanted,
                                                        uint64_t needed) const {
        for (const Section& s : sections_) {
            const uint64_t extent = std::max(s.virtualSize, s.rawSize);
            if (rva < s.virtualAddress || rva - s.virtualAddress >= extent) continue;
            const uint64_t delta = rva - s.virtualAddress;
            // Past the raw data the loader supplies zeros; nothing there is worth reading.
            if (delta >= s.rawSize) return std::nullopt;
            const uint64_t offset = uint64_t{s.rawPointer} + delta;
            if (offset >= src_.Size()) return std::nullopt;
            const uint64_t available = std::min<uint64_t>(s.rawSize - delta, src_.Size() - offset);
            if (available < needed) return std::nullopt;
            return std::make_pair(offset, std::min(available, wanted));
        }
        return std::nullopt;
    }

    bool ReadRva(uint64_t rva, void* out, size_t length) const {
        auto where = Locate(rva, length, length);
        return where && src_.ReadAt(where->first, out, length);
    }

    // The entries of the resource directory at `offset` within the resource section.
    bool ReadDirectory(uint32_t offset, std::vector<DirEntry>& entries) const {
        const uint64_t rva = uint64_t{resourceRva_} + offset;
        unsigned char header[16];
        if (!ReadRva(rva, header, sizeof header)) return false;
        const size_t count = size_t{Le16(header + 12)} + Le16(header + 14);
        std::vector<unsigned char> raw(count * 8);
        if (count != 0 && !ReadRva(rva + 16, raw.data(), raw.size())) return false;
        entries.clear();
        entries.reserve(count);
        for (size_t i = 0; i < count; ++i) {
            entries.push_back({Le32(raw.data() + i * 8), Le32(raw.data() + i * 8 + 4)});
        }
        return true;
    }

    std::optional<std::string> Find(uint16_t type, uint16_t id, uint16_t userLanguage,
                                    size_t maxSize) const {
        // Three levels (type, name, language), walked exactly once each: a directory that
        // points back at itself ends as a malformed tree, never as a loop.
        std::vector<DirEntry> entries;
        if (!ReadDirectory(0, entries)) return std::nullopt;
        const DirEntry* typeEntry = FindId(entries, type);
        if (!typeEntry || !(typeEntry->target & kHighBit)) return std::nullopt;

        if (!ReadDirectory(typeEntry->target & ~kHighBit, entries)) return std::nullopt;
        const DirEntry* nameEntry = FindId(entries, id);
        if (!nameEntry && !entries.empty()) nameEntry = &entries.front();
        if (!nameEntry || !(nameEntry->target & kHighBit)) return std::nullopt;

        if (!ReadDirectory(nameEntry->target & ~kHighBit, entries)) return std::nullopt;
        const uint16_t primary = userLanguage & 0x3FF;
        const DirEntry* languageEntry = nullptr;
        for (uint16_t language :
             {uint16_t{0}, userLanguage, primary, uint16_t{0x0409}, uint16_t{0x0009}}) {
            if ((languageEntry = FindId(entries, language))) break;
        }
        if (!languageEntry && !entries.empty()) languageEntry = &entries.front();
        if (!languageEntry || (languageEntry->target & kHighBit)) return std::nullopt;

        unsigned char data[16];
        if (!ReadRva(uint64_t{resourceRva_} + languageEntry->target, data, sizeof data)) {
            return std::nullopt;
        }
        const uint32_t dataRva = Le32(data);
        const uint32_t dataSize = Le32(data + 4);
        if (dataSize == 0 || maxSize == 0) return std::nullopt;
        // The whole stated size must be in the file, even when less of it is wanted.
        auto where = Locate(dataRva, std::min<uint64_t>(dataSize, maxSize), dataSize);
        if (!where) return std::nullopt;
        std::string bytes(static_cast<size_t>(where->second), '\0');
        if (!src_.ReadAt(where->first, bytes.data(), bytes.size())) return std::nullopt;
        return bytes;
    }

  private:
    static const DirEntry* FindId(const std::vector<DirEntry>& entries, uint32_t id) {
        for (const DirEntry& e : entries) {
            if (e.name == id) return &e;  // named entries have the high bit set
        }
        return nullptr;
    }

    const ByteSource& src_;
    std::vector<Section> sections_;
    uint32_t resourceRva_ = 0;
};

}  // namespace

std::optional<std::string> FindResourceData(const ByteSource& image, uint16_t type, uint16_t id,
                                            uint16_t userLanguage, size_t maxSize) {
    PeImage pe(image);
    if (!pe.ParseHeaders()) return std::nullopt;
    return pe.Find(type, id, userLanguage, maxSize);
}

std::optional<std::string> FindVersionResource(const ByteSource& image, uint16_t userLanguage) {
    return FindResourceData(image, kResourceTypeVersion, kVersionResourceId, userLanguage, 0x10000);
}

}  // namespace hivewise
