#include "cli/reg_common.h"

#include <charconv>
#include <cstdio>
#include <ostream>

#include "platform/machine/text.h"
#include "platform/registry/registry_access.h"

namespace hivewise::cli {
namespace {

struct TypeEntry {
    uint32_t type;
    const char* name;
    bool writable;  // one `reg add` accepts
};

constexpr TypeEntry kTypes[] = {
    {kRegNone, "REG_NONE", true},
    {kRegSz, "REG_SZ", true},
    {kRegExpandSz, "REG_EXPAND_SZ", true},
    {kRegBinary, "REG_BINARY", true},
    {kRegDword, "REG_DWORD", true},
    {5, "REG_DWORD_BIG_ENDIAN", false},
    {kRegLink, "REG_LINK", false},
    {kRegMultiSz, "REG_MULTI_SZ", true},
    {8, "REG_RESOURCE_LIST", false},
    {9, "REG_FULL_RESOURCE_DESCRIPTOR", false},
    {10, "REG_RESOURCE_REQUIREMENTS_LIST", false},
    {kRegQword, "REG_QWORD", true},
};

bool AsciiEqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i] >= 'a' && a[i] <= 'z' ? static_cast<char>(a[i] - 32) : a[i];
        char y = b[i] >= 'a' && b[i] <= 'z' ? static_cast<char>(b[i] - 32) : b[i];
        if (x != y) return false;
    }
    return true;
}

std::string AsciiLower(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    }
    return out;
}

std::string HexDigits(std::string_view bytes) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (char b : bytes) {
        auto u = static_cast<unsigned char>(b);
        out.push_back(kDigits[u >> 4]);
        out.push_back(kDigits[u & 15]);
    }
    return out;
}

uint64_t LittleEndian(std::string_view bytes) {
    uint64_t v = 0;
    for (size_t i = bytes.size(); i-- > 0;)
        v = (v << 8) | static_cast<unsigned char>(bytes[i]);
    return v;
}

std::string Hex(uint64_t v) {
    char buf[24];
    int n = std::snprintf(buf, sizeof buf, "0x%llx", static_cast<unsigned long long>(v));
    return std::string(buf, static_cast<size_t>(n));
}

// Decimal, or hexadecimal after "0x"; nothing when the text is no number up to `max`.
std::optional<uint64_t> ParseNumber(std::string_view text, uint64_t max) {
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty()) return std::nullopt;
    uint64_t v = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v, base);
    if (ec != std::errc() || end != text.data() + text.size() || v > max) return std::nullopt;
    return v;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string StringBytes(std::string_view utf8) {
    std::u16string text = Utf8ToUtf16(utf8);
    text.push_back(u'\0');  // stored with its terminator, as the registry editor writes it
    return Utf16ToBytes(text);
}

}  // namespace

std::optional<KeyPath> ParseKeyPath(std::string_view text) {
    size_t cut = text.find('\\');
    std::string_view rootText = text.substr(0, cut);
    std::string_view rest =
        cut == std::string_view::npos ? std::string_view{} : text.substr(cut + 1);
    KeyPath path;
    const RootName* root = FindRootName(rootText);
    if (!root) return std::nullopt;
    switch (root->handle) {
        case kHkeyLocalMachine:
            path.root = RootKey::LocalMachine;
            break;
        case kHkeyCurrentUser:
            path.root = RootKey::CurrentUser;
            break;
        case kHkeyClassesRoot:
            path.root = RootKey::ClassesRoot;
            break;
        case kHkeyUsers:
            path.root = RootKey::Users;
            break;
        default:
            return std::nullopt;  // the current configuration is no key of its own here
    }
    path.rootName = root->longName;
    while (!rest.empty() && rest.back() == '\\')
        rest.remove_suffix(1);
    path.subPath = std::string(rest);
    path.subPath16 = Utf8ToUtf16(rest);
    while (!rest.empty()) {
        size_t end = rest.find('\\');
        std::string_view component = rest.substr(0, end);
        // "a\\b" names no key: the registry has no empty key names.
        if (component.empty()) return std::nullopt;
        path.components.push_back(Utf8ToUtf16(component));
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    }
    return path;
}

RegKey* RootKeyOf(Machine& machine, RootKey root, bool create) {
    switch (root) {
        case RootKey::LocalMachine:
            return machine.LocalMachine();
        case RootKey::CurrentUser:
            return machine.CurrentUser();
        case RootKey::Users:
            return machine.Users();
        case RootKey::ClassesRoot:
            if (create) return machine.ClassesRoot();
            return machine.Registry().Find(machine.LocalMachine(), u"Software\\Classes");
    }
    return nullptr;
}

RegKey* OpenKey(Machine& machine, const KeyPath& path) {
    RegKey* base = RootKeyOf(machine, path.root, false);
    if (!base) return nullptr;
    return machine.Registry().Find(base, path.subPath16);
}

bool ParseRegArgs(const std::vector<std::string>& args, unsigned allowed, RegArgs* parsed) {
    unsigned seen = 0;
    bool haveKey = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg.size() < 2 || (arg[0] != '/' && arg[0] != '-')) {
            if (haveKey) return false;
            parsed->key = arg;
            haveKey = true;
            continue;
        }
        std::string name = AsciiLower(std::string_view(arg).substr(1));
        if (name == "?" || name == "-help") {
            parsed->help = true;
            return true;
        }
        unsigned bit = 0;
        bool takesArgument = false;
        if (name == "v") {
            bit = kSwitchV;
            takesArgument = true;
        } else if (name == "ve") {
            bit = kSwitchVe;
        } else if (name == "va") {
            bit = kSwitchVa;
        } else if (name == "s") {
            takesArgument = (allowed & kSwitchSeparator) != 0;
            bit = takesArgument ? kSwitchSeparator : kSwitchRecurse;
        } else if (name == "t") {
            bit = kSwitchT;
            takesArgument = true;
        } else if (name == "d") {
            bit = kSwitchD;
            takesArgument = true;
        } else if (name == "f") {
            bit = kSwitchF;
        }
        if (bit == 0 || (allowed & bit) == 0 || (seen & bit) != 0) return false;
        seen |= bit;
        std::string value;
        if (takesArgument) {
            if (i + 1 >= args.size()) return false;
            value = args[++i];
        }
        switch (bit) {
            case kSwitchV:
                parsed->valueName = value;
                break;
            case kSwitchVe:
                parsed->valueName = std::string();
                break;
            case kSwitchVa:
                parsed->allValues = true;
                break;
            case kSwitchRecurse:
                parsed->recurse = true;
                break;
            case kSwitchSeparator:
                parsed->separator = value;
                break;
            case kSwitchT:
                parsed->type = value;
                break;
            case kSwitchD:
                parsed->data = value;
                break;
            case kSwitchF:
                parsed->force = true;
                break;
            default:
                break;
        }
    }
    int choices = ((seen & kSwitchV) != 0) + ((seen & kSwitchVe) != 0) + ((seen & kSwitchVa) != 0);
    return haveKey && choices <= 1;
}

std::string TypeName(uint32_t type) {
    for (const auto& t : kTypes) {
        if (t.type == type) return t.name;
    }
    return Hex(type);
}

std::optional<uint32_t> TypeFromName(std::string_view name) {
    for (const auto& t : kTypes) {
        if (t.writable && AsciiEqualsNoCase(name, t.name)) return t.type;
    }
    return std::nullopt;
}

std::string DisplayName(std::u16string_view name) {
    return name.empty() ? std::string("(Default)") : Utf16ToUtf8(name);
}

std::string FormatData(const RegValue& value) {
    const std::string& data = value.data;
    switch (value.type) {
        case kRegSz:
        case kRegExpandSz:
        case kRegLink: {
            std::u16string text = BytesToUtf16(data);
            size_t end = text.find(u'\0');
            if (end != std::u16string::npos) text.resize(end);
            return Utf16ToUtf8(text);
        }
        case kRegMultiSz: {
            std::u16string text = BytesToUtf16(data);
            // The list ends with an empty string; what follows it is not shown.
            std::vector<std::u16string_view> items;
            std::u16string_view rest(text);
            while (!rest.empty()) {
                size_t end = rest.find(u'\0');
                if (end == 0) break;
                items.push_back(rest.substr(0, end));
                rest.remove_prefix(end == std::u16string_view::npos ? rest.size() : end + 1);
            }
            std::string out;
            for (size_t i = 0; i < items.size(); ++i) {
                if (i) out += "\\0";
                out += Utf16ToUtf8(items[i]);
            }
            return out;
        }
        case kRegDword:
            if (data.size() == 4) return Hex(LittleEndian(data));
            break;
        case 5:
            if (data.size() == 4) {
                uint64_t v = 0;
                for (char b : data)
                    v = (v << 8) | static_cast<unsigned char>(b);
                return Hex(v);
            }
            break;
        case kRegQword:
            if (data.size() == 8) return Hex(LittleEndian(data));
            break;
        default:
            break;
    }
    return HexDigits(data);
}

std::optional<std::string> EncodeData(uint32_t type, const std::optional<std::string>& text,
                                      const std::optional<std::string>& separator,
                                      std::string* error) {
    const std::string given = text.value_or(std::string());
    switch (type) {
        case kRegSz:
        case kRegExpandSz:
            return StringBytes(given);
        case kRegNone:
            // Text given with REG_NONE is kept as a string, as the registry editor does.
            return given.empty() ? std::string() : StringBytes(given);
        case kRegMultiSz: {
            std::u16string all = Utf8ToUtf16(given);
            std::u16string sep = separator ? Utf8ToUtf16(*separator) : std::u16string(u"\\0");
            if (sep.size() != (separator ? 1u : 2u)) {
                *error = "ERROR: Invalid syntax. The separator of /s must be one character.";
                return std::nullopt;
            }
            std::vector<std::u16string> items;
            std::u16string_view rest(all);
            while (!rest.empty()) {
                size_t end = rest.find(sep);
                items.emplace_back(rest.substr(0, end));
                if (end == std::u16string_view::npos) break;
                rest.remove_prefix(end + sep.size());
                if (rest.empty()) items.emplace_back();
            }
            if (!items.empty() && items.back().empty()) items.pop_back();
            std::u16string out;
            for (const auto& item : items) {
                // An empty string would end the list there and hide what follows it.
                if (item.empty()) {
                    *error =
                        "ERROR: Invalid syntax. REG_MULTI_SZ data cannot hold an empty string.";
                    return std::nullopt;
                }
                out += item;
                out.push_back(u'\0');
            }
            out.push_back(u'\0');
            return Utf16ToBytes(out);
        }
        case kRegDword:
        case kRegQword: {
            bool dword = type == kRegDword;
            uint64_t v = 0;
            if (text) {
                auto parsed = ParseNumber(given, dword ? 0xFFFFFFFFull : ~0ull);
                if (!parsed) {
                    *error = "ERROR: Invalid syntax. Specify a valid numeric value for '/d'.";
                    return std::nullopt;
                }
                v = *parsed;
            }
            std::string out(dword ? 4 : 8, '\0');
            for (size_t i = 0; i < out.size(); ++i)
                out[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
            return out;
        }
        case kRegBinary: {
            if (given.size() % 2 != 0) {
                *error = "ERROR: Invalid syntax. Specify an even number of hex digits for '/d'.";
                return std::nullopt;
            }
            std::string out;
            out.reserve(given.size() / 2);
            for (size_t i = 0; i < given.size(); i += 2) {
                int hi = HexValue(given[i]);
                int lo = HexValue(given[i + 1]);
                if (hi < 0 || lo < 0) {
                    *error = "ERROR: Invalid syntax. Specify valid hex digits for '/d'.";
                    return std::nullopt;
                }
                out.push_back(static_cast<char>((hi << 4) | lo));
            }
            return out;
        }
        default:
            *error = "ERROR: Invalid value type " + TypeName(type) + ".";
            return std::nullopt;
    }
}

int Fail(CliContext& ctx, std::string_view message) {
    PrintError(ctx.err, message);
    return 1;
}

int FailSyntax(CliContext& ctx, std::string_view command) {
    return Fail(ctx, "ERROR: Invalid syntax. Type \"hivewise-cli reg " + std::string(command) +
                         " /?\" for usage.");
}

int SaveAndReport(CliContext& ctx, Machine& machine) {
    Machine::SaveResult saved = machine.Flush();
    if (!saved.ok) {
        return Fail(ctx, saved.error.empty() ? "The registry could not be saved." : saved.error);
    }
    ctx.out << kSuccess << '\n';
    return 0;
}

}  // namespace hivewise::cli
