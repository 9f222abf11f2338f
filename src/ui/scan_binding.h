#pragma once

#include <QObject>
#include <QTimer>
#include <memory>

#include "platform/machine/machine.h"
#include "scan/exclusion_list.h"

// Runs the scans of the main window: the driver on its worker thread, its findings and
// list cells carried to the window's thread, its progress shown from a timer.
namespace hivewise::ui {

class MainWindowView;
class QtPrompts;

class ScanBinding : public QObject {
    Q_OBJECT

  public:
    // `ignoreList` is the window's in-memory list; it is read at every hand-over.
    ScanBinding(Machine& machine, MainWindowView& view, QtPrompts& prompts,
                const IgnoreList& ignoreList, std::string osName);
    // Stops a running scan and waits for its thread, keeping the window's thread free
    // for the calls the scan thread is blocked in.
    ~ScanBinding() override;

    // The scan area: resets the results and starts a scan of the ticked sections.
    void Start();
    // "Abort Scan".
    void Abort();
    bool Running() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace hivewise::ui
