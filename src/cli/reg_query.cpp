#include <signal.h>

#include <ostream>
#include <unordered_set>

#include "cli/reg_common.h"
#include "platform/machine/text.h"
#include "report/output_text.h"

namespace hivewise::cli {
namespace {

constexpr const char* kUsage =
    "Usage: hivewise-cli reg query KEY [/v NAME | /ve] [/s]\n"
    "\n"
    "  KEY      ROOT\\SUBKEY; ROOT is HKLM, HKCU, HKCR or HKU\n"
    "  /v NAME  show only the value NAME\n"
    "  /ve      show only the default value\n"
    "  /s       take in every sub-key below KEY as well\n";

// Names and data come from the prefix: each field stays on its line, and no escape
// sequence in them reaches the terminal.
void PrintValue(std::ostream& out, const RegValue& value) {
    out << "    " << TerminalField(DisplayName(value.name)) << "    " << TypeName(value.type)
        << "    " << TerminalField(FormatData(value)) << '\n';
}

// Ctrl-C ends a long walk; the handler only sets the flag.
volatile sig_atomic_t g_stop = 0;

extern "C" void OnQueryInterrupt(int) {
    g_stop = 1;
}

class StopOnInterrupt {
  public:
    StopOnInterrupt() {
        g_stop = 0;
        struct sigaction action {};
        action.sa_handler = OnQueryInterrupt;
        sigemptyset(&action.sa_mask);
        installed_ = ::sigaction(SIGINT, &action, &previous_) == 0;
    }
    ~StopOnInterrupt() {
        if (installed_) ::sigaction(SIGINT, &previous_, nullptr);
    }
    StopOnInterrupt(const StopOnInterrupt&) = delete;
    StopOnInterrupt& operator=(const StopOnInterrupt&) = delete;

  private:
    struct sigaction previous_ {};
    bool installed_ = false;
};

// Visits KEY and every key below it, depth first, in the order the registry lists them.
// Iterative, so that a very deep registry cannot exhaust the stack. A link is entered
// unless it leads back to a key on the current path or the walk has already entered
// kMaxLinksPerWalk links; either way it is shown without contents. False when Ctrl-C
// ended the walk.
template <typename Visit>
bool WalkTree(const RegistryStore& store, RegKey* top, const std::string& topPath, Visit visit) {
    struct Frame {
        RegKey* key;
        std::string path;
        size_t next = 0;
    };
    StopOnInterrupt guard;
    std::vector<Frame> stack;
    std::unordered_set<const RegKey*> onPath;
    int linksLeft = kMaxLinksPerWalk;
    stack.push_back({top, topPath});
    onPath.insert(top);
    visit(top, stack.back().path);
    while (!stack.empty()) {
        if (g_stop) return false;
        Frame& frame = stack.back();
        if (frame.next >= frame.key->SubKeyCount()) {
            onPath.erase(frame.key);
            stack.pop_back();
            continue;
        }
        RegKey* child = frame.key->SubKey(frame.next++);
        std::string path = frame.path + "\\" + Utf16ToUtf8(child->Name());
        RegKey* target = child;
        if (child->IsLink()) target = --linksLeft < 0 ? nullptr : store.LinkTarget(child);
        if (!target || onPath.count(target)) {
            visit(nullptr, path);
            continue;
        }
        onPath.insert(target);
        stack.push_back({target, std::move(path)});
        visit(target, stack.back().path);
    }
    return true;
}

}  // namespace

int RegQuery(CliContext& ctx, const std::vector<std::string>& args) {
    RegArgs parsed;
    if (!ParseRegArgs(args, kSwitchV | kSwitchVe | kSwitchRecurse, &parsed)) {
        return FailSyntax(ctx, "query");
    }
    if (parsed.help) {
        ctx.out << kUsage;
        return 0;
    }
    std::optional<KeyPath> path = ParseKeyPath(parsed.key);
    if (!path) return Fail(ctx, kInvalidKey);

    // Reading needs neither the lock nor Wine to be stopped.
    MachineOptions options;
    options.lockPrefix = false;
    options.readOnly = true;
    LoadedMachine machine = LoadMachine(ctx, options);
    if (!machine) return 1;
    const RegistryStore& store = machine->Registry();
    RegKey* key = OpenKey(*machine, *path);
    if (!key) return Fail(ctx, kNotFound);
    std::ostream& out = ctx.out;

    if (parsed.valueName && !parsed.recurse) {
        std::u16string name = Utf8ToUtf16(*parsed.valueName);
        const RegValue* value = key->FindValue(name);
        if (!value && !name.empty()) return Fail(ctx, kNotFound);
        out << '\n' << TerminalField(path->Display()) << '\n';
        if (value) {
            PrintValue(out, *value);
        } else {
            out << "    (Default)    REG_SZ    (value not set)\n";
        }
        out << '\n';
        return 0;
    }

    if (parsed.valueName) {
        std::u16string name = Utf8ToUtf16(*parsed.valueName);
        size_t matches = 0;
        bool whole =
            WalkTree(store, key, path->Display(), [&](RegKey* k, const std::string& display) {
                const RegValue* value = k ? k->FindValue(name) : nullptr;
                if (!value) return;
                out << '\n' << TerminalField(display) << '\n';
                PrintValue(out, *value);
                ++matches;
            });
        if (!whole) return Fail(ctx, kCancelled);
        if (matches == 0) return Fail(ctx, kNotFound);
        out << "\nEnd of search: " << matches << " match(es) found.\n";
        return 0;
    }

    if (parsed.recurse) {
        ValuePeek peek;  // a large branch is listed without keeping its values decoded
        bool whole =
            WalkTree(store, key, path->Display(), [&](RegKey* k, const std::string& display) {
                out << '\n' << TerminalField(display) << '\n';
                if (!k) return;
                for (const auto& value : peek.Of(k))
                    PrintValue(out, value);
            });
        out << '\n';
        return whole ? 0 : Fail(ctx, kCancelled);
    }

    out << '\n' << TerminalField(path->Display()) << '\n';
    for (const auto& value : key->Values())
        PrintValue(out, value);
    out << '\n';
    for (RegKey* child : key->SubKeys()) {
        out << TerminalField(path->Display() + '\\' + Utf16ToUtf8(child->Name())) << '\n';
    }
    return 0;
}

}  // namespace hivewise::cli
