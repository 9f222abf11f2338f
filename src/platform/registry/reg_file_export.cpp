#include <cstdio>
#include <vector>

#include "platform/files/atomic_file.h"
#include "platform/files/file_system_access.h"
#include "platform/files/path_resolver.h"
#include "platform/machine/text.h"
#include "platform/registry/reg_file.h"
#include "platform/registry/registry_access.h"

namespace hivewise {
namespace {

// Hex lines break once they reach this many characters; with the backslash a line stays
// within 80 columns. Continuation lines start with two spaces.
constexpr size_t kHexWrapColumn = 77;

constexpr char16_t kClassesPath[] = u"Software\\Classes";
constexpr char16_t kCurrentConfigPath[] = u"System\\CurrentControlSet\\Hardware Profiles\\Current";

void AppendEscapedText(std::u16string& out, std::u16string_view text) {
    for (char16_t c : text) {
        switch (c) {
            case u'\\':
                out += u"\\\\";
                break;
            case u'"':
                out += u"\\\"";
                break;
            // Only names can carry these here; strings holding them are written as hex.
            case u'\n':
                out += u"\\n";
                break;
            case u'\r':
                out += u"\\r";
                break;
            default:
                out.push_back(c);
        }
    }
}

void AppendAscii(std::u16string& out, const char* text) {
    for (; *text; ++text)
        out.push_back(static_cast<char16_t>(static_cast<unsigned char>(*text)));
}

// REG_SZ data the editor can write as "text": whole UTF-16 characters ending in exactly
// one terminator, and no line breaks (which no editor reads back inside quotes).
std::optional<std::u16string> PlainString(const std::string& data) {
    if (data.size() < 2 || data.size() % 2 != 0) return std::nullopt;
    std::u16string text = BytesToUtf16(data);
    if (text.back() != u'\0') return std::nullopt;
    text.pop_back();
    for (char16_t c : text) {
        if (c == u'\0' || c == u'\r' || c == u'\n') return std::nullopt;
    }
    return text;
}

void AppendHexData(std::u16string& out, size_t lineLength, const std::string& bytes) {
    static const char kDigits[] = "0123456789abcdef";
    for (size_t i = 0; i < bytes.size(); ++i) {
        auto b = static_cast<unsigned char>(bytes[i]);
        out.push_back(static_cast<char16_t>(kDigits[b >> 4]));
        out.push_back(static_cast<char16_t>(kDigits[b & 15]));
        if (i + 1 == bytes.size()) break;
        out.push_back(u',');
        lineLength += 3;
        if (lineLength >= kHexWrapColumn) {
            out += u"\\\r\n  ";
            lineLength = 2;
        }
    }
}

void AppendValue(std::u16string& out, const RegValue& value, RegFileFormat format) {
    size_t lineStart = out.size();
    if (value.name.empty()) {
        out += u"@=";
    } else {
        out.push_back(u'"');
        AppendEscapedText(out, value.name);
        out += u"\"=";
    }
    if (value.type == kRegSz) {
        if (auto text = PlainString(value.data)) {
            out.push_back(u'"');
            AppendEscapedText(out, *text);
            out += u"\"\r\n";
            return;
        }
    }
    if (value.type == kRegDword && value.data.size() == 4) {
        auto b = [&](int i) { return static_cast<uint32_t>(static_cast<uint8_t>(value.data[i])); };
        char buf[32];
        std::snprintf(buf, sizeof buf, "dword:%08x", b(0) | b(1) << 8 | b(2) << 16 | b(3) << 24);
        AppendAscii(out, buf);
        out += u"\r\n";
        return;
    }
    char tag[24];
    if (value.type == kRegBinary) {
        std::snprintf(tag, sizeof tag, "hex:");
    } else {
        std::snprintf(tag, sizeof tag, "hex(%x):", value.type);
    }
    AppendAscii(out, tag);
    std::string bytes = value.data;
    // An 8-bit file holds the string types as the ANSI bytes of their text.
    if (format == RegFileFormat::Regedit4 &&
        (value.type == kRegSz || value.type == kRegExpandSz || value.type == kRegMultiSz)) {
        bytes = Utf16ToAnsi(BytesToUtf16(value.data));
    }
    AppendHexData(out, out.size() - lineStart, bytes);
    out += u"\r\n";
}

// Keys are written as stored: a sub-key that is a link keeps its link value and is not
// followed, so that the file neither loops nor duplicates the target's tree. Iterative,
// so that no depth of the registry can exhaust the stack.
void AppendTree(std::u16string& out, const RegKey& top, std::u16string path, RegFileFormat format) {
    struct Frame {
        const RegKey* key;
        size_t pathSize;  // the length of `path` naming this key
        size_t next = 0;
    };
    std::vector<Frame> stack;
    ValuePeek peek;  // a large branch is exported without keeping its values decoded
    auto enter = [&](const RegKey& key) {
        out += u"\r\n[";
        out += path;
        out += u"]\r\n";
        for (const RegValue& value : peek.Of(&key))
            AppendValue(out, value, format);
        stack.push_back({&key, path.size()});
    };
    enter(top);
    while (!stack.empty()) {
        Frame& frame = stack.back();
        if (frame.next >= frame.key->SubKeyCount()) {
            stack.pop_back();
            continue;
        }
        const RegKey* child = frame.key->SubKey(frame.next++);
        path.resize(frame.pathSize);
        path.push_back(u'\\');
        path += child->Name();
        enter(*child);
    }
}

}  // namespace

RegFileFormat RegFileFormatFor(const Machine& machine) {
    return machine.Version().isNt ? RegFileFormat::Unicode5 : RegFileFormat::Regedit4;
}

std::optional<RegPath> ParseRegPath(Machine& machine, std::u16string_view path) {
    size_t cut = path.find(u'\\');
    std::u16string_view rootText = path.substr(0, cut);
    std::u16string_view rest =
        cut == std::u16string_view::npos ? std::u16string_view{} : path.substr(cut + 1);
    // Root names are short ASCII: other text names none.
    char ascii[64];
    if (rootText.size() > sizeof ascii) return std::nullopt;
    for (size_t i = 0; i < rootText.size(); ++i) {
        if (rootText[i] >= 0x80) return std::nullopt;
        ascii[i] = static_cast<char>(rootText[i]);
    }
    const RootName* root = FindRootName(std::string_view(ascii, rootText.size()));
    if (!root) return std::nullopt;
    // One trailing backslash is allowed ("[HKEY_...\Key\]"); other empty parts are not.
    if (!rest.empty() && rest.back() == u'\\') rest.remove_suffix(1);
    if (!rest.empty() && (rest.front() == u'\\' || rest.back() == u'\\' ||
                          rest.find(u"\\\\") != std::u16string_view::npos)) {
        return std::nullopt;
    }

    RegPath out;
    std::string_view longName = root->longName;
    out.display.reserve(longName.size() + 1 + rest.size());
    out.display.assign(longName.begin(), longName.end());  // ASCII
    if (!rest.empty()) out.display.append(1, u'\\').append(rest);

    switch (root->handle) {
        case kHkeyLocalMachine:
            out.base = machine.LocalMachine();
            break;
        case kHkeyCurrentUser:
            out.base = machine.CurrentUser();
            break;
        case kHkeyClassesRoot:
            // Looked up below HKLM so that a read does not create the classes key.
            out.base = machine.LocalMachine();
            out.lookup = kClassesPath;
            break;
        case kHkeyUsers:
            out.base = machine.Users();
            break;
        default:
            out.base = machine.LocalMachine();
            out.lookup = kCurrentConfigPath;
    }
    if (!out.base) return std::nullopt;
    if (!rest.empty()) {
        if (!out.lookup.empty()) out.lookup.push_back(u'\\');
        out.lookup += rest;
    }
    return out;
}

std::optional<std::string> ExportRegFile(Machine& machine, std::string_view keyPath,
                                         RegFileFormat format) {
    auto lock = machine.Registry().Lock();
    auto path = ParseRegPath(machine, AnsiToUtf16(keyPath));
    if (!path) return std::nullopt;
    RegKey* key = machine.Registry().Find(path->base, path->lookup);
    if (!key || key->IsDeleted()) return std::nullopt;

    std::u16string text = format == RegFileFormat::Unicode5
                              ? u"Windows Registry Editor Version 5.00\r\n"
                              : u"REGEDIT4\r\n";
    AppendTree(text, *key, path->display, format);
    text += u"\r\n";

    if (format == RegFileFormat::Regedit4) return Utf16ToAnsi(text);
    std::string bytes = "\xFF\xFE";
    bytes += Utf16ToBytes(text);
    return bytes;
}

bool ExportRegFileTo(Machine& machine, std::string_view keyPath, const std::string& windowsFile,
                     RegFileFormat format) {
    auto bytes = ExportRegFile(machine, keyPath, format);
    if (!bytes) return false;
    auto host = FileSystemAccess(machine).ToHostPath(windowsFile, true);
    if (!host) return false;
    std::string error;
    bool ok = WriteFileAtomically(*host, *bytes, &error);
    machine.Paths().Invalidate(host->parent_path());
    return ok;
}

}  // namespace hivewise
