#include "ui/scan_binding.h"

#include <QCoreApplication>
#include <QThread>
#include <atomic>
#include <map>
#include <mutex>
#include <optional>

#include "app/save_changes.h"
#include "platform/machine/prefix_lock.h"
#include "scan/scan_driver.h"
#include "ui/ansi_text.h"
#include "ui/main_window_view.h"
#include "ui/qt_prompts.h"

#include "report/scan_log.h"

namespace hivewise::ui {

namespace {

// Runs `call` on the window's thread and returns when it is done. Once the window is
// closing, calls from the scan thread are dropped instead: the window's thread is then
// waiting for the scan to end and must not be waited for in turn.
template <typename F>
void OnWindowThread(QObject* window, const std::atomic<bool>& closing, F call) {
    if (QThread::currentThread() == window->thread()) {
        call();
    } else if (!closing.load()) {
        QMetaObject::invokeMethod(window, std::move(call), Qt::BlockingQueuedConnection);
    }
}

}  // namespace

struct ScanBinding::Impl : ScanListView, ScanWindow, ProblemSink {
    Impl(Machine& m, MainWindowView& v, QtPrompts& p, const IgnoreList& ignore,
         [[maybe_unused]] std::string osName)
        : machine(m),
          view(v),
          prompts(p),
          driver(m, v.Logic().Results()),
          log(m, std::move(osName)) {
        driver.SetListView(this);
        driver.SetWindow(this);
        driver.SetProblemSink(this);
        driver.SetExclusionTest(
            [&ignore](const std::string& text) { return IsExcluded(text, ignore); });
        driver.SetLog(&log);
    }

    // The section list. Cells the hand-over sets while a batch is taken are kept and
    // shown once at its end: each is a setter whose last value is all that shows.
    void SetProblemsCell(int row, const std::string& text) override {
        if (Batching()) {
            cells[row].problems = text;
            return;
        }
        OnWindow([this, row, text] { view.SetProblemsCell(row, text); });
    }
    void SetRowData(int row, int sectionId) override {
        if (Batching()) {
            cells[row].data = sectionId;
            return;
        }
        OnWindow([this, row, sectionId] { view.SetRowData(row, sectionId); });
    }
    void SetRowChecked(int row, bool checked) override {
        if (Batching()) {
            cells[row].checked = checked;
            return;
        }
        OnWindow([this, row, checked] { view.SetRowChecked(row, checked); });
    }
    void SetTotal(int total) override {
        if (Batching()) {
            batchTotal = total;
            return;
        }
        OnWindow([this, total] { view.SetTotal(total); });
    }
    void ClearRows() override {
        OnWindow([this] { view.ClearSectionRows(); });
    }
    void InsertRow(int row, const std::string& name) override {
        OnWindow([this, row, name] { view.InsertSectionRow(row, FromAnsi(name)); });
    }
    void SetStatusCell(int row, const std::string& text) override {
        OnWindow([this, row, text] { view.SetStatusCell(row, FromAnsi(text)); });
    }
    void EnsureVisible(int row) override {
        OnWindow([this, row] { view.EnsureSectionVisible(row); });
    }

    // The window.
    void ClearResults() override {
        OnWindow([this] { view.ClearResults(); });
    }
    void ScanMessage(const std::string& text) override {
        if (closing.load()) return;
        // The end of a scan is plain to see in the window; it needs no answer.
        OnWindow([this, text] { prompts.Notice(text); });
    }
    void ScanFault(const std::string& text) override {
        if (closing.load()) return;
        OnWindow([this, text] { prompts.Message(text); });
    }
    void ShowResultsView(const std::vector<ResultsItem>& items, int total) override {
        if (closing.load()) return;
        QStringList texts;
        QList<int> ids;
        for (const ResultsItem& item : items) {
            texts.append(FromAnsi(item.text));
            ids.append(item.sectionId);
        }
        bool aborted = driver.Aborted();
        OnWindow([this, texts, ids, total, aborted] {
            view.Logic().ScanEnded(aborted);
            view.ShowResults(texts, ids, total);
        });
    }

    // The findings wait in a queue that the window's thread takes whole: from its timer,
    // and before any other call of the scan, which so sees every earlier finding taken,
    // as if each had been handed over at once. A blocking call per finding would cost a
    // round trip between the threads each.
    void ProblemFound(std::unique_ptr<Problem> problem) override {
        if (closing.load() || !problem) return;
        std::lock_guard lock(queueMutex);
        queue.push_back(std::move(problem));
    }

    // Takes the queued findings on the window's thread, then shows the cells they changed.
    void TakeQueued() {
        if (closing.load() || batching) return;
        std::vector<std::unique_ptr<Problem>> taken;
        {
            std::lock_guard lock(queueMutex);
            taken.swap(queue);
        }
        if (taken.empty()) return;
        batching = true;
        for (std::unique_ptr<Problem>& problem : taken)
            driver.HandOver(std::move(problem));
        batching = false;
        for (const auto& [row, cell] : cells) {
            if (cell.problems) view.SetProblemsCell(row, *cell.problems);
            if (cell.data) view.SetRowData(row, *cell.data);
            if (cell.checked) view.SetRowChecked(row, *cell.checked);
        }
        cells.clear();
        if (batchTotal) view.SetTotal(*batchTotal);
        batchTotal.reset();
    }

    // Runs `call` on the window's thread once the queued findings are taken.
    template <typename F>
    void OnWindow(F call) {
        OnWindowThread(&view, closing, [this, call = std::move(call)] {
            TakeQueued();
            call();
        });
    }

    bool Batching() const { return batching && QThread::currentThread() == view.thread(); }

    void ShowProgress() {
        TakeQueued();
        ScanStatus& status = driver.Status();
        if (status.LineVersion() != shownLine) {
            shownLine = status.LineVersion();
            view.SetPathLine(FromAnsi(status.StatusLine()));
        }
        long upper = status.Upper();
        // The bar's range is an int; large ranges are scaled down together.
        long scale = upper > 1000000 ? upper / 1000000 + 1 : 1;
        view.ScanProgress()->setRange(0, static_cast<int>(upper / scale));
        view.ScanProgress()->setValue(static_cast<int>(status.Position() / scale));
    }

    Machine& machine;
    MainWindowView& view;
    QtPrompts& prompts;
    ScanDriver driver;
    ScanLog log;
    QTimer timer;
    unsigned shownLine = ~0u;
    bool wineRunning = false;
    // The window is going away: an aborted scan ends without a word.
    std::atomic<bool> closing{false};

    // Findings made on the scan thread and not yet taken.
    std::mutex queueMutex;
    std::vector<std::unique_ptr<Problem>> queue;
    // While a batch is taken (window's thread only): the cells it set, by row.
    struct Cells {
        std::optional<std::string> problems;
        std::optional<int> data;
        std::optional<bool> checked;
    };
    bool batching = false;
    std::map<int, Cells> cells;
    std::optional<int> batchTotal;
};

ScanBinding::ScanBinding(Machine& machine, MainWindowView& view, QtPrompts& prompts,
                         const IgnoreList& ignoreList, std::string osName)
    : impl_(std::make_unique<Impl>(machine, view, prompts, ignoreList, std::move(osName))) {
    impl_->timer.setInterval(100);
    connect(&impl_->timer, &QTimer::timeout, this, [this] {
        impl_->ShowProgress();
        if (!impl_->driver.Running()) {
            impl_->timer.stop();
            // The ticks, "Last Scan" and "Items Found" reach the prefix's files, unless
            // Wine owns them.
            if (impl_->wineRunning) {
                impl_->prompts.Message("The scan's settings and log were not saved. " +
                                           WineRunningMessage(impl_->machine.PrefixDir()),
                                       MessageIcon::Warning);
            } else {
                SaveChanges(impl_->machine, impl_->prompts);
            }
        }
    });
}

ScanBinding::~ScanBinding() {
    impl_->closing.store(true);
    impl_->driver.Abort();
    // A call the scan thread made to the window before `closing` was set is still
    // delivered by this pump; after it the thread makes no more and ends, so the wait
    // needs no time limit and the driver's join cannot block.
    while (impl_->driver.Running()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(1);
    }
}

void ScanBinding::Start() {
    MainWindow& logic = impl_->view.Logic();
    impl_->driver.Reset();
    // While Wine runs in the prefix the scan reads, but leaves its files alone.
    impl_->wineRunning = WineServerRunning(impl_->machine.PrefixDir());
    impl_->driver.SetLog(impl_->wineRunning ? nullptr : &impl_->log);
    if (impl_->driver.Start(logic.Ticks(), logic.CompleteScanEstimate())) {
        impl_->timer.start();
    }
}

void ScanBinding::Abort() {
    impl_->driver.Abort();
}

bool ScanBinding::Running() const {
    return impl_->driver.Running();
}

}  // namespace hivewise::ui
