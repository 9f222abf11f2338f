// Facts a machine derives from its registry and its prefix folder: the drive table,
// the environment a program started in it receives, and the Windows version.

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

#include "platform/machine/machine.h"
#include "platform/machine/text.h"

namespace hivewise {
namespace {

namespace fs = std::filesystem;

constexpr std::u16string_view kNtCurrentVersion =
    u"Software\\Microsoft\\Windows NT\\CurrentVersion";
constexpr std::u16string_view kCurrentVersion = u"Software\\Microsoft\\Windows\\CurrentVersion";
constexpr std::u16string_view kProfileList =
    u"Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
constexpr std::u16string_view kSystemEnvironment =
    u"System\\CurrentControlSet\\Control\\Session Manager\\Environment";
constexpr std::u16string_view kProductOptions =
    u"System\\CurrentControlSet\\Control\\ProductOptions";
constexpr std::u16string_view kActiveComputerName =
    u"System\\CurrentControlSet\\Control\\ComputerName\\ActiveComputerName";
constexpr std::u16string_view kComputerName =
    u"System\\CurrentControlSet\\Control\\ComputerName\\ComputerName";

RegKey* FindKey(const RegistryStore& store, RegKey* base, std::u16string_view path) {
    return base ? store.Find(base, path) : nullptr;
}

// String data up to its first terminating zero, as a program reading it sees it.
std::u16string StringData(const RegValue& value) {
    std::u16string text = BytesToUtf16(value.data);
    size_t end = text.find(u'\0');
    if (end != std::u16string::npos) text.resize(end);
    return text;
}

// A REG_SZ or REG_EXPAND_SZ value; other types do not hold text.
std::optional<std::u16string> ReadString(const RegKey* key, std::u16string_view name,
                                         uint32_t* type = nullptr) {
    if (!key) return std::nullopt;
    const RegValue* value = key->FindValue(name);
    if (!value || (value->type != kRegSz && value->type != kRegExpandSz)) return std::nullopt;
    if (type) *type = value->type;
    return StringData(*value);
}

// A REG_DWORD value of four bytes, little-endian as stored.
std::optional<uint32_t> ReadDword(const RegKey* key, std::u16string_view name) {
    if (!key) return std::nullopt;
    const RegValue* value = key->FindValue(name);
    if (!value || value->type != kRegDword || value->data.size() != 4) return std::nullopt;
    uint32_t number = 0;
    for (int i = 3; i >= 0; --i)
        number = (number << 8) | static_cast<unsigned char>(value->data[i]);
    return number;
}

std::optional<std::string> ReadAnsi(const RegKey* key, std::u16string_view name) {
    auto text = ReadString(key, name);
    if (!text) return std::nullopt;
    return Utf16ToAnsi(*text);
}

// ExpandEnvironmentStrings as the machine's system does it: names match without regard
// to case; a reference to an undefined variable is copied whole, '%' signs included.
std::string Expand(const Environment& env, std::string_view text) {
    std::string out;
    size_t i = 0;
    while (i < text.size()) {
        if (text[i] != '%') {
            out.push_back(text[i++]);
            continue;
        }
        size_t close = text.find('%', i + 1);
        if (close == std::string_view::npos) {
            out.append(text.substr(i));
            break;
        }
        std::string name(text.substr(i + 1, close - i - 1));
        auto it = name.empty() ? env.end() : env.find(name);
        if (it != env.end()) {
            out += it->second;
            i = close + 1;
        } else {
            out.append(text.substr(i, close - i + 1));
            i = close + 1;
        }
    }
    return out;
}

// A value that may be REG_EXPAND_SZ, expanded against the environment so far.
std::optional<std::string> ReadExpanded(const RegKey* key, std::u16string_view name,
                                        const Environment& env) {
    uint32_t type = kRegSz;
    auto text = ReadString(key, name, &type);
    if (!text) return std::nullopt;
    std::string ansi = Utf16ToAnsi(*text);
    return type == kRegExpandSz ? Expand(env, ansi) : ansi;
}

std::string WithoutTrailingBackslash(std::string path) {
    // "C:\" keeps its backslash: it is the root, not a folder below it.
    while (path.size() > 3 && path.back() == '\\')
        path.pop_back();
    return path;
}

// An environment key of the registry, as the system applies it: plain strings first,
// then the expandable ones, each expanded against everything defined by then. Empty
// values define nothing; a PATH extends the one already defined instead of replacing it.
void ApplyEnvironmentKey(Environment& env, const RegKey* key) {
    if (!key) return;
    for (uint32_t pass : {kRegSz, kRegExpandSz}) {
        for (const RegValue& value : key->Values()) {
            if (value.type != pass) continue;
            std::string name = Utf16ToAnsi(value.name);
            // The default value and names with '=' cannot be environment variables.
            if (name.empty() || name.find('=') != std::string::npos) continue;
            std::string text = Utf16ToAnsi(StringData(value));
            if (text.empty()) continue;
            if (pass == kRegExpandSz) text = Expand(env, text);
            auto existing = env.find(name);
            if (existing == env.end()) {
                env.emplace(std::move(name), std::move(text));
            } else if (AnsiEqualsNoCase(name, "PATH")) {
                existing->second += ";" + text;
            } else {
                existing->second = std::move(text);
            }
        }
    }
}

void Set(Environment& env, const std::string& name, const std::string& value) {
    env[name] = value;
}

// The host account's name, which Wine gives the profile folder it creates.
std::string HostUserName() {
    if (const char* user = std::getenv("USER"); user && *user) return user;
    if (const passwd* pw = getpwuid(geteuid()); pw && pw->pw_name && *pw->pw_name) {
        return pw->pw_name;
    }
    return "user";
}

std::string LastComponent(const std::string& path) {
    size_t cut = path.find_last_of('\\');
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

bool HasDriveLetter(std::string_view path) {
    return path.size() >= 2 && path[1] == ':' &&
           ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
}

// Parses the leading unsigned decimal of `text` from `pos`, moving `pos` past it.
std::optional<unsigned> ParseNumber(std::string_view text, size_t& pos) {
    size_t start = pos;
    unsigned long value = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
        value = value * 10 + static_cast<unsigned>(text[pos] - '0');
        if (value > 0xFFFFFFFFul) return std::nullopt;
        ++pos;
    }
    if (pos == start) return std::nullopt;
    return static_cast<unsigned>(value);
}

// "6.1" or "4.10.2222": major, minor and, when present, build.
bool ParseDottedVersion(std::string_view text, unsigned& major, unsigned& minor,
                        std::optional<unsigned>& build) {
    size_t pos = 0;
    while (pos < text.size() && text[pos] == ' ')
        ++pos;
    auto first = ParseNumber(text, pos);
    if (!first || pos >= text.size() || text[pos] != '.') return false;
    ++pos;
    auto second = ParseNumber(text, pos);
    if (!second) return false;
    major = *first;
    minor = *second;
    if (pos < text.size() && text[pos] == '.') {
        ++pos;
        build = ParseNumber(text, pos);
    }
    return true;
}

std::optional<unsigned> ParseLeadingNumber(std::string_view text) {
    size_t pos = 0;
    while (pos < text.size() && text[pos] == ' ')
        ++pos;
    return ParseNumber(text, pos);
}

// The NT family answers from the Windows NT key. A Windows 9x machine has only the
// Windows key's version number (a prefix set to 9x keeps the NT key but drops its
// version values). With neither, the machine is taken for NT.
bool IsNtMachine(const RegistryStore& store, RegKey* localMachine) {
    if (ReadString(FindKey(store, localMachine, kNtCurrentVersion), u"CurrentVersion")) return true;
    return !ReadString(FindKey(store, localMachine, kCurrentVersion), u"VersionNumber");
}

DriveType DriveTypeFromRegistry(const RegKey* drives, char lowerLetter) {
    if (!drives) return DriveType::Fixed;
    const char16_t name[] = {static_cast<char16_t>(lowerLetter), u':', u'\0'};
    auto text = ReadString(drives, name);
    if (!text) return DriveType::Fixed;
    std::string kind = Utf16ToAnsi(*text);
    if (AnsiEqualsNoCase(kind, "cdrom")) return DriveType::CdRom;
    if (AnsiEqualsNoCase(kind, "floppy")) return DriveType::Removable;
    if (AnsiEqualsNoCase(kind, "network")) return DriveType::Remote;
    if (AnsiEqualsNoCase(kind, "ramdisk")) return DriveType::RamDisk;
    return DriveType::Fixed;
}

struct SuiteName {
    std::string_view name;
    unsigned bit;
};

// ProductOptions\ProductSuite names and the VER_SUITE_ bits the system reports for them.
constexpr std::array<SuiteName, 11> kSuites = {{
    {"Small Business", 0x0001},
    {"Enterprise", 0x0002},
    {"BackOffice", 0x0004},
    {"CommunicationServer", 0x0008},
    {"Terminal Server", 0x0010},
    {"Small Business(Restricted)", 0x0020},
    {"EmbeddedNT", 0x0040},
    {"DataCenter", 0x0080},
    {"Personal", 0x0200},
    {"Blade", 0x0400},
    {"Embedded(Restricted)", 0x0800},
}};

unsigned SuiteMask(const RegKey* productOptions) {
    if (!productOptions) return 0;
    const RegValue* suite = productOptions->FindValue(u"ProductSuite");
    if (!suite || (suite->type != kRegMultiSz && suite->type != kRegSz)) return 0;
    std::u16string all = BytesToUtf16(suite->data);
    unsigned mask = 0;
    size_t start = 0;
    while (start < all.size()) {
        size_t end = all.find(u'\0', start);
        if (end == std::u16string::npos) end = all.size();
        std::string name = Utf16ToAnsi(std::u16string_view(all).substr(start, end - start));
        for (const SuiteName& s : kSuites) {
            if (AnsiEqualsNoCase(name, s.name)) mask |= s.bit;
        }
        start = end + 1;
    }
    return mask;
}

}  // namespace

bool EnvNameLess::operator()(const std::string& a, const std::string& b) const {
    size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        auto x = static_cast<unsigned char>(AnsiFoldChar(a[i]));
        auto y = static_cast<unsigned char>(AnsiFoldChar(b[i]));
        if (x != y) return x < y;
    }
    return a.size() < b.size();
}

std::vector<Drive> ReadDrives(const fs::path& prefix, const RegistryStore& store,
                              RegKey* localMachine) {
    std::vector<Drive> drives;
    const fs::path devices = prefix / "dosdevices";
    const RegKey* types = FindKey(store, localMachine, u"Software\\Wine\\Drives");

    std::error_code ec;
    fs::directory_iterator it(devices, ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        // Wine looks drives up as "x:" in lower case; "x::" names the raw device and
        // "com1" and the like are ports.
        std::string name = it->path().filename().string();
        if (name.size() != 2 || name[1] != ':' || name[0] < 'a' || name[0] > 'z') continue;

        std::error_code linkError;
        fs::path root = it->path();
        if (it->is_symlink(linkError)) {
            fs::path target = fs::read_symlink(it->path(), linkError);
            if (linkError) continue;
            root = target.is_absolute() ? target : devices / target;
        }
        Drive drive;
        drive.letter = static_cast<char>(name[0] - 'a' + 'A');
        std::error_code statError;
        if (fs::is_directory(root, statError)) {
            fs::path resolved = fs::canonical(root, statError);
            drive.hostRoot = statError ? root.lexically_normal() : resolved;
            drive.type = DriveTypeFromRegistry(types, name[0]);
        } else {
            // A dangling link: the letter is assigned but has no root behind it.
            drive.hostRoot = root.lexically_normal();
            drive.type = DriveType::NoRootDir;
        }
        drives.push_back(std::move(drive));
    }
    std::sort(drives.begin(), drives.end(),
              [](const Drive& a, const Drive& b) { return a.letter < b.letter; });
    return drives;
}

Environment BuildEnvironment(const RegistryStore& store, RegKey* localMachine, RegKey* currentUser,
                             const std::u16string& userSid) {
    Environment env;
    const RegKey* ntVersion = FindKey(store, localMachine, kNtCurrentVersion);
    const RegKey* version = FindKey(store, localMachine, kCurrentVersion);
    const bool nt = IsNtMachine(store, localMachine);

    // The Windows folder first: everything else may be written in terms of it.
    std::string systemRoot =
        ReadAnsi(ntVersion, u"SystemRoot").value_or(ReadAnsi(version, u"SystemRoot").value_or(""));
    systemRoot = WithoutTrailingBackslash(systemRoot);
    if (!HasDriveLetter(systemRoot)) systemRoot = "C:\\windows";
    Set(env, "SystemRoot", systemRoot);
    Set(env, "windir", systemRoot);
    Set(env, "SystemDrive", systemRoot.substr(0, 2));

    // The running machine's name, else the one it takes at the next start.
    for (std::u16string_view path : {kActiveComputerName, kComputerName}) {
        auto name = ReadAnsi(FindKey(store, localMachine, path), u"ComputerName");
        if (name && !name->empty()) {
            Set(env, "COMPUTERNAME", *name);
            break;
        }
    }
    if (auto dir = ReadExpanded(version, u"ProgramFilesDir", env); dir && !dir->empty()) {
        Set(env, "ProgramFiles", WithoutTrailingBackslash(*dir));
    }
    if (auto dir = ReadExpanded(version, u"CommonFilesDir", env); dir && !dir->empty()) {
        Set(env, "CommonProgramFiles", WithoutTrailingBackslash(*dir));
    } else if (auto pf = env.find("ProgramFiles"); pf != env.end()) {
        Set(env, "CommonProgramFiles", pf->second + "\\Common Files");
    }

    RegKey* profiles = FindKey(store, localMachine, kProfileList);
    std::string profilesDir = "C:\\users";
    if (auto dir = ReadExpanded(profiles, u"ProfilesDirectory", env); dir && !dir->empty()) {
        profilesDir = WithoutTrailingBackslash(*dir);
    }
    if (auto data = ReadExpanded(profiles, u"ProgramData", env); data && !data->empty()) {
        Set(env, "ALLUSERSPROFILE", WithoutTrailingBackslash(*data));
        Set(env, "ProgramData", WithoutTrailingBackslash(*data));
    } else if (auto all = ReadExpanded(profiles, u"AllUsersProfile", env); all && !all->empty()) {
        Set(env, "ALLUSERSPROFILE", profilesDir + "\\" + *all);
    }
    if (auto pub = ReadExpanded(profiles, u"Public", env); pub && !pub->empty()) {
        Set(env, "PUBLIC", WithoutTrailingBackslash(*pub));
    }

    std::string profile;
    if (!userSid.empty()) {
        const RegKey* mine = profiles ? store.Find(profiles, userSid) : nullptr;
        profile =
            WithoutTrailingBackslash(ReadExpanded(mine, u"ProfileImagePath", env).value_or(""));
    }
    if (profile.empty()) profile = profilesDir + "\\" + HostUserName();
    std::string userName = LastComponent(profile);
    if (userName.empty() || HasDriveLetter(userName)) userName = HostUserName();
    Set(env, "USERPROFILE", profile);

    if (nt) {
        Set(env, "OS", "Windows_NT");
        Set(env, "PATHEXT", ".COM;.EXE;.BAT;.CMD");
    }

    ApplyEnvironmentKey(env, FindKey(store, localMachine, kSystemEnvironment));

    // The logged-on user's own facts win over whatever the machine's list says.
    Set(env, "USERPROFILE", profile);
    Set(env, "USERNAME", userName);
    const RegKey* userFolders =
        FindKey(store, currentUser,
                u"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders");
    const RegKey* shellFolders =
        FindKey(store, currentUser,
                u"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders");
    auto folder = [&](std::u16string_view name) -> std::string {
        auto text = ReadExpanded(userFolders, name, env);
        if (!text || text->empty()) text = ReadExpanded(shellFolders, name, env);
        return text ? WithoutTrailingBackslash(*text) : std::string();
    };
    if (std::string appData = folder(u"AppData"); !appData.empty()) Set(env, "APPDATA", appData);
    if (std::string local = folder(u"Local AppData"); !local.empty()) {
        Set(env, "LOCALAPPDATA", local);
    }

    ApplyEnvironmentKey(env, FindKey(store, currentUser, u"Environment"));

    // Neither the machine nor the user names a temporary folder: the profile's own.
    for (const char* name : {"TEMP", "TMP"}) {
        if (env.find(name) == env.end()) Set(env, name, profile + "\\Temp");
    }
    return env;
}

VersionFacts ReadVersionFacts(const RegistryStore& store, RegKey* localMachine,
                              RegKey* currentUser) {
    VersionFacts facts;
    const RegKey* ntVersion = FindKey(store, localMachine, kNtCurrentVersion);
    const RegKey* version = FindKey(store, localMachine, kCurrentVersion);
    facts.isNt = IsNtMachine(store, localMachine);

    if (facts.isNt) {
        std::optional<unsigned> unusedBuild;
        if (auto text = ReadAnsi(ntVersion, u"CurrentVersion")) {
            ParseDottedVersion(*text, facts.major, facts.minor, unusedBuild);
        }
        // Windows 10 and later keep "6.3" in CurrentVersion for old programs and give
        // their own numbers in these two values, as Wine does for its Windows 10 and 11.
        if (auto major = ReadDword(ntVersion, u"CurrentMajorVersionNumber")) {
            facts.major = *major;
            facts.minor = ReadDword(ntVersion, u"CurrentMinorVersionNumber").value_or(0);
        }
        auto build = ReadAnsi(ntVersion, u"CurrentBuildNumber");
        if (!build || !ParseLeadingNumber(*build)) build = ReadAnsi(ntVersion, u"CurrentBuild");
        if (build) facts.build = ParseLeadingNumber(*build).value_or(facts.build);
        // The key being there without a service pack value means none is installed.
        if (ntVersion) facts.servicePack = ReadAnsi(ntVersion, u"CSDVersion").value_or("");
        facts.productName = ReadAnsi(ntVersion, u"ProductName").value_or("");

        const RegKey* options = FindKey(store, localMachine, kProductOptions);
        if (auto type = ReadAnsi(options, u"ProductType"); type && !type->empty()) {
            facts.productType = *type;
        }
        facts.suiteMask = SuiteMask(options);
    } else {
        // "4.10.2222": the 9x family keeps major, minor and build in one text.
        if (auto text = ReadAnsi(version, u"VersionNumber")) {
            std::optional<unsigned> build;
            if (ParseDottedVersion(*text, facts.major, facts.minor, build)) {
                facts.build = build.value_or(0);
            }
        }
        facts.servicePack = ReadAnsi(version, u"SubVersionNumber").value_or("");
        facts.productName = ReadAnsi(version, u"ProductName").value_or("");
        facts.productType.clear();
        facts.suiteMask = 0;
    }

    // "00000409": the locale identifier in hex; its low word is the language.
    if (auto locale =
            ReadAnsi(FindKey(store, currentUser, u"Control Panel\\International"), u"Locale")) {
        std::string_view text = *locale;
        unsigned long value = 0;
        bool ok = !text.empty() && text.size() <= 8;
        for (char c : text) {
            int digit = (c >= '0' && c <= '9')   ? c - '0'
                        : (c >= 'a' && c <= 'f') ? c - 'a' + 10
                        : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                                                 : -1;
            if (digit < 0) {
                ok = false;
                break;
            }
            value = value * 16 + static_cast<unsigned>(digit);
        }
        if (ok && (value & 0xFFFF) != 0) facts.userDefaultLanguage = value & 0xFFFF;
    }
    return facts;
}

}  // namespace hivewise
