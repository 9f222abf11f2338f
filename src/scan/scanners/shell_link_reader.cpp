#include "scan/scanners/shell_link_reader.h"

#include <fcntl.h>
#include <liblnk.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "platform/files/atomic_file.h"
#include "platform/machine/text.h"
#include "scan/scanners/shell_item_list.h"

namespace hivewise {
namespace {

// A liblnk file object, closed and freed whatever way the parse ends.
struct LinkFile {
    liblnk_file_t* file = nullptr;
    bool open = false;
    ~LinkFile() {
        if (open) liblnk_file_close(file, nullptr);
        if (file) liblnk_file_free(&file, nullptr);
    }
};

using Utf8Getter = int (*)(liblnk_file_t*, uint8_t*, size_t, liblnk_error_t**);
using SizeGetter = int (*)(liblnk_file_t*, size_t*, liblnk_error_t**);

// One of the shortcut's texts in ANSI; empty when it has none or it cannot be read.
std::string Text(liblnk_file_t* file, SizeGetter size, Utf8Getter get) {
    size_t bytes = 0;
    if (size(file, &bytes, nullptr) != 1 || bytes == 0) return {};
    std::vector<uint8_t> utf8(bytes + 1, 0);
    if (get(file, utf8.data(), utf8.size(), nullptr) != 1) return {};
    std::string_view text(reinterpret_cast<const char*>(utf8.data()));
    return Utf16ToAnsi(Utf8ToUtf16(text));
}

std::string ItemList(liblnk_file_t* file) {
    size_t bytes = 0;
    if (liblnk_file_get_link_target_identifier_data_size(file, &bytes, nullptr) != 1 ||
        bytes == 0) {
        return {};
    }
    std::string data(bytes, '\0');
    if (liblnk_file_copy_link_target_identifier_data(file, reinterpret_cast<uint8_t*>(data.data()),
                                                     data.size(), nullptr) != 1) {
        return {};
    }
    return ItemListPath(data);
}

uint32_t LittleEndian(const unsigned char* bytes, size_t width) {
    uint32_t value = 0;
    for (size_t i = width; i-- > 0;)
        value = value << 8 | bytes[i];
    return value;
}

// liblnk reads the texts of a location block (volume label, local path, network name and
// device, path suffix) from the offsets the block gives, without checking that a text
// ends inside the block: a crafted block makes it copy from past the end of its memory.
// A text that does not end inside the block is refused here. Offsets of 0 name no text.
bool LocationTextsEnd(std::string_view block) {
    const uint64_t end = block.size();
    auto field = [&](uint64_t at, uint32_t* value) {
        if (at + 4 > end) return false;
        *value = LittleEndian(reinterpret_cast<const unsigned char*>(block.data() + at), 4);
        return true;
    };
    auto narrowEnds = [&](uint64_t from) {
        return from < end && std::memchr(block.data() + from, 0, end - from) != nullptr;
    };
    auto wideEnds = [&](uint64_t from) {
        for (uint64_t i = from; i + 1 < end; i += 2) {
            if (block[i] == 0 && block[i + 1] == 0) return true;
        }
        return false;
    };
    // A text at `base + offset`, named by the field at `at`, where the field is not 0.
    auto textAt = [&](uint64_t base, uint64_t at, bool wide) {
        uint32_t offset = 0;
        if (!field(at, &offset)) return false;
        return offset == 0 || (wide ? wideEnds(base + offset) : narrowEnds(base + offset));
    };
    constexpr uint32_t kVolumeAndLocalPath = 0x1, kNetworkAndSuffix = 0x2, kValidDevice = 0x1;
    uint32_t headerSize = 0, flags = 0;
    if (!field(4, &headerSize) || !field(8, &flags)) return false;
    const bool wideOffsets = headerSize >= 0x24;
    if (flags & kVolumeAndLocalPath) {
        uint32_t volumeAt = 0, labelOffset = 0;
        if (!field(12, &volumeAt) || !field(volumeAt + uint64_t{12}, &labelOffset)) return false;
        if (!textAt(volumeAt, volumeAt + uint64_t{12}, false)) return false;
        if (labelOffset == 0x14 && !textAt(volumeAt, volumeAt + uint64_t{16}, true)) return false;
        if (!textAt(0, 16, false) || (wideOffsets && !textAt(0, 28, true))) return false;
    }
    if (flags & kNetworkAndSuffix) {
        uint32_t networkAt = 0, networkFlags = 0, nameOffset = 0;
        if (!field(20, &networkAt) || !field(networkAt + uint64_t{4}, &networkFlags) ||
            !field(networkAt + uint64_t{8}, &nameOffset)) {
            return false;
        }
        const bool device = networkFlags & kValidDevice;
        if (!textAt(networkAt, networkAt + uint64_t{8}, false) ||
            (device && !textAt(networkAt, networkAt + uint64_t{12}, false))) {
            return false;
        }
        if (nameOffset > 0x14 && (!textAt(networkAt, networkAt + uint64_t{20}, true) ||
                                  (device && !textAt(networkAt, networkAt + uint64_t{24}, true)))) {
            return false;
        }
        if (!textAt(0, 24, false) || (wideOffsets && !textAt(0, 32, true))) return false;
    }
    return true;
}

// liblnk also allocates as much as a shortcut's location block claims (up to 4 GiB) before
// it reads the block and fails on the short read. A claim beyond the end of the file is
// refused here instead, with the same result and without the allocation.
bool LocationBlockFits(std::string_view bytes) {
    constexpr uint32_t kHeaderSize = 0x4C;
    constexpr uint32_t kHasItemList = 0x1, kHasLocation = 0x2;
    auto read = [&](uint64_t at, size_t width, uint32_t* value) {
        if (at + width > bytes.size()) return false;
        *value = LittleEndian(reinterpret_cast<const unsigned char*>(bytes.data() + at), width);
        return true;
    };
    uint32_t value = 0, flags = 0;
    // Anything else about the header is liblnk's to judge.
    if (!read(0, 4, &value) || value != kHeaderSize || !read(20, 4, &flags)) return true;
    uint64_t at = kHeaderSize;
    if (flags & kHasItemList) {
        if (!read(at, 2, &value)) return true;
        at += 2 + value;
    }
    if (!(flags & kHasLocation) || !read(at, 4, &value)) return true;
    if (value > bytes.size() - at) return false;
    return LocationTextsEnd(bytes.substr(at, value));
}

// Parses the shortcut open at `fd`. liblnk reads through its own file layer, which stops
// at the end of the file (its memory layer does not); /proc names the very file checked.
bool ParseOpenFile(int fd, const std::filesystem::path& fallback, ShellLinkInfo* info) {
    LinkFile link;
    if (liblnk_file_initialize(&link.file, nullptr) != 1 ||
        liblnk_file_set_ascii_codepage(link.file, LIBLNK_CODEPAGE_WINDOWS_1252, nullptr) != 1) {
        return false;
    }
    static const bool haveProc = ::access("/proc/self/fd", F_OK) == 0;
    if (!haveProc && fallback.empty()) return false;
    std::string self = "/proc/self/fd/" + std::to_string(fd);
    const char* name = haveProc ? self.c_str() : fallback.c_str();
    if (liblnk_file_open(link.file, name, LIBLNK_OPEN_READ, nullptr) != 1) return false;
    link.open = true;
    info->localPath =
        Text(link.file, liblnk_file_get_utf8_local_path_size, liblnk_file_get_utf8_local_path);
    info->environmentLocation =
        Text(link.file, liblnk_file_get_utf8_environment_variables_location_size,
             liblnk_file_get_utf8_environment_variables_location);
    info->itemListPath = ItemList(link.file);
    info->description =
        Text(link.file, liblnk_file_get_utf8_description_size, liblnk_file_get_utf8_description);
    return true;
}

}  // namespace

bool ParseShellLink(std::string_view bytes, ShellLinkInfo* info) {
    *info = {};
    if (bytes.empty() || bytes.size() > kMaxShellLinkFileSize || !LocationBlockFits(bytes)) {
        return false;
    }
    int fd = ::memfd_create("shortcut", MFD_CLOEXEC);
    if (fd < 0) return false;
    size_t written = 0;
    while (written < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        written += static_cast<size_t>(n);
    }
    bool parsed = written == bytes.size() && ParseOpenFile(fd, {}, info);
    ::close(fd);
    return parsed;
}

bool ReadShellLinkFile(const std::filesystem::path& hostPath, ShellLinkInfo* info) {
    *info = {};
    // Not blocking on open: a pipe or device named like a shortcut must not hang the scan.
    int fd = ::open(hostPath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return false;
    struct stat st {};
    std::string bytes;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0 ||
        static_cast<uint64_t>(st.st_size) > kMaxShellLinkFileSize ||
        !ReadAll(fd, &bytes, kMaxShellLinkFileSize) || !LocationBlockFits(bytes)) {
        ::close(fd);
        return false;
    }
    bool parsed = ParseOpenFile(fd, hostPath, info);
    ::close(fd);
    if (!parsed) *info = {};
    return parsed;
}

}  // namespace hivewise
