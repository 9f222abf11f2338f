#include "platform/machine/registry_glance.h"

#include <array>
#include <fstream>
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

// A registry larger than this is not a prefix's system.reg.
constexpr std::uintmax_t kMaxSystemReg = 512u << 20;

bool IsWanted(std::string_view line) {
    // "[Name] 1699999999": the name up to its closing bracket.
    size_t close = line.find(']');
    if (line.empty() || line[0] != '[' || close == std::string_view::npos) return false;
    std::string_view name = line.substr(1, close - 1);
    for (std::string_view wanted : kWantedSections) {
        if (AnsiEqualsNoCase(name, wanted)) return true;
    }
    return false;
}

}  // namespace

std::optional<VersionFacts> GlanceVersionFacts(const fs::path& systemReg) {
    std::error_code ec;
    std::uintmax_t size = fs::file_size(systemReg, ec);
    if (ec || size > kMaxSystemReg) return std::nullopt;
    std::ifstream in(systemReg, std::ios::binary);
    if (!in) return std::nullopt;
    std::string content(static_cast<size_t>(size), '\0');
    in.read(content.data(), static_cast<std::streamsize>(size));
    content.resize(static_cast<size_t>(in.gcount()));

    // The file's header, then only the wanted sections: each runs from its "[" line to
    // the next line that opens a section.
    std::string_view text = content;
    size_t first = text.find("\n[");
    std::string small(text.substr(0, first == std::string_view::npos ? text.size() : first + 1));
    size_t pos = first == std::string_view::npos ? text.size() : first + 1;
    size_t found = 0;
    while (pos < text.size() && found < kWantedSections.size()) {
        size_t next = text.find("\n[", pos);
        size_t end = next == std::string_view::npos ? text.size() : next + 1;
        size_t lineEnd = text.find('\n', pos);
        std::string_view line =
            text.substr(pos, (lineEnd == std::string_view::npos ? end : lineEnd) - pos);
        if (IsWanted(line)) {
            small += "\n";
            small.append(text.substr(pos, end - pos));
            ++found;
        }
        pos = end;
    }

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
