// The window's scan and details view on a generated prefix, beside the same scan taken
// directly on its thread as the command line does:
//   window_timing VALUES [FOLDER] [scan|nodirect]
// writes a prefix of VALUES values into FOLDER (a temporary folder by default), scans it
// both ways and opens the details of the section with the most findings. The direct scan
// runs in a child process, so that the memory figures are the window's alone. "scan" stops
// after the scans; "nodirect" leaves the direct scan out. Prints each aim as a ratio beside
// it. Runs without a display (offscreen) unless QT_QPA_PLATFORM says otherwise.
#include <sys/wait.h>
#include <unistd.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QScrollBar>
#include <QTimer>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "generated_prefix.h"
#include "platform/machine/local_time.h"
#include "platform/registry/process_heap.h"
#include "platform/registry/registry_access.h"
#include "process_memory.h"
#include "scan/result_store.h"
#include "scan/scan_driver.h"
#include "ui/desktop_app.h"
#include "ui/problem_details_view.h"

namespace {

using namespace hivewise;
using bench::StatusKb;

// What the scan as the command line takes it cost: findings handed over on the scan thread.
struct DirectScan {
    bool ok = false;
    double seconds = 0;
    int findings = 0;
    long peakKb = 0;
};

// Runs the direct scan in a child process, which shares the loaded machine and leaves
// nothing behind in this one's memory.
DirectScan RunDirectScan(Machine& machine, const std::array<bool, kSectionCount>& ticks,
                         unsigned estimate) {
    DirectScan result;
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) return result;
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        close(pipeEnds[0]);
        ResultStore results;
        ScanDriver driver(machine, results);
        driver.SetIntegrityDelay(std::chrono::milliseconds(0));
        QElapsedTimer clock;
        clock.start();
        driver.RunToEnd(ticks, estimate);
        result.seconds = clock.elapsed() / 1000.0;
        result.findings = results.Total();
        result.peakKb = StatusKb("VmHWM:");
        result.ok = true;
        const bool written = write(pipeEnds[1], &result, sizeof result) == sizeof result;
        _exit(written ? 0 : 1);
    }
    close(pipeEnds[1]);
    if (child > 0) {
        if (read(pipeEnds[0], &result, sizeof result) != sizeof result) result = DirectScan{};
        waitpid(child, nullptr, 0);
    }
    close(pipeEnds[0]);
    return result;
}

// What the result store's findings say: each record and its texts as read out. The
// records hold less, as they keep repeated texts once.
double FindingsMb(const ResultStore& results) {
    size_t bytes = 0;
    for (const auto& problem : results.Problems()) {
        bytes += sizeof(Problem);
        for (std::string_view text :
             {problem->ItemText(), problem->Location(), problem->ValueName(), problem->ValueData(),
              problem->Description()}) {
            bytes += text.size();
        }
    }
    return static_cast<double>(bytes) / 1048576.0;
}

void Ratio(const char* what, double value, double aim) {
    std::printf("  %-36s %6.2fx  (aim %gx: %s)\n", what, value, aim,
                value <= aim ? "holds" : "MISSED");
}

// Runs the event loop, asleep between events as the program's own loop is, until `done`.
void WaitFor(const std::function<bool()>& done) {
    QTimer poll;
    poll.start(10);
    while (!done())
        QApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

}  // namespace

int main(int argc, char** argv) {
    // As the desktop program prepares its heap and time zone.
    PrepareProcessHeap();
    ReadTimeZoneOnce();
    if (argc < 2) {
        std::fprintf(stderr, "usage: window_timing VALUES [FOLDER] [scan|nodirect]\n");
        return 2;
    }
    const size_t values = std::strtoul(argv[1], nullptr, 10);
    std::filesystem::path folder = argc > 2 ? std::filesystem::path(argv[2])
                                            : std::filesystem::temp_directory_path() /
                                                  ("window-timing-" + std::to_string(values));
    if (!std::filesystem::exists(folder / "system.reg")) {
        std::string error;
        if (!bench::WriteGeneratedPrefix(folder, values, &error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return 1;
        }
    }
    Machine::LoadResult loaded = Machine::Load(folder);
    if (!loaded.machine) {
        std::fprintf(stderr, "%s\n", loaded.error.c_str());
        return 1;
    }
    Machine& machine = *loaded.machine;
    const double regMb =
        static_cast<double>(std::filesystem::file_size(folder / "system.reg")) / 1048576.0;
    std::array<bool, kSectionCount> ticks{};
    for (int id = 1; id < kSectionCount; ++id)
        ticks[static_cast<size_t>(id)] = true;
    unsigned estimate = 0;
    {
        RegistryAccess registry(machine);
        estimate = CompleteScanEstimate(registry);
    }

    // Before the window's toolkit starts any thread, so that the child forks cleanly.
    const std::string mode = argc > 3 ? argv[3] : "";
    DirectScan direct;
    if (mode != "nodirect") {
        direct = RunDirectScan(machine, ticks, estimate);
        if (!direct.ok) {
            std::fprintf(stderr, "window_timing: the direct scan failed\n");
            return 1;
        }
    }
    const long rssLoaded = StatusKb("VmRSS:");

    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication application(argc, argv);
    QElapsedTimer clock;

    // Message boxes at the scan's end are answered at once.
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) box->close();
    });
    closer.start(50);

    ui::DesktopApp app(machine, false);
    MainWindow& logic = app.Logic();
    logic.SetCompleteScanEstimate(estimate);
    for (int id = 1; id < kSectionCount; ++id)
        logic.SetTicked(id, true);
    app.View().show();
    clock.restart();
    logic.ClickScanArea();
    WaitFor([&] { return logic.View() == MainView::Results; });
    const double windowSeconds = clock.elapsed() / 1000.0;
    const int windowFindings = logic.Results().Total();
    const long rssAfterScan = StatusKb("VmRSS:");
    const long peakAfterScan = StatusKb("VmHWM:");
    const double findingsMb = FindingsMb(logic.Results());

    if (mode == "scan") {
        std::printf("direct %.2f s, window %.2f s, %d / %d findings\n", direct.seconds,
                    windowSeconds, direct.findings, windowFindings);
        return 0;
    }
    int section = 0;
    for (int id = 1; id < kSectionCount; ++id) {
        if (logic.Results().Count(id) > logic.Results().Count(section)) section = id;
    }
    ProblemDetailsDialog details(logic.Results(), app.Prompts());
    clock.restart();
    details.Open(section);
    const double rowsSeconds = clock.elapsed() / 1000.0;
    clock.restart();
    double openSeconds = 0;
    double finalSeconds = 0;
    double worstScrollMs = 0;
    {
        ui::ProblemDetailsView view(details, section, &app.View());
        view.show();
        view.List()->viewport()->repaint();
        QApplication::processEvents();
        openSeconds = clock.elapsed() / 1000.0;
        WaitFor([&] { return view.RowHeightFinal(); });
        finalSeconds = clock.elapsed() / 1000.0;
        QScrollBar* bar = view.List()->verticalScrollBar();
        for (int step = 1; step <= 20; ++step) {
            clock.restart();
            bar->setValue(static_cast<int>(static_cast<long>(bar->maximum()) * step / 20));
            view.List()->viewport()->repaint();
            worstScrollMs =
                std::max(worstScrollMs, static_cast<double>(clock.nsecsElapsed()) / 1e6);
        }
    }
    const long peak = StatusKb("VmHWM:");

    const double peakMb = peak / 1024.0;
    const int shownFindings = logic.Results().Count(section);

    std::printf("values %zu, system.reg %.1f MB\n", values, regMb);
    if (mode != "nodirect") {
        std::printf("direct scan      %.2f s, %d findings, %.0f MB peak (%.2fx system.reg)\n",
                    direct.seconds, direct.findings, direct.peakKb / 1024.0,
                    direct.peakKb / 1024.0 / regMb);
    }
    std::printf("window scan      %.2f s, %d findings\n", windowSeconds, windowFindings);
    std::printf("details open     %.2f s for %d findings (section %d)\n", openSeconds,
                shownFindings, section);
    std::printf("details rows     %.2f s (the dialog's logic alone, before the view)\n",
                rowsSeconds);
    std::printf("details height   final after %.2f s (measured while idle)\n", finalSeconds);
    std::printf("details scroll   %.1f ms worst of 20 jumps\n", worstScrollMs);
    std::printf(
        "memory           %.0f MB loaded, %.0f MB after the scan (its findings' texts read "
        "out %.0f MB), %.0f MB peak (%.0f MB by the scan's end)\n",
        rssLoaded / 1024.0, rssAfterScan / 1024.0, findingsMb, peakMb, peakAfterScan / 1024.0);
    std::printf("aims\n");
    if (mode != "nodirect")
        Ratio("window scan / direct scan", windowSeconds / std::max(direct.seconds, 1e-3), 1.5);
    // A section of 200 000 findings within a second; a bigger one is held to the same second.
    Ratio(shownFindings > 200000 ? "details open / 1 s (held at 200 000)" : "details open / 1 s",
          openSeconds, 1);
    // Smooth: every jump drawn within a frame at 60 Hz.
    Ratio("worst scroll jump / 16.7 ms", worstScrollMs / (1000.0 / 60), 1);
    Ratio("window's peak memory / system.reg", peakMb / regMb, 3);
    if (mode != "nodirect") {
        std::printf("  (the direct scan alone: %.2fx system.reg; the window's peak is %.2fx its)\n",
                    direct.peakKb / 1024.0 / regMb, peak / std::max(1.0, double(direct.peakKb)));
    }
    return 0;
}
