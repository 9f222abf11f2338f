#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QTreeWidget>
#include <QWidget>
#include <array>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/desktop_memory.h"
#include "app/machine_chooser.h"
#include "app/main_window.h"
#include "app/startup.h"
#include "scan/result_store.h"
#include "ui/clickable_area.h"
#include "ui/status_line.h"

// The main window: the start page, the scan view and the results view of the main
// window's logic, which it shows and to which it forwards every click.
namespace hivewise::ui {

class MainWindowView : public QWidget, public SectionListView {
    Q_OBJECT

  public:
    explicit MainWindowView(MainWindow& logic, QWidget* parent = nullptr);

    // The view steps of the window's initialisation.
    MainWindowInitSteps ViewSteps();

    MainWindow& Logic() { return logic_; }

    // Start page.
    ClickableArea* ScanArea() const { return scanArea_; }
    ClickableArea* BackupsArea() const { return backupsArea_; }
    ClickableArea* ToolsArea() const { return toolsArea_; }
    ClickableArea* PreferencesArea() const { return preferencesArea_; }
    ClickableArea* HelpArea() const { return helpArea_; }
    QCheckBox* SectionCheckBox(int sectionId) const;
    QLabel* MachineLabel() const { return machineLabel_; }
    // The machines to switch to; hidden until SetMachineChooser gives them.
    QComboBox* MachineChooserBox() const { return machineChooser_; }
    // Shows the chooser's entries beside "Working on:" and forwards the user's pick.
    void SetMachineChooser(MachineChooser* chooser);
    // Scan view.
    QPushButton* AbortButton() const { return abortButton_; }
    QLabel* PathLine() const { return pathLine_; }
    QTreeWidget* SectionList() const { return sectionList_; }
    QProgressBar* ScanProgress() const { return scanProgress_; }
    // Results view.
    QTreeWidget* ResultsList() const { return resultsList_; }
    // One row per section with findings: its name, its count and a bar.
    QTreeWidget* ResultsTable() const { return resultsTable_; }
    // Why the results are short or empty; hidden when they are neither.
    QLabel* ResultsNote() const { return resultsNote_; }
    QPushButton* RepairButton() const { return repairButton_; }
    QPushButton* GoBackButton() const { return goBackButton_; }
    QProgressBar* RepairProgress() const { return repairProgress_; }
    // The number beside "Problems Found : " of the shown view.
    QString TotalText() const;
    QStackedWidget* Pages() const { return pages_; }
    StatusLine* Status() const { return statusLine_; }

    // Where the window is to open: a remembered place, used when it still fits a screen.
    void SetRememberedPlace(std::optional<WindowPlace> place) { rememberedPlace_ = place; }
    // The window's place now, as it is to be remembered.
    WindowPlace CurrentPlace() const;
    // Whether the window was ever on the screen (a place worth remembering).
    bool WasShown() const { return wasShown_; }
    // The title again, once the machine's name is known.
    void RefreshTitle();

    // The section list as the hand-over changes it (user-interface thread only).
    void SetProblemsCell(int row, const std::string& text) override;
    void SetRowData(int row, int sectionId) override;
    void SetRowChecked(int row, bool checked) override;
    void SetTotal(int total) override;

  public slots:
    // The section list as a scan lays it out and fills it.
    void ClearSectionRows();
    void InsertSectionRow(int row, const QString& sectionName);
    void SetStatusCell(int row, const QString& text);
    void EnsureSectionVisible(int row);
    // The results list: rich-text items, each with the section it opens.
    void ClearResults();
    void ShowResults(const QStringList& texts, const QList<int>& sectionIds, int total);
    // The results again from the logic's findings, after some left them (ignored).
    void RefreshResults();
    void SetPathLine(const QString& text);
    void RefreshRepairButton();

  public:
    // Shows the view the logic is in.
    void ShowView(MainView view);

  protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    QWidget* BuildStartPage();
    QWidget* BuildScanView();
    QWidget* BuildResultsView();
    void SizeAndCentre();
    void AttachTooltips();
    void ShowTicks();
    void SetUpLists();
    void FitResultsColumn();
    void ShowResultsTable();
    QTreeWidgetItem* Row(int row) const;

    MainWindow& logic_;
    QStackedWidget* pages_ = nullptr;
    ClickableArea* scanArea_ = nullptr;
    ClickableArea* backupsArea_ = nullptr;
    ClickableArea* toolsArea_ = nullptr;
    ClickableArea* preferencesArea_ = nullptr;
    ClickableArea* helpArea_ = nullptr;
    std::array<QCheckBox*, kSectionCount> checkBoxes_{};
    QLabel* machineLabel_ = nullptr;
    QComboBox* machineChooser_ = nullptr;
    MachineChooser* chooser_ = nullptr;
    QPushButton* abortButton_ = nullptr;
    QLabel* pathLine_ = nullptr;
    QTreeWidget* sectionList_ = nullptr;
    QProgressBar* scanProgress_ = nullptr;
    QLabel* scanTotal_ = nullptr;
    QTreeWidget* resultsList_ = nullptr;
    QTreeWidget* resultsTable_ = nullptr;
    QLabel* resultsNote_ = nullptr;
    QPushButton* repairButton_ = nullptr;
    QPushButton* goBackButton_ = nullptr;
    QProgressBar* repairProgress_ = nullptr;
    QLabel* resultsTotal_ = nullptr;
    StatusLine* statusLine_ = nullptr;
    std::optional<WindowPlace> rememberedPlace_;
    bool wasShown_ = false;
};

// The section list's columns.
constexpr int kSectionNameColumn = 0;
constexpr int kProblemsColumn = 1;
constexpr int kStatusColumn = 2;
// The results table's columns.
constexpr int kSummarySectionColumn = 0;
constexpr int kSummaryProblemsColumn = 1;
constexpr int kSummaryBarColumn = 2;
constexpr int kSummaryDetailsColumn = 3;

}  // namespace hivewise::ui
