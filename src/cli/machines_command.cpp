// `machines`: one line per machine (name, kind, path, tab-separated) or a JSON array.
#include "cli/machines_command.h"

#include <ostream>

#include "cli/machine_choice.h"
#include "cli/scan_command.h"
#include "platform/machine/machine_finder.h"
#include "platform/machine/sample_machine.h"

namespace hivewise::cli {
namespace {

bool IsValidUtf8(std::string_view text) {
    size_t i = 0;
    while (i < text.size()) {
        auto c = static_cast<unsigned char>(text[i]);
        size_t length = c < 0x80           ? 1
                        : (c >> 5) == 0x6  ? 2
                        : (c >> 4) == 0xE  ? 3
                        : (c >> 3) == 0x1E ? 4
                                           : 0;
        if (length == 0 || i + length > text.size()) return false;
        for (size_t k = 1; k < length; ++k) {
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
        }
        i += length;
    }
    return true;
}

// Names and paths are the host's UTF-8; a name that is not valid UTF-8 is shown as
// Windows-1252 so that the output stays valid JSON.
std::string JsonUtf8(std::string_view text) {
    if (!IsValidUtf8(text)) return JsonString(text);
    std::string json;
    for (char c : text) {
        if (static_cast<unsigned char>(c) < 0x80) {
            // ASCII goes through the shared escaper one character at a time.
            std::string one = JsonString(std::string_view(&c, 1));
            json += one.substr(1, one.size() - 2);
        } else {
            json += c;
        }
    }
    return "\"" + json + "\"";
}

// One field of the line form: tabs and line breaks would split it.
std::string Field(std::string text) {
    for (char& c : text) {
        if (c == '\t' || c == '\n' || c == '\r') c = ' ';
    }
    return text;
}

}  // namespace

int RunMachines(CliContext& ctx, bool json) {
    std::vector<FoundMachine> machines =
        FindMachines(MachineSearchEnvironment(), RunningExecutable());
    if (!json) {
        for (const FoundMachine& m : machines) {
            ctx.out << Field(m.name) << '\t' << MachineKindName(m.kind) << '\t'
                    << Field(m.path.string()) << '\n';
        }
        return 0;
    }
    ctx.out << '[';
    bool first = true;
    for (const FoundMachine& m : machines) {
        ctx.out << (first ? "\n" : ",\n") << "  {\"name\": " << JsonUtf8(m.name) << ", \"kind\": \""
                << MachineKindName(m.kind) << "\", \"path\": " << JsonUtf8(m.path.string())
                << ", \"windows\": " << JsonString(m.windows)
                << ", \"registryBytes\": " << m.registryBytes
                << ", \"wineRunning\": " << (m.wineRunning ? "true" : "false") << '}';
        first = false;
    }
    ctx.out << (first ? "]\n" : "\n]\n");
    return 0;
}

}  // namespace hivewise::cli
