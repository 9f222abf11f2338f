#include "tools/file_version.h"

#include <cstdio>

#include "platform/files/file_system_access.h"
#include "platform/machine/machine.h"
#include "platform/machine/text.h"
#include "tools/pe_resources.h"

namespace hivewise {

const std::array<const char*, kVersionStringCount> kVersionStringNames = {
    "CompanyName",    "FileDescription",  "FileVersion",  "InternalName",
    "LegalCopyright", "OriginalFileName", "ProductName",  "ProductVersion",
    "Comments",       "LegalTrademarks",  "PrivateBuild", "SpecialBuild",
};

namespace {

constexpr size_t kBlockHeader = 6;  // wLength, wValueLength, wType
constexpr uint16_t kTextType = 1;

uint16_t At16(std::string_view bytes, size_t offset) {
    return static_cast<uint16_t>(static_cast<unsigned char>(bytes[offset]) |
                                 (static_cast<unsigned char>(bytes[offset + 1]) << 8));
}

size_t Align4(size_t offset) {
    return (offset + 3) & ~size_t{3};
}

// One block of a version resource: header, key, value, children. Offsets are from the
// start of the resource, whose blocks are aligned on four bytes from there.
struct Block {
    size_t start = 0;
    size_t end = 0;  // never past the enclosing block
    size_t nextSibling = 0;
    uint16_t valueLength = 0;
    uint16_t type = 0;
    std::u16string key;
    size_t valueStart = 0;
    size_t childrenStart = 0;
};

bool ParseBlock(std::string_view res, size_t start, size_t limit, Block& block) {
    if (start > limit || limit - start < kBlockHeader) return false;
    const uint16_t length = At16(res, start);
    if (length < kBlockHeader) return false;
    block.start = start;
    block.end = std::min(limit, start + length);
    block.nextSibling = Align4(start + length);
    block.valueLength = At16(res, start + 2);
    block.type = At16(res, start + 4);
    block.key.clear();
    size_t p = start + kBlockHeader;
    for (;; p += 2) {
        if (p + 2 > block.end) return false;  // the key must end inside its block
        const char16_t c = At16(res, p);
        if (c == 0) break;
        block.key.push_back(c);
    }
    block.valueStart = Align4(p + 2);
    const size_t stated = size_t{block.valueLength} * (block.type == kTextType ? 2 : 1);
    block.childrenStart = std::min(block.end, Align4(block.valueStart + stated));
    return true;
}

// The bytes of a block's value, as long as its header says and its block allows.
std::string_view ValueBytes(std::string_view res, const Block& block, size_t unit) {
    if (block.valueStart >= block.end) return {};
    const size_t stated = size_t{block.valueLength} * unit;
    return res.substr(block.valueStart, std::min(stated, block.end - block.valueStart));
}

std::optional<Block> FindBlock(std::string_view res, std::string_view subBlock) {
    Block current;
    if (!ParseBlock(res, 0, res.size(), current)) return std::nullopt;
    size_t pos = 0;
    while (pos < subBlock.size()) {
        if (subBlock[pos] == '\\') {
            ++pos;
            continue;
        }
        size_t stop = subBlock.find('\\', pos);
        if (stop == std::string_view::npos) stop = subBlock.size();
        const std::u16string name = AnsiToUtf16(subBlock.substr(pos, stop - pos));
        pos = stop;

        // Every child is at least a header long, so the walk always moves forward.
        bool found = false;
        Block child;
        for (size_t at = current.childrenStart; at < current.end; at = child.nextSibling) {
            if (!ParseBlock(res, at, current.end, child)) break;
            if (EqualsNoCase(child.key, name)) {
                found = true;
                break;
            }
        }
        if (!found) return std::nullopt;
        current = std::move(child);
    }
    return current;
}

std::string TextOf(std::string_view bytes) {
    std::u16string text;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const char16_t c = At16(bytes, i);
        if (c == 0) break;
        text.push_back(c);
    }
    return Utf16ToAnsi(text);
}

std::optional<uint16_t> ParseHex4(std::u16string_view text) {
    if (text.size() != 4) return std::nullopt;
    unsigned value = 0;
    for (char16_t c : text) {
        int digit = (c >= u'0' && c <= u'9')   ? c - u'0'
                    : (c >= u'a' && c <= u'f') ? c - u'a' + 10
                    : (c >= u'A' && c <= u'F') ? c - u'A' + 10
                                               : -1;
        if (digit < 0) return std::nullopt;
        value = value * 16 + static_cast<unsigned>(digit);
    }
    return static_cast<uint16_t>(value);
}

// Without a translation table: the first string table whose name is a language and code
// page, so that such files still show their strings.
std::optional<Translation> FirstStringTable(std::string_view res) {
    auto info = FindBlock(res, "\\StringFileInfo");
    if (!info) return std::nullopt;
    Block child;
    for (size_t at = info->childrenStart; at < info->end; at = child.nextSibling) {
        if (!ParseBlock(res, at, info->end, child)) break;
        if (child.key.size() != 8) continue;
        auto language = ParseHex4(std::u16string_view(child.key).substr(0, 4));
        auto codePage = ParseHex4(std::u16string_view(child.key).substr(4));
        if (language && codePage) return Translation{*language, *codePage};
    }
    return std::nullopt;
}

}  // namespace

std::optional<VersionValue> QueryVersionValue(std::string_view resource,
                                              std::string_view subBlock) {
    auto block = FindBlock(resource, subBlock);
    if (!block) return std::nullopt;
    const bool text = block->type == kTextType;
    return VersionValue{ValueBytes(resource, *block, text ? 2 : 1), text};
}

std::optional<std::string> QueryVersionText(std::string_view resource, std::string_view subBlock) {
    auto block = FindBlock(resource, subBlock);
    if (!block) return std::nullopt;
    // The stated length counts characters, whatever the type says.
    return TextOf(ValueBytes(resource, *block, 2));
}

std::optional<Translation> ChooseTranslation(std::string_view table, uint16_t userLanguage) {
    const size_t count = table.size() / 4;
    if (count == 0) return std::nullopt;
    auto entry = [&](size_t i) { return Translation{At16(table, i * 4), At16(table, i * 4 + 2)}; };
    auto find = [&](auto matches) -> std::optional<Translation> {
        for (size_t i = 0; i < count; ++i) {
            if (matches(entry(i).language)) return entry(i);
        }
        return std::nullopt;
    };
    auto exactly = [&](uint16_t language) {
        return find([language](uint16_t l) { return l == language; });
    };
    auto lowByte = [&](uint16_t language) {
        return find([language](uint16_t l) { return (l & 0xFF) == (language & 0xFF); });
    };
    if (auto t = exactly(userLanguage)) return t;
    if (auto t = lowByte(userLanguage)) return t;
    if (auto t = exactly(0)) return t;
    if (auto t = lowByte(0)) return t;
    if (auto t = exactly(9)) return t;
    if (auto t = lowByte(9)) return t;
    return entry(0);
}

void FileVersionDetails::Reset() {
    fixed_ = FixedFileInfo{};
    for (std::string& s : strings_)
        s.clear();
    language_ = 0;
    codePage_ = 0;
}

bool FileVersionDetails::Read(Machine& machine, const std::string& path) {
    Reset();
    FileSystemAccess files(machine);
    auto host = files.ToHostPath(path);
    if (!host) return false;
    return ReadHostFile(*host, static_cast<uint16_t>(machine.Version().userDefaultLanguage));
}

bool FileVersionDetails::ReadHostFile(const std::filesystem::path& hostPath,
                                      uint16_t userLanguage) {
    Reset();
    auto file = FileByteSource::Open(hostPath);
    if (!file) return false;
    auto resource = FindVersionResource(*file, userLanguage);
    return resource && ReadResource(*resource, userLanguage);
}

bool FileVersionDetails::ReadImage(std::string_view image, uint16_t userLanguage) {
    Reset();
    auto resource = FindVersionResource(MemoryByteSource(image), userLanguage);
    return resource && ReadResource(*resource, userLanguage);
}

bool FileVersionDetails::ReadResource(std::string_view resource, uint16_t userLanguage) {
    Reset();
    // A resource without a root block that fits in it is not a version resource.
    if (resource.size() < kBlockHeader || At16(resource, 0) > resource.size() ||
        !FindBlock(resource, "")) {
        return false;
    }

    if (auto root = QueryVersionValue(resource, "\\");
        root && root->bytes.size() == sizeof(FixedFileInfo)) {
        uint32_t fields[13];
        for (size_t i = 0; i < 13; ++i) {
            fields[i] = At16(root->bytes, i * 4) | (uint32_t{At16(root->bytes, i * 4 + 2)} << 16);
        }
        fixed_ = {fields[0], fields[1], fields[2], fields[3],  fields[4],  fields[5], fields[6],
                  fields[7], fields[8], fields[9], fields[10], fields[11], fields[12]};
    }

    std::optional<Translation> chosen;
    if (auto table = QueryVersionValue(resource, "\\VarFileInfo\\Translation")) {
        chosen = ChooseTranslation(table->bytes, userLanguage);
    }
    if (!chosen) chosen = FirstStringTable(resource);
    if (!chosen) return true;
    language_ = chosen->language;
    codePage_ = chosen->codePage;

    char prefix[40];
    std::snprintf(prefix, sizeof prefix, "\\StringFileInfo\\%04X%04X\\", chosen->language,
                  chosen->codePage);
    for (size_t i = 0; i < kVersionStringCount; ++i) {
        if (auto text = QueryVersionText(resource, std::string(prefix) + kVersionStringNames[i])) {
            strings_[i] = *text;
        }
    }
    return true;
}

}  // namespace hivewise
