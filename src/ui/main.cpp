// The desktop program: one instance per user session, a splash while the machine loads,
// then the main window until the user closes it.
#include <QApplication>
#include <QStyleFactory>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "app/desktop_memory.h"
#include "app/machine_chooser.h"
#include "app/settings.h"
#include "app/single_instance.h"
#include "app/startup.h"
#include "platform/machine/local_time.h"
#include "platform/machine/machine.h"
#include "platform/machine/sample_machine.h"
#include "platform/registry/process_heap.h"
#include "ui/desktop_session.h"
#include "ui/qt_prompts.h"
#include "ui/splash.h"

namespace {

std::map<std::string, std::string> HostEnvironment(std::initializer_list<const char*> names) {
    std::map<std::string, std::string> env;
    for (const char* name : names) {
        if (const char* value = std::getenv(name)) env[name] = value;
    }
    return env;
}

// --prefix DIR or --prefix=DIR; nothing when not given.
std::optional<std::filesystem::path> PrefixOption(const QStringList& arguments) {
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& arg = arguments[i];
        if (arg == "--prefix" && i + 1 < arguments.size()) {
            return std::filesystem::path(arguments[i + 1].toStdString());
        }
        if (arg.startsWith("--prefix=")) {
            return std::filesystem::path(arg.mid(9).toStdString());
        }
    }
    return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace hivewise;
    PrepareProcessHeap();
    ReadTimeZoneOnce();

    // Answered before any window, lock or machine is touched.
    for (int i = 1; i < argc; ++i) {
        if (std::string_view(argv[i]) == "--version") {
            std::printf("hivewise %s\n", std::string(kProgramVersion).c_str());
            return 0;
        }
        if (std::string_view(argv[i]) == "--help" || std::string_view(argv[i]) == "-h") {
            std::printf(
                "Usage: hivewise [--prefix DIR] [Qt options]\n"
                "Finds and repairs stale entries in the registry of a Wine prefix.\n\n"
                "  --prefix DIR  the Wine prefix to open; without it $WINEPREFIX, the machine\n"
                "                last worked on, ~/.wine, else the sample machine\n"
                "  --version     print the version and exit\n"
                "  --help        print this text and exit\n\n"
                "hivewise-cli does the same work from a terminal; see hivewise(1).\n");
            return 0;
        }
    }

    // A second start ends at once, before any window or the machine is touched.
    SingleInstanceLock instance;
    std::filesystem::path lockPath =
        DefaultInstanceLockPath(HostEnvironment({"XDG_RUNTIME_DIR", "TMPDIR"}));
    ui::QtPrompts prompts;
    ui::CSplashThread splash;
    StartUp startUp(prompts, splash);
    if (!startUp.CheckSingleInstance([&] {
            return instance.Acquire(lockPath) != SingleInstanceLock::Result::HeldElsewhere;
        })) {
        return 0;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName("Hivewise");
    // Under Wayland the window is matched to its desktop entry by this id.
    QGuiApplication::setDesktopFileName("io.github.hivewise.Hivewise");
    QApplication::setApplicationVersion(QString::fromUtf8(kProgramVersion.data()));
    if (QStyle* fusion = QStyleFactory::create("Fusion")) QApplication::setStyle(fusion);

    if (!startUp.ShowSplash()) return 1;

    const auto env = HostEnvironment({"HOME", "WINEPREFIX", "XDG_DATA_HOME"});
    DesktopMemory memory(DesktopMemory::DefaultFile(HostEnvironment({"HOME", "XDG_CONFIG_HOME"})));
    std::optional<std::filesystem::path> prefix = PrefixOption(QApplication::arguments());
    std::unique_ptr<Machine> machine;
    std::string error;
    bool isSample = false;
    // The machine chosen in the window last time, unless this start names one.
    std::optional<MachineRequest> remembered =
        prefix ? std::nullopt : RememberedStartMachine(memory, env);
    if (remembered) {
        Machine::LoadResult loaded = LoadRequestedMachine(*remembered, env, RunningExecutable());
        machine = std::move(loaded.machine);
        isSample = remembered->isSample;
    }
    if (!machine) {
        MachineChoice choice = ChooseMachine(prefix, env, RunningExecutable());
        error = choice.error;
        isSample = choice.isSample;
        if (!choice.folder.empty()) {
            Machine::LoadResult loaded = Machine::Load(choice.folder);
            machine = std::move(loaded.machine);
            error = loaded.error;
        }
    }
    if (!machine) {
        startUp.CloseSplash();
        prompts.Message(error.empty() ? "The Windows installation could not be loaded." : error,
                        MessageIcon::Stop);
        return 1;
    }
    ui::DesktopSessionOptions options;
    options.env = env;
    options.executable = RunningExecutable();
    options.memory = &memory;
    return ui::RunDesktopSession(std::move(machine), isSample, startUp, options);
}
