#include "scan/scanners/shell_item_list.h"

#include <array>
#include <cstdint>

#include "platform/machine/text.h"

namespace hivewise {
namespace {

// CLSID of My Computer, {20D04FE0-3AEA-1069-A2D8-08002B30309D}, in its stored byte order.
constexpr std::array<uint8_t, 16> kMyComputer = {0xE0, 0x4F, 0xD0, 0x20, 0xEA, 0x3A, 0x69, 0x10,
                                                 0xA2, 0xD8, 0x08, 0x00, 0x2B, 0x30, 0x30, 0x9D};
constexpr uint8_t kRootFolder = 0x1F;
constexpr uint8_t kTypeMask = 0x70;
constexpr uint8_t kVolume = 0x20;
constexpr uint8_t kFileEntry = 0x30;
constexpr uint8_t kFileEntryUnicode = 0x04;
// The file entry's fixed part: size, type, unknown byte, file size, time, attributes.
constexpr size_t kFileEntryNameOffset = 14;
// The extension block that keeps a file entry's long name.
constexpr uint32_t kFileEntryExtension = 0xBEEF0004;

uint16_t Get16(std::string_view data, size_t at) {
    return static_cast<uint16_t>(static_cast<uint8_t>(data[at]) |
                                 (static_cast<uint8_t>(data[at + 1]) << 8));
}

uint32_t Get32(std::string_view data, size_t at) {
    return static_cast<uint32_t>(Get16(data, at)) |
           (static_cast<uint32_t>(Get16(data, at + 2)) << 16);
}

// An ANSI text ending at the first zero byte before `end`; false without a terminator.
bool AnsiText(std::string_view data, size_t at, size_t end, std::string* text, size_t* after) {
    for (size_t i = at; i < end; ++i) {
        if (data[i] == '\0') {
            *text = std::string(data.substr(at, i - at));
            *after = i + 1;
            return true;
        }
    }
    return false;
}

// A UTF-16LE text ending at the first zero unit before `end`, in ANSI.
bool WideText(std::string_view data, size_t at, size_t end, std::string* text, size_t* after) {
    std::u16string wide;
    for (size_t i = at; i + 1 < end; i += 2) {
        char16_t c = static_cast<char16_t>(Get16(data, i));
        if (c == 0) {
            *text = Utf16ToAnsi(wide);
            *after = i + 2;
            return true;
        }
        wide.push_back(c);
    }
    return false;
}

// Offset of the long name in the extension block, by the block's version.
size_t LongNameOffset(uint16_t version) {
    if (version >= 9) return 46;
    if (version == 8) return 42;
    if (version == 7) return 38;
    return 20;
}

// The long name kept in a file entry's extension block, if any. The block is found by
// its signature rather than after the primary name, which some writers leave unended.
bool LongName(std::string_view item, std::string* name) {
    for (size_t at = kFileEntryNameOffset; at + 8 <= item.size(); ++at) {
        if (Get32(item, at + 4) != kFileEntryExtension) continue;
        size_t size = Get16(item, at);
        uint16_t version = Get16(item, at + 2);
        if (version < 3 || size < 8 || size > item.size() - at) continue;
        std::string_view block = item.substr(at, size);
        size_t after = 0;
        if (WideText(block, LongNameOffset(version), block.size(), name, &after) &&
            !name->empty()) {
            return true;
        }
    }
    return false;
}

// The name of a file entry item: its long name, else its primary (often 8.3) name.
bool FileEntryName(std::string_view item, std::string* name) {
    if (item.size() <= kFileEntryNameOffset) return false;
    if (!LongName(item, name)) {
        bool unicode = (static_cast<uint8_t>(item[2]) & kFileEntryUnicode) != 0;
        size_t after = 0;
        bool read = unicode ? WideText(item, kFileEntryNameOffset, item.size(), name, &after)
                            : AnsiText(item, kFileEntryNameOffset, item.size(), name, &after);
        if (!read) return false;
    }
    return !name->empty() && name->find('\\') == std::string::npos;
}

// "C:\" as a volume item keeps it.
bool VolumeName(std::string_view item, std::string* root) {
    std::string name;
    size_t after = 0;
    if (!AnsiText(item, 3, item.size(), &name, &after)) return false;
    char d = name.size() == 3 ? name[0] : '\0';
    bool letter = (d >= 'A' && d <= 'Z') || (d >= 'a' && d <= 'z');
    if (!letter || name[1] != ':' || name[2] != '\\') return false;
    *root = std::move(name);
    return true;
}

}  // namespace

std::string ItemListPath(std::string_view items) {
    std::string path;
    bool haveVolume = false;
    bool first = true;
    size_t at = 0;
    while (at + 2 <= items.size()) {
        size_t size = Get16(items, at);
        if (size == 0) return haveVolume ? path : std::string();
        if (size < 3 || size > items.size() - at) return {};
        std::string_view item = items.substr(at, size);
        uint8_t type = static_cast<uint8_t>(item[2]);
        at += size;
        if (first && type == kRootFolder) {
            first = false;
            if (item.size() < 4 + kMyComputer.size()) return {};
            for (size_t i = 0; i < kMyComputer.size(); ++i) {
                if (static_cast<uint8_t>(item[4 + i]) != kMyComputer[i]) return {};
            }
            continue;
        }
        first = false;
        if (!haveVolume) {
            if ((type & kTypeMask) != kVolume || !VolumeName(item, &path)) return {};
            haveVolume = true;
            continue;
        }
        std::string name;
        if ((type & kTypeMask) != kFileEntry || !FileEntryName(item, &name)) return {};
        if (path.back() != '\\') path += '\\';
        path += name;
    }
    // The list ends with a zero size; without it the data is cut short.
    return {};
}

}  // namespace hivewise
