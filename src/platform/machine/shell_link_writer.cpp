#include "platform/machine/shell_link_writer.h"

#include <array>
#include <string_view>

#include "platform/machine/text.h"

namespace hivewise {
namespace {

constexpr uint32_t kHeaderSize = 0x4C;
// CLSID_ShellLink, {00021401-0000-0000-C000-000000000046}, in its stored byte order.
constexpr std::array<uint8_t, 16> kLinkClsid = {0x01, 0x14, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                                0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};

constexpr uint32_t kHasLinkInfo = 0x02;
constexpr uint32_t kHasName = 0x04;
constexpr uint32_t kHasRelativePath = 0x08;
constexpr uint32_t kHasWorkingDir = 0x10;
constexpr uint32_t kHasArguments = 0x20;
constexpr uint32_t kHasIconLocation = 0x40;
constexpr uint32_t kIsUnicode = 0x80;

constexpr uint32_t kLinkInfoHeaderSize = 0x1C;
constexpr uint32_t kVolumeIdAndLocalBasePath = 0x01;
constexpr uint32_t kVolumeIdHeaderSize = 0x10;

constexpr size_t kMaxPath = 260;  // terminator included
constexpr size_t kMaxCount = 0xFFFF;

void Put16(std::string& out, uint16_t v) {
    out.push_back(static_cast<char>(v & 0xFF));
    out.push_back(static_cast<char>(v >> 8));
}
void Put32(std::string& out, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}
void Put64(std::string& out, uint64_t v) {
    Put32(out, static_cast<uint32_t>(v & 0xFFFFFFFFu));
    Put32(out, static_cast<uint32_t>(v >> 32));
}

bool IsDrivePath(std::string_view path) {
    if (path.size() < 3 || path[1] != ':' || path[2] != '\\') return false;
    char d = path[0];
    return (d >= 'A' && d <= 'Z') || (d >= 'a' && d <= 'z');
}

// One StringData entry: a 16-bit character count, then the characters without terminator.
void PutCountedString(std::string& out, std::string_view ansi, bool unicode) {
    if (unicode) {
        std::u16string wide = AnsiToUtf16(ansi);
        Put16(out, static_cast<uint16_t>(wide.size()));
        for (char16_t c : wide)
            Put16(out, static_cast<uint16_t>(c));
    } else {
        Put16(out, static_cast<uint16_t>(ansi.size()));
        out.append(ansi);
    }
}

std::string LinkInfo(const ShellLinkFields& shortcut) {
    const uint32_t volumeIdSize = kVolumeIdHeaderSize + 1;  // an empty label
    const uint32_t localBasePathOffset = kLinkInfoHeaderSize + volumeIdSize;
    const uint32_t suffixOffset =
        localBasePathOffset + static_cast<uint32_t>(shortcut.targetPath.size()) + 1;
    const uint32_t size = suffixOffset + 1;  // an empty common path suffix

    std::string out;
    Put32(out, size);
    Put32(out, kLinkInfoHeaderSize);
    Put32(out, kVolumeIdAndLocalBasePath);
    Put32(out, kLinkInfoHeaderSize);  // the volume follows the header
    Put32(out, localBasePathOffset);
    Put32(out, 0);  // no network location
    Put32(out, suffixOffset);

    Put32(out, volumeIdSize);
    Put32(out, shortcut.driveType);
    Put32(out, shortcut.driveSerial);
    Put32(out, kVolumeIdHeaderSize);  // the label follows the volume's fields
    out.push_back('\0');

    out.append(shortcut.targetPath);
    out.push_back('\0');
    out.push_back('\0');
    return out;
}

}  // namespace

std::string BuildShellLink(const ShellLinkFields& shortcut) {
    if (!IsDrivePath(shortcut.targetPath) || shortcut.targetPath.size() + 1 > kMaxPath) return {};
    const std::array<const std::string*, 6> texts = {
        &shortcut.targetPath,       &shortcut.description, &shortcut.relativePath,
        &shortcut.workingDirectory, &shortcut.arguments,   &shortcut.iconLocation};
    for (const std::string* text : texts) {
        if (text->find('\0') != std::string::npos || text->size() > kMaxCount) return {};
    }

    uint32_t flags = kHasLinkInfo;
    if (!shortcut.description.empty()) flags |= kHasName;
    if (!shortcut.relativePath.empty()) flags |= kHasRelativePath;
    if (!shortcut.workingDirectory.empty()) flags |= kHasWorkingDir;
    if (!shortcut.arguments.empty()) flags |= kHasArguments;
    if (!shortcut.iconLocation.empty()) flags |= kHasIconLocation;
    if (shortcut.unicodeStrings) flags |= kIsUnicode;

    std::string out;
    Put32(out, kHeaderSize);
    out.append(reinterpret_cast<const char*>(kLinkClsid.data()), kLinkClsid.size());
    Put32(out, flags);
    Put32(out, shortcut.fileAttributes);
    Put64(out, shortcut.fileTime);  // creation
    Put64(out, shortcut.fileTime);  // access
    Put64(out, shortcut.fileTime);  // write
    Put32(out, shortcut.fileSize);
    Put32(out, static_cast<uint32_t>(shortcut.iconIndex));
    Put32(out, shortcut.showCommand);
    Put16(out, 0);  // no hot key
    Put16(out, 0);
    Put32(out, 0);
    Put32(out, 0);

    out += LinkInfo(shortcut);

    // StringData in the format's fixed order.
    if (flags & kHasName) PutCountedString(out, shortcut.description, shortcut.unicodeStrings);
    if (flags & kHasRelativePath)
        PutCountedString(out, shortcut.relativePath, shortcut.unicodeStrings);
    if (flags & kHasWorkingDir)
        PutCountedString(out, shortcut.workingDirectory, shortcut.unicodeStrings);
    if (flags & kHasArguments) PutCountedString(out, shortcut.arguments, shortcut.unicodeStrings);
    if (flags & kHasIconLocation)
        PutCountedString(out, shortcut.iconLocation, shortcut.unicodeStrings);

    Put32(out, 0);  // the terminal block: no extra data
    return out;
}

}  // namespace hivewise
