// hivewise-cli's commands and options, parsed by CLI11 in this one place. Only `reg` keeps
// its own parser: it takes Windows' reg syntax, whose switches begin with '/'.
#include "cli/command_line.h"

#include <CLI/CLI.hpp>

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "app/settings.h"
#include "cli/cli_context.h"
#include "cli/exit_status.h"

namespace hivewise::cli {
namespace {

// Beneath the help of each command.
constexpr const char* kCommandFooter =
    "--prefix DIR, before or after the command, chooses the Wine prefix; hivewise-cli --help\n"
    "tells more.";

constexpr const char* kFooter =
    "KEY is ROOT\\SUBKEY, ROOT one of HKLM, HKCU, HKCR, HKU (or HKEY_LOCAL_MACHINE,\n"
    "HKEY_CURRENT_USER, HKEY_CLASSES_ROOT, HKEY_USERS). \"hivewise-cli reg /?\" tells more.\n"
    "\"hivewise-cli COMMAND --help\" describes each command.";

// "--prefix=" or "--from ''" name nothing; they are no way to ask for the default.
CLI::Validator NotEmpty() {
    return CLI::Validator(
        [](std::string& text) {
            return text.empty() ? std::string("needs a value") : std::string();
        },
        "");
}

// The options that several commands take, spelt and described once.
void AddYes(CLI::App& command, bool* yes, const std::string& description) {
    command.add_flag("-y,--yes", *yes, description);
}

// On a command with actions, the actions take it too (they fall through to it).
void AddJson(CLI::App& command, bool* json) {
    command.add_flag("--json", *json, "print one JSON object instead of text");
}

void AddSections(CLI::App& command, std::optional<SectionTicks>* chosen) {
    CLI::Validator sectionIds(
        [](std::string& list) {
            SectionTicks ticks{};
            std::string bad;
            if (ParseSections(list, &ticks, &bad)) return std::string();
            return "Unknown section id \"" + bad + "\": the section ids are 0 to " +
                   std::to_string(kSectionCount - 1) + ", separated by commas.";
        },
        "");
    command
        .add_option_function<std::string>(
            "--sections",
            [chosen](const std::string& list) {
                SectionTicks ticks{};
                std::string bad;
                if (ParseSections(list, &ticks, &bad)) *chosen = ticks;
            },
            "the sections to scan, by id (0 to " + std::to_string(kSectionCount - 1) +
                ");\nwithout it those ticked in the settings")
        ->type_name("ID,ID,...")
        ->check(sectionIds);
}

// A command that takes the program's options (--prefix) after its name too.
CLI::App* AddCommand(CLI::App& parent, const std::string& name, const std::string& description) {
    CLI::App* command = parent.add_subcommand(name, description);
    command->fallthrough();
    return command;
}

CLI::Option* AddArchive(CLI::App& command, std::string* archive, const std::string& lister) {
    return command
        .add_option("ARCHIVE", *archive,
                    "an archive's file name as `" + lister + "` prints it, or its path")
        ->required()
        ->type_name("");
}

void AddBackups(CLI::App& app, CommandLine& line) {
    BackupsOptions& options = line.backups;
    CLI::App* backups = AddCommand(
        app, "backups", "the fix backups: list them, show and restore their items, delete one");
    backups->require_subcommand(1);
    AddJson(*backups, &line.json);
    AddCommand(*backups, "list", "the fix backups, newest first");
    CLI::App* show =
        AddCommand(*backups, "show", "the items of an archive: number, kind, registry path");
    AddArchive(*show, &options.archive, "backups list");

    CLI::App* restore = AddCommand(*backups, "restore", "puts items of an archive back");
    AddArchive(*restore, &options.archive, "backups list");
    CLI::App* which = restore->add_option_group("which items");
    which->add_option("--items", options.items, "the items of these numbers, as `show` lists them")
        ->type_name("N,N,...");
    which->add_flag("--all", options.all, "every item");
    which->require_option(1);
    AddYes(*restore, &options.yes, "answer yes to the restore's questions");

    CLI::App* remove = AddCommand(*backups, "remove", "deletes an archive");
    AddArchive(*remove, &options.archive, "backups list");
    AddYes(*remove, &options.yes, "delete without asking (asked on the terminal otherwise)");
}

void AddFullBackup(CLI::App& app, CommandLine& line) {
    FullBackupOptions& options = line.fullBackup;
    CLI::App* full = AddCommand(app, "fullbackup",
                                "saves the whole registry into RegBackup, lists those backups\n"
                                "(newest first), or puts one back");
    full->require_subcommand(1);
    AddJson(*full, &line.json);
    AddCommand(*full, "create", "saves the whole registry into a new archive");
    AddCommand(*full, "list", "the full backups, newest first");
    CLI::App* restore = AddCommand(*full, "restore", "puts the registry of an archive back");
    AddArchive(*restore, &options.archive, "fullbackup list");
    AddYes(*restore, &options.yes, "restore without asking (asked on the terminal otherwise)");
}

void AddTool(CLI::App& app, CommandLine& line, const std::string& name, const std::string& what) {
    ToolOptions& options = line.tool;
    CLI::App* tool = AddCommand(app, name,
                                "the " + what +
                                    ": list, remove (parked under HKCU\\SOFTWARE\\Hivewise\n"
                                    "first) and restore them");
    tool->require_subcommand(1);
    AddJson(*tool, &line.json);
    AddCommand(*tool, "list",
               "the " + what + ": name, command and where each lives, tab-separated");
    CLI::App* remove =
        AddCommand(*tool, "remove",
                   "parks the named entries under HKCU\\SOFTWARE\\Hivewise, then removes them");
    remove->add_option("NAME", options.names, "the entries' names, as list prints them")
        ->required()
        ->type_name("");
    AddCommand(*tool, "parked", "the entries removed earlier");
    CLI::App* restore = AddCommand(*tool, "restore", "puts entries removed earlier back");
    CLI::App* which = restore->add_option_group("which entries");
    which->add_option("NAME", options.names, "the entries' names, as parked prints them")
        ->type_name("");
    which->add_flag("--all", options.all, "every parked entry");
    which->require_option(1);
}

// Every command, with `line` taking what the user gave.
void DefineCommands(CLI::App& app, CommandLine& line) {
    // reg's words go to its own parser untouched, --help and /? included.
    CLI::App* reg =
        app.add_subcommand("reg",
                           "edits the registry with Windows' reg syntax:\n"
                           "reg query KEY [/v NAME | /ve] [/s]\n"
                           "reg add KEY [/v NAME | /ve] [/t TYPE] [/s SEPARATOR] [/d DATA] [/f]\n"
                           "reg delete KEY [/v NAME | /ve | /va] [/f]\n"
                           "reg export KEY FILE [/y]\n"
                           "reg import FILE");
    reg->prefix_command();
    reg->set_help_flag();

    CLI::App* scan = AddCommand(app, "scan",
                                "scans the sections (without --sections those ticked in the\n"
                                "settings); Ctrl-C aborts the scan");
    AddSections(*scan, &line.scan.sections);
    AddJson(*scan, &line.json);

    CLI::App* repair = AddCommand(
        app, "repair", "scans, then saves every finding into a fix backup and removes it");
    AddSections(*repair, &line.repair.sections);
    AddYes(*repair, &line.repair.yes,
           "answer yes to the repair's questions (asked on the terminal otherwise)");
    AddJson(*repair, &line.json);

    AddBackups(app, line);
    AddFullBackup(app, line);

    CLI::App* machines =
        AddCommand(app, "machines",
                   "lists the Wine prefixes found: Wine's own, Steam (Proton),\n"
                   "Bottles, Lutris, PlayOnLinux, CrossOver, and the sample machine");
    AddJson(*machines, &line.json);

    CLI::App* update =
        AddCommand(app, "update",
                   "asks the update server (or the version page at URL) for a newer\n"
                   "version; it never downloads or installs anything");
    update->add_flag("--check")->description("check for a newer version")->required();
    update->add_option("--from", line.updateFrom, "the version page to ask")
        ->type_name("URL")
        ->check(NotEmpty());
    AddJson(*update, &line.json);

    AddTool(app, line, "startup", "startup programs");
    AddTool(app, line, "bho", "browser helper objects");
    AddTool(app, line, "programs", "installed programs");
}

// The commands the line named, outermost first: "backups", "restore".
std::vector<const CLI::App*> NamedCommands(const CLI::App& app) {
    std::vector<const CLI::App*> named;
    const CLI::App* current = &app;
    for (;;) {
        const CLI::App* next = nullptr;
        for (const CLI::App* sub : current->get_subcommands()) {
            if (!sub->get_name().empty()) next = sub;
        }
        if (!next) return named;
        named.push_back(next);
        current = next;
    }
}

// Which command and action the parsed line asks for.
void TakeCommand(const std::vector<const CLI::App*>& named, CommandLine& line) {
    using Command = CommandLine::Command;
    const std::string& name = named.front()->get_name();
    const std::string action = named.size() > 1 ? named[1]->get_name() : std::string();
    if (name == "reg") {
        line.command = Command::Reg;
        line.regArgs = named.front()->remaining();
    } else if (name == "scan") {
        line.command = Command::Scan;
    } else if (name == "repair") {
        line.command = Command::Repair;
    } else if (name == "backups") {
        using Action = BackupsOptions::Action;
        line.command = Command::Backups;
        line.backups.action = action == "show"      ? Action::Show
                              : action == "restore" ? Action::Restore
                              : action == "remove"  ? Action::Remove
                                                    : Action::List;
    } else if (name == "fullbackup") {
        using Action = FullBackupOptions::Action;
        line.command = Command::FullBackup;
        line.fullBackup.action = action == "create"    ? Action::Create
                                 : action == "restore" ? Action::Restore
                                                       : Action::List;
    } else if (name == "machines") {
        line.command = Command::Machines;
    } else if (name == "update") {
        line.command = Command::Update;
    } else {
        using Action = ToolOptions::Action;
        line.command = Command::Tool;
        line.tool.tool = name;
        line.tool.action = action == "remove"    ? Action::Remove
                           : action == "parked"  ? Action::Parked
                           : action == "restore" ? Action::Restore
                                                 : Action::List;
    }
}

// The usage of the innermost command named: "hivewise-cli backups restore ...".
void PrintUsage(const CLI::App& app, CLI::Formatter& formatter, std::ostream& err) {
    const CLI::App* command = &app;
    std::string words = app.get_name();
    for (const CLI::App* named : NamedCommands(app)) {
        command = named;
        words += " " + named->get_name();
    }
    std::string usage = formatter.make_usage(command, words);
    while (!usage.empty() && usage.back() == '\n')
        usage.pop_back();
    err << usage << "  (--help tells more)\n";
}

// Whether the command may ask a question, which --yes answers in advance.
bool AsksQuestions(const CommandLine& line) {
    using Command = CommandLine::Command;
    switch (line.command) {
        case Command::Repair:
            return !line.repair.yes;
        case Command::Backups:
            return line.backups.action != BackupsOptions::Action::List &&
                   line.backups.action != BackupsOptions::Action::Show && !line.backups.yes;
        case Command::FullBackup:
            return line.fullBackup.action == FullBackupOptions::Action::Restore &&
                   !line.fullBackup.yes;
        default:
            return false;
    }
}

}  // namespace

std::optional<CommandLine> ParseCommandLine(int argc, const char* const* argv, std::ostream& out,
                                            std::ostream& err, int* status) {
    CommandLine line;
    CLI::App app("Works on the registry of a Wine prefix without Wine running.", "hivewise-cli");
    app.set_help_flag("-h,--help", "show this help");
    app.set_version_flag("--version", "hivewise-cli " + std::string(kProgramVersion),
                         "show the program's version");
    auto formatter = std::make_shared<CLI::Formatter>();
    formatter->column_width(24);
    app.formatter(formatter);
    // The last of a repeated option counts, as it always has.
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    // One command per run; a word after it is never taken for another command.
    app.require_subcommand(1);
    std::string prefix;
    CLI::Option* prefixOption =
        app.add_option("--prefix", prefix,
                       "the Wine prefix to work on, or a machine's name as \"machines\" lists\n"
                       "it; without it $WINEPREFIX, else ~/.wine, else the sample machine")
            ->type_name("DIR")
            ->check(NotEmpty());
    app.footer(kCommandFooter);  // the commands inherit it
    DefineCommands(app, line);
    app.footer(kFooter);

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        out << app.help();
        *status = kExitDone;
        return std::nullopt;
    } catch (const CLI::CallForVersion& version) {
        out << version.what() << '\n';
        *status = kExitDone;
        return std::nullopt;
    } catch (const CLI::ParseError& error) {
        // A word nothing took explains a missing command or option better than its absence.
        std::vector<std::string> unused = app.remaining(true);
        if (dynamic_cast<const CLI::RequiredError*>(&error) && !unused.empty()) {
            PrintError(err, CLI::ExtrasError(unused).what());
        } else {
            PrintError(err, error.what());
        }
        PrintUsage(app, *formatter, err);
        *status = kExitUsage;
        return std::nullopt;
    }
    if (prefixOption->count() > 0) line.prefix = prefix;
    std::vector<const CLI::App*> named = NamedCommands(app);
    if (named.empty()) {  // the parser requires a command; this only guards the lookup
        *status = kExitUsage;
        return std::nullopt;
    }
    TakeCommand(named, line);
    line.scan.json = line.json;
    if (line.json && AsksQuestions(line)) {
        PrintError(err, "With --json nothing is asked: add --yes to do it without asking.");
        PrintUsage(app, *formatter, err);
        *status = kExitUsage;
        return std::nullopt;
    }
    *status = kExitDone;
    return line;
}

}  // namespace hivewise::cli
