// The window's scan and details view on a generated prefix, beside the same scan taken
// directly on its thread as the command line does:
//   window_timing VALUES [FOLDER]
// writes a prefix of VALUES values into FOLDER (a temporary folder by default), scans it
// both ways and opens the details of the section with the most findings. Runs without a
// display (offscreen) unless QT_QPA_PLATFORM says otherwise.
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
#include "platform/registry/registry_access.h"
#include "scan/scan_driver.h"
#include "ui/desktop_app.h"
#include "ui/problem_details_view.h"

namespace {

using namespace hivewise;

long StatusKb(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + std::strlen(field));
    }
    return -1;
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
    if (argc < 2) {
        std::fprintf(stderr, "usage: window_timing VALUES [FOLDER]\n");
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
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication application(argc, argv);

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

    // The scan as the command line takes it: findings handed over on the scan thread.
    QElapsedTimer clock;
    double directSeconds = 0;
    int directFindings = 0;
    // "nodirect" after the folder: the window alone, for its memory.
    const bool direct = !(argc > 3 && std::string(argv[3]) == "nodirect");
    if (direct) {
        ResultStore results;
        ScanDriver driver(machine, results);
        driver.SetIntegrityDelay(std::chrono::milliseconds(0));
        clock.start();
        driver.RunToEnd(ticks, estimate);
        directSeconds = clock.elapsed() / 1000.0;
        directFindings = results.Total();
    }

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

    // "scan" after the folder: the scans only.
    if (argc > 3 && std::string(argv[3]) == "scan") {
        std::printf("direct %.2f s, window %.2f s, %d / %d findings\n", directSeconds,
                    windowSeconds, directFindings, windowFindings);
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

    std::printf("values %zu, system.reg %.1f MB\n", values, regMb);
    std::printf("direct scan      %.2f s, %d findings\n", directSeconds, directFindings);
    std::printf("window scan      %.2f s, %d findings (%.2fx the direct scan)\n", windowSeconds,
                windowFindings, windowSeconds / std::max(directSeconds, 1e-3));
    std::printf("details open     %.2f s for %d findings (section %d)\n", openSeconds,
                logic.Results().Count(section), section);
    std::printf("details rows     %.2f s (the dialog's logic alone, before the view)\n",
                rowsSeconds);
    std::printf("details height   final after %.2f s (measured while idle)\n", finalSeconds);
    std::printf("details scroll   %.1f ms worst of 20 jumps\n", worstScrollMs);
    std::printf("memory           %.0f MB after the scan, %.0f MB peak (%.2fx system.reg)\n",
                rssAfterScan / 1024.0, peak / 1024.0, peak / 1024.0 / regMb);
    return 0;
}
