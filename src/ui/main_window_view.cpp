#include "ui/main_window_view.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QScreen>
#include <QVBoxLayout>

#include "scan/scan_driver.h"
#include "ui/ansi_text.h"
#include "ui/artwork.h"
#include "ui/list_hints.h"
#include "ui/rich_text_delegate.h"

namespace hivewise::ui {

namespace {

constexpr int kWindowWidth = 800;
constexpr int kWindowHeight = 560;
// Small enough for a 1024x600 screen with a title bar and a panel.
constexpr int kMinimumWidth = 640;
constexpr int kMinimumHeight = 440;
constexpr int kBannerHeight = 64;
constexpr int kResultsRowHeight = 70;

// The banner, drawn again at the window's width and the screen's pixel ratio.
class Banner : public QLabel {
  public:
    explicit Banner(QWidget* parent) : QLabel(parent) {
        setFixedHeight(kBannerHeight);
        setMinimumWidth(1);
        setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    }

  protected:
    void resizeEvent(QResizeEvent* event) override {
        QLabel::resizeEvent(event);
        setPixmap(DrawBanner(width(), kBannerHeight, devicePixelRatioF()));
    }
};

QString Q(std::string_view text) {
    return FromAnsi(text);
}

// "Problems Found : " and its number field.
QHBoxLayout* TotalRow(QWidget* parent, QLabel** number) {
    auto* row = new QHBoxLayout;
    auto* label = new QLabel(Q(kProblemsFoundLabel), parent);
    *number = new QLabel("0", parent);
    QFont bold = (*number)->font();
    bold.setBold(true);
    (*number)->setFont(bold);
    (*number)->setMinimumWidth(60);
    row->addWidget(label);
    row->addWidget(*number);
    row->addStretch(1);
    return row;
}

}  // namespace

MainWindowView::MainWindowView(MainWindow& logic, QWidget* parent)
    : QWidget(parent), logic_(logic) {
    setWindowTitle(QString::fromStdString(logic_.WindowTitle()));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    layout->addWidget(new Banner(this));

    pages_ = new QStackedWidget(this);
    pages_->addWidget(BuildStartPage());
    pages_->addWidget(BuildScanView());
    pages_->addWidget(BuildResultsView());
    layout->addWidget(pages_, 1);

    // What went well is said here rather than in a box that must be answered.
    statusLine_ = new StatusLine(this);
    layout->addWidget(statusLine_);

    logic_.SetViewObserver([this](MainView view) { ShowView(view); });
    ShowView(logic_.View());
}

QWidget* MainWindowView::BuildStartPage() {
    auto* page = new QWidget(this);
    auto* grid = new QGridLayout(page);
    grid->setContentsMargins(16, 14, 16, 10);
    grid->setHorizontalSpacing(16);
    grid->setVerticalSpacing(10);

    auto* areas = new QVBoxLayout;
    areas->setSpacing(10);
    scanArea_ = new ClickableArea(AreaPicture::Scan, QString(), Q(kScanAreaText), page, 52);
    backupsArea_ =
        new ClickableArea(AreaPicture::Backups, QString(), Q(kBackupsAreaText), page, 52);
    toolsArea_ = new ClickableArea(AreaPicture::Tools, QString(), Q(kToolsAreaText), page, 52);
    for (ClickableArea* area : {scanArea_, backupsArea_, toolsArea_}) {
        area->setMinimumHeight(96);
        QFont larger = area->TextLabel()->font();
        larger.setPointSizeF(larger.pointSizeF() * 1.15);
        area->TextLabel()->setFont(larger);
        areas->addWidget(area, 1);
    }
    connect(scanArea_, &ClickableArea::clicked, this, [this] { logic_.ClickScanArea(); });
    connect(backupsArea_, &ClickableArea::clicked, this, [this] { logic_.ClickBackupsArea(); });
    connect(toolsArea_, &ClickableArea::clicked, this, [this] { logic_.ClickToolsArea(); });
    grid->addLayout(areas, 0, 0);

    auto* sections = new QGroupBox("Scan Areas", page);
    auto* boxes = new QVBoxLayout(sections);
    boxes->setSpacing(3);
    for (const ScanSection& section : ScanSections()) {
        auto* box = new QCheckBox(Q(section.label), sections);
        checkBoxes_[section.id] = box;
        const int id = section.id;
        connect(box, &QCheckBox::toggled, this,
                [this, id](bool checked) { logic_.SetTicked(id, checked); });
        boxes->addWidget(box);
    }
    boxes->addStretch(1);
    grid->addWidget(sections, 0, 1);

    auto* small = new QHBoxLayout;
    small->setSpacing(10);
    preferencesArea_ =
        new ClickableArea(AreaPicture::Preferences, QString(), "Preferences", page, 26);
    helpArea_ = new ClickableArea(AreaPicture::Help, QString(), "Help", page, 26);
    for (ClickableArea* area : {preferencesArea_, helpArea_}) {
        area->setFixedHeight(46);
        area->setMinimumWidth(150);
        small->addWidget(area);
    }
    connect(preferencesArea_, &ClickableArea::clicked, this, [this] { logic_.ClickPreferences(); });
    connect(helpArea_, &ClickableArea::clicked, this, [this] { logic_.ClickHelp(); });
    small->addStretch(1);
    grid->addLayout(small, 1, 0);

    machineLabel_ = new QLabel(QString::fromStdString(logic_.MachineLine()), page);
    QFont tiny = machineLabel_->font();
    tiny.setPointSizeF(tiny.pointSizeF() * 0.82);
    machineLabel_->setFont(tiny);
    machineLabel_->setForegroundRole(QPalette::PlaceholderText);
    machineLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    machineLabel_->setToolTip(machineLabel_->text());
    machineChooser_ = new QComboBox(page);
    machineChooser_->setFont(tiny);
    // Long names are cut; the tooltip gives the whole name and the folder.
    machineChooser_->setMinimumContentsLength(28);
    machineChooser_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    machineChooser_->hide();
    connect(machineChooser_, &QComboBox::activated, this, [this](int index) {
        // A refused or failed switch leaves the current machine shown.
        if (chooser_ && !chooser_->Choose(index)) {
            machineChooser_->setCurrentIndex(chooser_->CurrentIndex());
        }
    });
    auto* machineRow = new QHBoxLayout;
    machineRow->addWidget(machineLabel_);
    machineRow->addWidget(machineChooser_);
    machineRow->addStretch(1);
    grid->addLayout(machineRow, 2, 0, 1, 2);

    grid->setColumnStretch(0, 1);
    grid->setRowStretch(0, 1);
    return page;
}

QWidget* MainWindowView::BuildScanView() {
    auto* page = new QWidget(this);
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(16, 14, 16, 14);

    pathLine_ = new QLabel(page);
    pathLine_->setTextFormat(Qt::PlainText);
    pathLine_->setMinimumWidth(100);
    pathLine_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    layout->addWidget(pathLine_);

    sectionList_ = new QTreeWidget(page);
    sectionList_->setHeaderLabels({"Section Name", "Problems", "Status"});
    sectionList_->setRootIsDecorated(false);
    sectionList_->setSelectionBehavior(QAbstractItemView::SelectRows);
    sectionList_->setSelectionMode(QAbstractItemView::SingleSelection);
    sectionList_->setAllColumnsShowFocus(true);
    ShowCutCellsInTooltips(sectionList_);
    layout->addWidget(sectionList_, 1);

    scanProgress_ = new QProgressBar(page);
    scanProgress_->setTextVisible(false);
    layout->addWidget(scanProgress_);

    auto* bottom = TotalRow(page, &scanTotal_);
    abortButton_ = new QPushButton(Q(kAbortScanText), page);
    connect(abortButton_, &QPushButton::clicked, this, [this] { logic_.ClickAbortScan(); });
    bottom->addWidget(abortButton_);
    layout->addLayout(bottom);
    return page;
}

QWidget* MainWindowView::BuildResultsView() {
    auto* page = new QWidget(this);
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(16, 14, 16, 14);

    resultsNote_ = new QLabel(page);
    resultsNote_->setWordWrap(true);
    resultsNote_->hide();
    layout->addWidget(resultsNote_);

    resultsTable_ = new QTreeWidget(page);
    resultsTable_->setHeaderLabels({"Section", "Problems", "", ""});
    resultsTable_->setRootIsDecorated(false);
    resultsTable_->setSelectionBehavior(QAbstractItemView::SelectRows);
    resultsTable_->setAllColumnsShowFocus(true);
    resultsTable_->header()->setSectionResizeMode(kSummaryBarColumn, QHeaderView::Stretch);
    resultsTable_->header()->setStretchLastSection(false);
    ShowCutCellsInTooltips(resultsTable_);
    SetEmptyListText(resultsTable_, Q(kNoProblemsNote));
    auto openRow = [this](QTreeWidgetItem* item) {
        if (item) logic_.ViewDetails(item->data(kSummarySectionColumn, Qt::UserRole).toInt());
    };
    // The details are one click away: on the link, or Enter or a double click on the row.
    connect(resultsTable_, &QTreeWidget::itemClicked, this,
            [openRow](QTreeWidgetItem* item, int column) {
                if (column == kSummaryDetailsColumn) openRow(item);
            });
    connect(resultsTable_, &QTreeWidget::itemActivated, this,
            [openRow](QTreeWidgetItem* item, int) { openRow(item); });
    layout->addWidget(resultsTable_, 2);

    resultsList_ = new QTreeWidget(page);
    resultsList_->setColumnCount(1);
    resultsList_->setHeaderHidden(true);
    resultsList_->header()->setStretchLastSection(false);
    resultsList_->setRootIsDecorated(false);
    resultsList_->setUniformRowHeights(false);
    resultsList_->setWordWrap(true);
    resultsList_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* delegate = new RichTextDelegate(resultsList_);
    delegate->SetMinimumHeight(kResultsRowHeight);
    resultsList_->setItemDelegate(delegate);
    auto openDetails = [this](QTreeWidgetItem* item) {
        if (item) logic_.ViewDetails(item->data(0, Qt::UserRole).toInt());
    };
    connect(resultsList_, &QTreeWidget::itemDoubleClicked, this,
            [openDetails](QTreeWidgetItem* item, int) { openDetails(item); });
    connect(delegate, &RichTextDelegate::linkActivated, this,
            [this](const QModelIndex& index, const QString&) {
                logic_.ViewDetails(index.data(Qt::UserRole).toInt());
            });
    layout->addWidget(resultsList_, 3);

    repairProgress_ = new QProgressBar(page);
    repairProgress_->setTextVisible(false);
    layout->addWidget(repairProgress_);

    auto* bottom = TotalRow(page, &resultsTotal_);
    goBackButton_ = new QPushButton(Q(kGoBackText), page);
    repairButton_ = new QPushButton(Q(kRepairProblemsText), page);
    repairButton_->setDefault(true);
    connect(goBackButton_, &QPushButton::clicked, this, [this] { logic_.ClickGoBack(); });
    connect(repairButton_, &QPushButton::clicked, this, [this] {
        logic_.ClickRepair();
        RefreshRepairButton();
    });
    bottom->addWidget(goBackButton_);
    bottom->addWidget(repairButton_);
    layout->addLayout(bottom);
    return page;
}

void MainWindowView::SetMachineChooser(MachineChooser* chooser) {
    chooser_ = chooser;
    QSignalBlocker block(machineChooser_);
    machineChooser_->clear();
    if (!chooser) {
        machineChooser_->hide();
        machineLabel_->setText(QString::fromStdString(logic_.MachineLine()));
        return;
    }
    std::vector<std::string> entries = chooser->Entries();
    for (size_t i = 0; i < entries.size(); ++i) {
        machineChooser_->addItem(QString::fromStdString(entries[i]));
        std::string details = chooser->Details(static_cast<int>(i));
        if (!details.empty()) {
            machineChooser_->setItemData(static_cast<int>(i),
                                         QString::fromStdString(entries[i] + "\n" + details),
                                         Qt::ToolTipRole);
        }
    }
    machineChooser_->setCurrentIndex(chooser->CurrentIndex());
    machineChooser_->setToolTip(
        machineChooser_->itemData(chooser->CurrentIndex(), Qt::ToolTipRole).toString());
    machineLabel_->setText(Q(kWorkingOnText));
    machineChooser_->show();
    RefreshTitle();
}

MainWindowInitSteps MainWindowView::ViewSteps() {
    MainWindowInitSteps steps;
    steps.sizeAndCentre = [this] { SizeAndCentre(); };
    steps.attachTooltips = [this] { AttachTooltips(); };
    steps.showTicks = [this] { ShowTicks(); };
    steps.setUpLists = [this] { SetUpLists(); };
    steps.showStartPage = [this] {
        ShowView(MainView::StartPage);
        setWindowFlag(Qt::WindowStaysOnTopHint, false);
        show();
        // The offscreen platform used for checks has no stacking to change.
        if (QGuiApplication::platformName() != "offscreen") {
            raise();
            activateWindow();
        }
    };
    return steps;
}

void MainWindowView::SizeAndCentre() {
    setMinimumSize(kMinimumWidth, kMinimumHeight);
    if (rememberedPlace_) {
        QRect place(rememberedPlace_->x, rememberedPlace_->y, rememberedPlace_->width,
                    rememberedPlace_->height);
        // A screen since unplugged or made smaller must not leave the window out of reach.
        QScreen* screen = QGuiApplication::screenAt(place.center());
        if (screen && screen->availableGeometry().intersected(place).width() >= kMinimumWidth / 2) {
            resize(place.size().boundedTo(screen->availableGeometry().size()));
            move(place.topLeft());
            if (rememberedPlace_->maximised) setWindowState(windowState() | Qt::WindowMaximized);
            return;
        }
    }
    QSize size(kWindowWidth, kWindowHeight);
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect area = screen->availableGeometry();
        // Room for the window manager's title bar and frame on a small screen.
        size = size.boundedTo(area.size() - QSize(16, 40)).expandedTo(minimumSize());
        resize(size);
        move(area.center() - QPoint(size.width() / 2, size.height() / 2));
    } else {
        resize(size);
    }
}

WindowPlace MainWindowView::CurrentPlace() const {
    // The frame's corner, as move() takes it back, so that the window does not creep down
    // by its title bar at each start; and the size it had before being maximised.
    QPoint frameOffset = geometry().topLeft() - pos();
    QRect normal = isMaximized() ? normalGeometry() : geometry();
    QPoint corner = normal.topLeft() - frameOffset;
    return WindowPlace{corner.x(), corner.y(), normal.width(), normal.height(), isMaximized()};
}

void MainWindowView::RefreshTitle() {
    setWindowTitle(QString::fromStdString(logic_.WindowTitle()));
}

void MainWindowView::AttachTooltips() {
    for (const ScanSection& section : ScanSections()) {
        if (!section.tooltip.empty()) checkBoxes_[section.id]->setToolTip(Q(section.tooltip));
    }
}

void MainWindowView::ShowTicks() {
    for (const ScanSection& section : ScanSections()) {
        QCheckBox* box = checkBoxes_[section.id];
        QSignalBlocker block(box);
        box->setChecked(logic_.Ticked(section.id));
    }
}

void MainWindowView::SetUpLists() {
    QHeaderView* header = sectionList_->header();
    header->setStretchLastSection(false);
    header->setSectionResizeMode(QHeaderView::Fixed);
    sectionList_->setColumnWidth(kSectionNameColumn, 180);
    sectionList_->setColumnWidth(kProblemsColumn, 80);
    sectionList_->setColumnWidth(kStatusColumn, 80);
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    sectionList_->headerItem()->setTextAlignment(kProblemsColumn, Qt::AlignCenter);

    // One column as wide as the list less 20 pixels, kept so when the list is resized.
    resultsList_->installEventFilter(this);
    FitResultsColumn();
}

QCheckBox* MainWindowView::SectionCheckBox(int sectionId) const {
    return sectionId >= 0 && sectionId < kSectionCount ? checkBoxes_[sectionId] : nullptr;
}

QString MainWindowView::TotalText() const {
    return logic_.View() == MainView::Results ? resultsTotal_->text() : scanTotal_->text();
}

QTreeWidgetItem* MainWindowView::Row(int row) const {
    return row >= 0 && row < sectionList_->topLevelItemCount() ? sectionList_->topLevelItem(row)
                                                               : nullptr;
}

void MainWindowView::SetProblemsCell(int row, const std::string& text) {
    if (QTreeWidgetItem* item = Row(row)) item->setText(kProblemsColumn, Q(text));
}

void MainWindowView::SetRowData(int row, int sectionId) {
    if (QTreeWidgetItem* item = Row(row))
        item->setData(kSectionNameColumn, Qt::UserRole, sectionId);
}

void MainWindowView::SetRowChecked(int row, bool checked) {
    if (QTreeWidgetItem* item = Row(row)) {
        item->setCheckState(kSectionNameColumn, checked ? Qt::Checked : Qt::Unchecked);
    }
}

void MainWindowView::SetTotal(int total) {
    scanTotal_->setText(QString::number(total));
    resultsTotal_->setText(QString::number(total));
}

void MainWindowView::ClearSectionRows() {
    sectionList_->clear();
}

void MainWindowView::InsertSectionRow(int row, const QString& sectionName) {
    auto* item = new QTreeWidgetItem;
    item->setText(kSectionNameColumn, sectionName);
    item->setTextAlignment(kProblemsColumn, Qt::AlignCenter);
    // The check mark shows that the section found something; the user does not set it.
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    item->setCheckState(kSectionNameColumn, Qt::Unchecked);
    sectionList_->insertTopLevelItem(std::clamp(row, 0, sectionList_->topLevelItemCount()), item);
}

void MainWindowView::SetStatusCell(int row, const QString& text) {
    if (QTreeWidgetItem* item = Row(row)) item->setText(kStatusColumn, text);
}

void MainWindowView::EnsureSectionVisible(int row) {
    if (QTreeWidgetItem* item = Row(row)) sectionList_->scrollToItem(item);
}

void MainWindowView::ClearResults() {
    resultsList_->clear();
    repairProgress_->setValue(0);
}

void MainWindowView::RefreshResults() {
    std::vector<SectionRow> rows;
    for (const ResultsSummaryRow& row : logic_.ResultsSummary()) {
        SectionRow section;
        section.sectionId = row.sectionId;
        section.name = row.name;
        section.problems = std::to_string(row.problems);
        section.data = row.sectionId;
        rows.push_back(std::move(section));
    }
    QStringList texts;
    QList<int> ids;
    for (const ResultsItem& item : MakeResultsItems(rows)) {
        texts.append(Q(item.text));
        ids.append(item.sectionId);
    }
    ShowResults(texts, ids, logic_.Results().Total());
}

void MainWindowView::ShowResultsTable() {
    resultsTable_->clear();
    std::vector<ResultsSummaryRow> rows = logic_.ResultsSummary();
    int most = 1;
    for (const ResultsSummaryRow& row : rows)
        most = std::max(most, row.problems);
    QFont link = resultsTable_->font();
    link.setUnderline(true);
    for (const ResultsSummaryRow& row : rows) {
        auto* item = new QTreeWidgetItem(resultsTable_);
        item->setText(kSummarySectionColumn, Q(row.name));
        item->setData(kSummarySectionColumn, Qt::UserRole, row.sectionId);
        item->setText(kSummaryProblemsColumn, QString::number(row.problems));
        item->setTextAlignment(kSummaryProblemsColumn, Qt::AlignRight | Qt::AlignVCenter);
        item->setText(kSummaryDetailsColumn, Q(kViewDetailsText));
        item->setFont(kSummaryDetailsColumn, link);
        item->setForeground(kSummaryDetailsColumn, palette().brush(QPalette::Link));
        auto* bar = new QProgressBar(resultsTable_);
        bar->setRange(0, most);
        bar->setValue(row.problems);
        bar->setTextVisible(false);
        bar->setMaximumHeight(resultsTable_->fontMetrics().height());
        bar->setFocusPolicy(Qt::NoFocus);
        resultsTable_->setItemWidget(item, kSummaryBarColumn, bar);
    }
    for (int column : {kSummarySectionColumn, kSummaryProblemsColumn, kSummaryDetailsColumn})
        resultsTable_->resizeColumnToContents(column);
    if (resultsTable_->topLevelItemCount() > 0) {
        resultsTable_->setCurrentItem(resultsTable_->topLevelItem(0));
        // The keyboard starts where the details are one key away.
        if (isVisible()) resultsTable_->setFocus(Qt::OtherFocusReason);
    } else if (isVisible()) {
        goBackButton_->setFocus(Qt::OtherFocusReason);
    }
    QString note = Q(logic_.ResultsNote());
    resultsNote_->setText(note);
    resultsNote_->setVisible(!note.isEmpty());
}

void MainWindowView::ShowResults(const QStringList& texts, const QList<int>& sectionIds,
                                 int total) {
    resultsList_->clear();
    for (qsizetype i = 0; i < texts.size(); ++i) {
        auto* item = new QTreeWidgetItem(resultsList_);
        // Each section's text, then the link that opens its findings.
        item->setText(
            0, texts[i] + QString("<br><a href=\"details\">%1</a>").arg(Q(kViewDetailsText)));
        item->setData(0, Qt::UserRole, i < sectionIds.size() ? sectionIds[i] : 0);
    }
    SetTotal(total);
    ShowResultsTable();
    if (logic_.ScanAborted()) resultsTotal_->setText(resultsTotal_->text() + Q(kScanAbortedTotal));
}

void MainWindowView::SetPathLine(const QString& text) {
    pathLine_->setText(
        pathLine_->fontMetrics().elidedText(text, Qt::ElideMiddle, pathLine_->width()));
    pathLine_->setToolTip(text);
}

void MainWindowView::ShowView(MainView view) {
    pages_->setCurrentIndex(static_cast<int>(view));
    RefreshRepairButton();
}

void MainWindowView::RefreshRepairButton() {
    repairButton_->setText(Q(logic_.RepairButtonText()));
}

void MainWindowView::FitResultsColumn() {
    resultsList_->setColumnWidth(0, std::max(resultsList_->width() - 20, 20));
}

bool MainWindowView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == resultsList_ && event->type() == QEvent::Resize) FitResultsColumn();
    return QWidget::eventFilter(watched, event);
}

void MainWindowView::showEvent(QShowEvent* event) {
    wasShown_ = true;
    QWidget::showEvent(event);
}

void MainWindowView::closeEvent(QCloseEvent* event) {
    // Closing is refused while a repair runs: it would leave a half-written backup.
    if (!logic_.RequestClose()) {
        event->ignore();
        return;
    }
    event->accept();
}

}  // namespace hivewise::ui
