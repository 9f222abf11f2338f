#include "scan/menu_entries/desktop_entry.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <utility>

namespace hivewise {
namespace fs = std::filesystem;
namespace {

// The string escapes of a desktop file's values: \s \n \t \r \\.
std::string UnescapeValue(std::string_view value) {
    std::string out;
    out.reserve(value.size());
    for (size_t i = 0; i < value.size(); ++i) {
        char c = value[i];
        if (c != '\\' || i + 1 == value.size()) {
            out += c;
            continue;
        }
        char next = value[++i];
        switch (next) {
            case 's':
                out += ' ';
                break;
            case 'n':
                out += '\n';
                break;
            case 't':
                out += '\t';
                break;
            case 'r':
                out += '\r';
                break;
            default:
                out += next;
                break;
        }
    }
    return out;
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

bool IsWineProgram(std::string_view arg) {
    size_t slash = arg.rfind('/');
    std::string_view name = slash == std::string_view::npos ? arg : arg.substr(slash + 1);
    return name == "wine" || name == "wine64" || name.rfind("wine-", 0) == 0;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        auto x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        if (std::tolower(x) != std::tolower(y)) return false;
    }
    return true;
}

// What the arguments after the wine program launch.
void ReadLaunch(const std::vector<std::string>& args, size_t at, DesktopEntry* entry) {
    if (at >= args.size()) return;
    if (EqualsNoCase(args[at], "start") || EqualsNoCase(args[at], "start.exe")) {
        for (size_t i = at + 1; i + 1 < args.size(); ++i) {
            if (EqualsNoCase(args[i], "/ProgIDOpen")) {
                entry->progId = args[i + 1];
                return;
            }
            if (EqualsNoCase(args[i], "/Unix")) {
                entry->unixLink = fs::path(args[i + 1]);
                return;
            }
        }
        if (at + 1 < args.size()) entry->windowsPath = args[at + 1];
        return;
    }
    entry->windowsPath = args[at];
}

}  // namespace

std::vector<std::string> SplitExecLine(std::string_view exec) {
    std::string text = UnescapeValue(exec);
    std::vector<std::string> args;
    std::string current;
    bool inWord = false, quoted = false;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (quoted) {
            if (c == '"') {
                quoted = false;
            } else if (c == '\\' && i + 1 < text.size() &&
                       std::string_view("\"`$\\").find(text[i + 1]) != std::string_view::npos) {
                current += text[++i];
            } else {
                current += c;
            }
        } else if (c == '"') {
            quoted = inWord = true;
        } else if (c == '\\' && i + 1 < text.size()) {
            current += text[++i];
            inWord = true;
        } else if (c == ' ' || c == '\t') {
            if (inWord) args.push_back(std::move(current));
            current.clear();
            inWord = false;
        } else {
            current += c;
            inWord = true;
        }
    }
    if (inWord) args.push_back(std::move(current));
    return args;
}

DesktopEntry ParseDesktopEntry(std::string_view text, const fs::path& home) {
    DesktopEntry entry;
    bool inGroup = false;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = Trim(text.substr(start, end - start));
        start = end + 1;
        if (line.empty() || line[0] == '#') continue;
        if (line[0] == '[') {
            inGroup = line == "[Desktop Entry]";
            continue;
        }
        if (!inGroup) continue;
        size_t eq = line.find('=');
        if (eq == std::string_view::npos) continue;
        std::string_view key = Trim(line.substr(0, eq));
        std::string_view value = Trim(line.substr(eq + 1));
        if (key == "Name") {
            entry.name = UnescapeValue(value);
        } else if (key == "Icon") {
            entry.icon = UnescapeValue(value);
        } else if (key == "Exec") {
            entry.exec = std::string(value);
        }
    }
    std::vector<std::string> args = SplitExecLine(entry.exec);
    size_t at = 0;
    std::optional<fs::path> prefix;
    if (at < args.size() && (args[at] == "env" || args[at] == "/usr/bin/env")) {
        ++at;
        for (; at < args.size() && args[at].find('=') != std::string::npos; ++at) {
            constexpr std::string_view kPrefix = "WINEPREFIX=";
            if (args[at].rfind(kPrefix, 0) == 0) prefix = fs::path(args[at].substr(kPrefix.size()));
        }
    }
    if (at < args.size() && IsWineProgram(args[at])) {
        if (!prefix) prefix = home / ".wine";
        if (prefix->is_absolute()) {
            entry.wineMade = true;
            entry.prefix = prefix->lexically_normal();
            if (!entry.prefix.has_filename()) entry.prefix = entry.prefix.parent_path();
            ReadLaunch(args, at + 1, &entry);
        }
    }
    return entry;
}

bool ReadSmallFile(const fs::path& path, std::string* bytes, uint64_t limit) {
    bytes->clear();
    int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    struct stat st {};
    bool ok =
        ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && static_cast<uint64_t>(st.st_size) <= limit;
    while (ok) {
        char buffer[16384];
        ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) ok = false;
        if (got <= 0) break;
        bytes->append(buffer, static_cast<size_t>(got));
        if (bytes->size() > limit) ok = false;
    }
    ::close(fd);
    if (!ok) bytes->clear();
    return ok;
}

namespace {

// The five entities the menu builder writes for characters of names.
std::string UnescapeXml(std::string_view text) {
    static constexpr std::pair<std::string_view, char> kEntities[] = {
        {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
    std::string out;
    for (size_t at = 0; at < text.size();) {
        bool replaced = false;
        for (const auto& [entity, c] : kEntities) {
            if (text.substr(at, entity.size()) == entity) {
                out += c;
                at += entity.size();
                replaced = true;
                break;
            }
        }
        if (!replaced) out += text[at++];
    }
    return out;
}

}  // namespace

MenuFileRefs ParseMenuFile(std::string_view text) {
    MenuFileRefs refs;
    auto collect = [&](std::string_view tag, std::vector<std::string>* out) {
        std::string open = "<" + std::string(tag) + ">";
        std::string close = "</" + std::string(tag) + ">";
        size_t at = 0;
        while ((at = text.find(open, at)) != std::string_view::npos) {
            at += open.size();
            size_t end = text.find(close, at);
            if (end == std::string_view::npos) break;
            out->push_back(UnescapeXml(Trim(text.substr(at, end - at))));
            at = end + close.size();
        }
    };
    collect("Filename", &refs.filenames);
    collect("Directory", &refs.directories);
    return refs;
}

}  // namespace hivewise
