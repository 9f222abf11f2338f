#include "update/update_check.h"

#include <cctype>
#include <charconv>

#include "platform/files/file_system_access.h"
#include "platform/machine/string_table.h"
#include "platform/registry/registry_access.h"
#include "update/page_fetch.h"

namespace hivewise {
namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Where the leading number of a version page stands: [start, end) after the sign;
// start == end when there is none.
struct NumberSpan {
    size_t start = 0;
    size_t end = 0;
    bool negative = false;
};

NumberSpan LeadingNumber(std::string_view text) {
    size_t pos = 0;
    while (pos < text.size() && std::isspace(static_cast<unsigned char>(text[pos])))
        ++pos;
    bool negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) negative = text[pos++] == '-';
    const size_t numberStart = pos;
    size_t digits = 0;
    while (pos < text.size() && IsDigit(text[pos])) {
        ++pos;
        ++digits;
    }
    if (pos < text.size() && text[pos] == '.') {
        ++pos;
        while (pos < text.size() && IsDigit(text[pos])) {
            ++pos;
            ++digits;
        }
    }
    if (digits == 0) return {};
    // An exponent counts only when digits follow it.
    if (pos < text.size() && (text[pos] == 'e' || text[pos] == 'E')) {
        size_t e = pos + 1;
        if (e < text.size() && (text[e] == '+' || text[e] == '-')) ++e;
        if (e < text.size() && IsDigit(text[e])) {
            while (e < text.size() && IsDigit(text[e]))
                ++e;
            pos = e;
        }
    }
    return {numberStart, pos, negative};
}

}  // namespace

std::string PublishedVersion(std::string_view page) {
    NumberSpan span = LeadingNumber(page);
    return std::string(page.substr(span.start, span.end - span.start));
}

double VersionNumber(std::string_view text) {
    NumberSpan span = LeadingNumber(text);
    if (span.start == span.end) return 0;
    const bool negative = span.negative;
    double value = 0;
    auto result = std::from_chars(text.data() + span.start, text.data() + span.end, value,
                                  std::chars_format::general);
    // Out of range: the largest magnitude the text asks for is no real version anyway.
    if (result.ec != std::errc()) return 0;
    return negative ? -value : value;
}

UpdateCheck CheckForUpdate(Machine& machine, const std::string& versionPage) {
    UpdateCheck check;
    std::string address = versionPage.empty() ? LoadResourceText(kIdsVersionPageUrl) : versionPage;
    std::string published;
    if (!FetchPage(address, published, 1)) return check;

    RegistryAccess registry(machine);
    std::string installed;
    if (!registry.ReadSetting("Version", &installed)) {
        check.installationCorrupt = true;
        return check;
    }
    check.checked = true;
    // The page is outside input: only its number is shown, never the rest of it.
    if (VersionNumber(installed) < VersionNumber(published))
        check.version = PublishedVersion(published);
    return check;
}

UpdaterCommand BuildUpdaterCommand(const std::string& updateFolderAddress,
                                   const std::string& programFile,
                                   const std::string& programFolder) {
    UpdaterCommand command;
    command.parameters =
        " -url \"" + updateFolderAddress + "\\hivewise.exe\" -dest \"" + programFile + "\"";
    command.file = "\"" + programFolder + "\\" + std::string(kUpdaterFileName) + "\"";
    return command;
}

void StartUpdater(Machine& machine) {
    FileSystemAccess files(machine);
    const std::string folder = files.ExecutableDirectory();
    UpdaterCommand command =
        BuildUpdaterCommand(LoadResourceText(kIdsUpdateFolderUrl), machine.ProgramFile(), folder);
    // The quotes are for the shell's parsing of the command; the launcher takes the path.
    const std::string updater = folder + "\\" + std::string(kUpdaterFileName);
    if (files.PathFileExists(updater)) files.LaunchProgram(updater, command.parameters, false);
}

}  // namespace hivewise
