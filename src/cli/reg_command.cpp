#include <ostream>

#include "cli/cli_context.h"
#include "cli/reg_common.h"

namespace hivewise::cli {
namespace {

constexpr const char* kRegUsage =
    "Usage: hivewise-cli [--prefix DIR] reg OPERATION KEY [SWITCHES]\n"
    "\n"
    "  reg query KEY [/v NAME | /ve] [/s]\n"
    "  reg add KEY [/v NAME | /ve] [/t TYPE] [/s SEPARATOR] [/d DATA] [/f]\n"
    "  reg delete KEY [/v NAME | /ve | /va] [/f]\n"
    "  reg export KEY FILE [/y]\n"
    "  reg import FILE\n"
    "\n"
    "KEY is ROOT\\SUBKEY, ROOT one of HKLM, HKCU, HKCR, HKU or their long names.\n"
    "Names and data are read and shown in UTF-8.\n"
    "\"hivewise-cli reg OPERATION /?\" describes each operation.\n";

std::string Lower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    }
    return text;
}

}  // namespace

int RunReg(CliContext& ctx, const std::vector<std::string>& args) {
    if (args.empty()) {
        ctx.err << kRegUsage;
        return 1;
    }
    std::string operation = Lower(args[0]);
    if (operation == "/?" || operation == "-?" || operation == "--help" || operation == "-h") {
        ctx.out << kRegUsage;
        return 0;
    }
    std::vector<std::string> rest(args.begin() + 1, args.end());
    if (operation == "query") return RegQuery(ctx, rest);
    if (operation == "add") return RegAdd(ctx, rest);
    if (operation == "delete") return RegDelete(ctx, rest);
    if (operation == "export") return RegExport(ctx, rest);
    if (operation == "import") return RegImport(ctx, rest);
    return Fail(ctx, "ERROR: Invalid syntax. Unknown operation " + args[0] +
                         "; type \"hivewise-cli reg /?\" for usage.");
}

}  // namespace hivewise::cli
