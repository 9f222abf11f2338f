#include "ui/problem_details_view.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include <QAbstractListModel>
#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QStyleOptionButton>
#include <QStyledItemDelegate>
#include <QTextDocument>
#include <QVBoxLayout>

#include "ui/ansi_text.h"
#include "ui/list_hints.h"
#include "ui/status_line.h"

namespace hivewise::ui {

namespace {

// The row text starts right of the check-box picture, level with its top.
constexpr int kTextLeft = kDetailsCheckBoxLeft + kDetailsCheckBoxSize + 6;
constexpr int kTextTop = kDetailsCheckBoxTop;
// Space between the link line and the row's bottom edge.
constexpr int kLinkBottomGap = 8;
// The row height's measuring when the rows change, and then in each idle moment: short
// enough that opening and scrolling stay quick.
constexpr int kFirstMeasureMs = 60;
constexpr int kIdleMeasureMs = 8;

// Row text and link line are laid out alike when measured and when drawn.
void Prepare(QTextDocument& document, const QFont& font, const QString& html, int width) {
    document.setDefaultFont(font);
    document.setDocumentMargin(0);
    document.setHtml(html);
    document.setTextWidth(std::max(width, 1));
}

// The link line's underscores stand for spaces that never break, so that the two links
// keep to one line as the measured plain text does.
QString LinkLineHtml() {
    QString html = FromAnsi(kDetailsLinkLine);
    html.replace(QLatin1Char('_'), QChar(0x00A0));
    return html;
}

}  // namespace

// The logic's rows as the list reads them: a row's text is made when it is drawn.
class DetailsModel : public QAbstractListModel {
  public:
    DetailsModel(const ProblemDetailsDialog& logic, QObject* parent)
        : QAbstractListModel(parent), logic_(logic) {}

    int rowCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : static_cast<int>(logic_.RowCount());
    }
    QVariant data(const QModelIndex& index, int role) const override {
        if (role != Qt::DisplayRole || !index.isValid() ||
            static_cast<size_t>(index.row()) >= logic_.RowCount())
            return {};
        return FromAnsi(logic_.RowText(static_cast<size_t>(index.row())));
    }
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        if (role != Qt::DisplayRole || orientation != Qt::Horizontal || section != 0) return {};
        return FromAnsi(kDetailsColumnText);
    }
    Qt::ItemFlags flags(const QModelIndex& index) const override {
        return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
    }

    void BeginReset() { beginResetModel(); }
    void EndReset() { endResetModel(); }
    // Every row's text changed in place (the rows were sorted).
    void TextsChanged() {
        if (rowCount() > 0) emit dataChanged(index(0), index(rowCount() - 1));
    }

  private:
    const ProblemDetailsDialog& logic_;
};

// Draws a row: the check-box picture from the record's tick, the rich text and the
// link line; every row is the height the logic measured.
class DetailsRowDelegate : public QStyledItemDelegate {
  public:
    explicit DetailsRowDelegate(ProblemDetailsView* view)
        : QStyledItemDelegate(view), view_(view) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        const auto row = static_cast<size_t>(index.row());
        const ProblemDetailsDialog& logic = view_->logic_;
        if (row >= logic.RowCount()) return;
        const QRect rect = option.rect;
        const QWidget* widget = option.widget;
        QStyle* style = widget ? widget->style() : QApplication::style();

        painter->save();
        painter->setClipRect(rect);
        // A light selection, so that the blue text stays readable on it.
        if (option.state & QStyle::State_Selected) {
            QColor shade = option.palette.color(QPalette::Highlight);
            shade.setAlpha(48);
            painter->fillRect(rect, shade);
        }
        painter->setPen(option.palette.color(QPalette::Midlight));
        painter->drawLine(rect.bottomLeft(), rect.bottomRight());

        QStyleOptionButton box;
        box.rect = QRect(rect.left() + kDetailsCheckBoxLeft, rect.top() + kDetailsCheckBoxTop,
                         kDetailsCheckBoxSize, kDetailsCheckBoxSize);
        box.state =
            QStyle::State_Enabled | (logic.RowChecked(row) ? QStyle::State_On : QStyle::State_Off);
        box.palette = option.palette;
        style->drawPrimitive(QStyle::PE_IndicatorCheckBox, &box, painter, widget);

        const int width = view_->list_->columnWidth(0) - kDetailsTextMargin;
        QAbstractTextDocumentLayout::PaintContext context;
        context.palette.setColor(QPalette::Text, option.palette.color(QPalette::Text));

        QTextDocument text;
        Prepare(text, option.font, FromAnsi(logic.RowText(row)), width);
        painter->save();
        painter->translate(rect.left() + kTextLeft, rect.top() + kTextTop);
        text.documentLayout()->draw(painter, context);
        painter->restore();

        QTextDocument links;
        Prepare(links, option.font, LinkLineHtml(), width);
        painter->translate(rect.left() + kTextLeft, rect.top() + view_->LinkLineTop());
        links.documentLayout()->draw(painter, context);
        painter->restore();
    }

    QSize sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const override {
        return QSize(view_->list_->columnWidth(0), view_->rowHeight_);
    }

  private:
    ProblemDetailsView* view_;
};

ProblemDetailsView::ProblemDetailsView(ProblemDetailsDialog& logic, int sectionId, QWidget* parent)
    : QDialog(parent), logic_(logic) {
    setModal(true);
    // Tall enough for several findings; no taller than the screen it opens on.
    QSize size(720, 640);
    if (QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen())
        size = size.boundedTo(screen->availableGeometry().size() - QSize(24, 48));
    resize(size);
    auto* layout = new QVBoxLayout(this);

    logic_.Open(sectionId);
    list_ = new HeadedList(this);
    model_ = new DetailsModel(logic_, list_);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list_->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    list_->header()->setSortIndicatorShown(false);
    list_->setItemDelegate(new DetailsRowDelegate(this));
    list_->viewport()->setMouseTracking(true);
    list_->viewport()->installEventFilter(this);
    list_->installEventFilter(this);
    list_->setContextMenuPolicy(Qt::CustomContextMenu);
    // The model comes last: some of the settings above lay out every row again.
    list_->setModel(model_);
    SetEmptyListText(list_, "This section has no findings left.");
    layout->addWidget(list_, 1);

    findingText_ = new QPlainTextEdit(this);
    findingText_->setReadOnly(true);
    findingText_->setTabChangesFocus(true);
    findingText_->setAccessibleName("Selected finding");
    findingText_->setMaximumHeight(findingText_->fontMetrics().lineSpacing() * 4 + 12);
    layout->addWidget(findingText_);

    auto* buttons = new QHBoxLayout;
    selectAllButton_ = new QPushButton(FromAnsi(kDetailsSelectAllText), this);
    deselectAllButton_ = new QPushButton(FromAnsi(kDetailsDeselectAllText), this);
    closeButton_ = new QPushButton(FromAnsi(kDetailsCloseText), this);
    buttons->addWidget(selectAllButton_);
    buttons->addWidget(deselectAllButton_);
    buttons->addStretch(1);
    buttons->addWidget(closeButton_);
    for (QPushButton* button : {selectAllButton_, deselectAllButton_})
        button->setAutoDefault(false);
    closeButton_->setDefault(true);
    layout->addLayout(buttons);
    layout->addWidget(new StatusLine(this));

    connect(list_, &QWidget::customContextMenuRequested, this, [this](const QPoint& point) {
        QModelIndex index = list_->indexAt(point);
        if (!index.isValid()) return;
        list_->setCurrentIndex(index);
        std::unique_ptr<QMenu> menu(RowMenu(index.row()));
        if (menu) menu->exec(list_->viewport()->mapToGlobal(point));
    });
    connect(list_->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this] { ShowCurrentFinding(); });

    connect(selectAllButton_, &QPushButton::clicked, this, [this] {
        logic_.SelectAll();
        Repaint();
    });
    connect(deselectAllButton_, &QPushButton::clicked, this, [this] {
        logic_.DeselectAll();
        Repaint();
    });
    // Ticks live in the records, so closing keeps every change.
    connect(closeButton_, &QPushButton::clicked, this, &QDialog::accept);
    measureTimer_.setInterval(0);
    connect(&measureTimer_, &QTimer::timeout, this, [this] { ContinueMeasuring(kIdleMeasureMs); });
    connect(list_->header(), &QHeaderView::sectionClicked, this, [this](int) {
        logic_.ClickHeader();
        // A pass still running knows the rows by their old places.
        if (!heightPass_.Done()) {
            measuredWidth_ = -1;
            Relayout();
        }
        ShowRows();
        ShowSortArrow();
        ShowCurrentFinding();
    });

    const QFont bold = [this] {
        QFont font = list_->font();
        font.setBold(true);
        return font;
    }();
    const QFontMetrics plainMetrics(list_->font());
    const QFontMetrics boldMetrics(bold);
    boundLineHeight_ = std::max(plainMetrics.lineSpacing(), boldMetrics.lineSpacing()) + 1;
    widestAdvance_ = std::max(plainMetrics.maxWidth(), boldMetrics.maxWidth());
    for (int c = 0; c < 256; ++c) {
        const QString shown = FromAnsi(std::string(1, static_cast<char>(c)));
        advance_[static_cast<size_t>(c)] = plainMetrics.horizontalAdvance(shown);
        boldAdvance_[static_cast<size_t>(c)] = boldMetrics.horizontalAdvance(shown);
    }
    setWindowTitle(FromAnsi(kDetailsTitle) + " - " + FromAnsi(logic_.SectionName()));
    ResetRows(false);
}

void ProblemDetailsView::Reload() {
    ResetRows(true);
}

void ProblemDetailsView::ResetRows(bool open) {
    model_->BeginReset();
    if (open && logic_.SectionId() >= 0) logic_.Open(logic_.SectionId());
    model_->EndReset();
    measuredWidth_ = -1;
    ShowSortArrow();
    // A hidden list gets its width, and so its row height, when it is shown.
    if (list_->isVisible()) Relayout();
    if (model_->rowCount() > 0) list_->setCurrentIndex(model_->index(0));
    ShowCurrentFinding();
}

QString ProblemDetailsView::RowText(int row) const {
    return model_->data(model_->index(row), Qt::DisplayRole).toString();
}

void ProblemDetailsView::ShowSortArrow() {
    // Arrival order has no arrow; sorted by location shows it ascending.
    QHeaderView* header = list_->header();
    header->setSortIndicatorShown(logic_.SortedByLocation());
    header->setSortIndicator(logic_.SortedByLocation() ? 0 : -1, Qt::AscendingOrder);
}

void ProblemDetailsView::ShowCurrentFinding() {
    int row = list_->currentIndex().isValid() ? list_->currentIndex().row() : -1;
    findingText_->setPlainText(
        row >= 0 && static_cast<size_t>(row) < logic_.RowCount()
            ? FromAnsi(ClipboardText(logic_.RowText(static_cast<size_t>(row))))
            : QString());
}

QMenu* ProblemDetailsView::RowMenu(int row) {
    if (row < 0 || static_cast<size_t>(row) >= logic_.RowCount()) return nullptr;
    auto* menu = new QMenu(this);
    const auto index = static_cast<size_t>(row);
    menu->addAction("Copy", this, [this, index] { logic_.CopyRow(index); });
    menu->addAction("Add to Ignore List", this,
                    [this, index] { logic_.AddRowToIgnoreList(index); });
    if (!logic_.RowFile(index).empty()) {
        menu->addAction("Open Containing Folder", this,
                        [this, index] { logic_.OpenRowFolder(index); });
    }
    return menu;
}

int ProblemDetailsView::MeasureRowText(const std::string& richText, int width) const {
    QTextDocument document;
    Prepare(document, list_->font(), FromAnsi(richText), width);
    return static_cast<int>(std::ceil(document.size().height()));
}

RichTextBound ProblemDetailsView::BoundRowText(const std::string& richText, int width) const {
    static constexpr std::string_view kBreak = "<br>";
    const int lineHeight = boundLineHeight_;
    const int widest = widestAdvance_;
    RichTextBound bound;
    int lines = 0;
    int shape = 0;
    bool unbroken = true;
    const std::string_view text(richText);
    size_t at = 0;
    for (int segment = 0;; ++segment) {
        size_t end = text.find(kBreak, at);
        std::string_view part = text.substr(at, end == std::string_view::npos ? end : end - at);
        const bool isBold = part.find("<b>") != std::string_view::npos;
        const auto& table = isBold ? boldAdvance_ : advance_;
        const std::string shown = ClipboardText(part);
        // Characters outside the ANSI table, kerning and shaping: a margin on the sum.
        double natural = 0;
        for (unsigned char c : shown)
            natural += c < 0x80 ? table[c] : widest;
        natural = natural * 1.02 + 2;
        if (natural <= width) {
            lines += 1;
        } else {
            unbroken = false;
            // Greedy breaking fills every two lines past the width less one character.
            const int room = width - widest;
            long most = room > 0 ? static_cast<long>(2 * natural / room) + 2
                                 : static_cast<long>(shown.size()) + 1;
            lines += static_cast<int>(std::min<long>(most, static_cast<long>(shown.size()) + 1));
        }
        if (isBold && segment < 30) shape |= 1 << segment;
        if (end == std::string_view::npos) {
            shape = shape * 64 + std::min(segment + 1, 63);
            break;
        }
        at = end + kBreak.size();
    }
    bound.upper = lines * lineHeight + 2;
    bound.unwrapped = unbroken ? shape : -1;
    return bound;
}

int ProblemDetailsView::LinkLineHeight() const {
    return list_->fontMetrics().height();
}

int ProblemDetailsView::LinkMeasuredWidth() const {
    return list_->fontMetrics().horizontalAdvance(FromAnsi(kDetailsLinkMeasureText));
}

int ProblemDetailsView::LinkLineTop() const {
    return std::max(rowHeight_ - LinkLineHeight() - kLinkBottomGap, kTextTop);
}

void ProblemDetailsView::Relayout() {
    const int columnWidth = std::max(list_->width() - kDetailsColumnMargin, kDetailsTextMargin + 1);
    list_->setColumnWidth(0, columnWidth);
    if (columnWidth == measuredWidth_) return;
    measuredWidth_ = columnWidth;
    heightPass_ = RowHeightPass(
        logic_.Rows(), columnWidth,
        [this](const std::string& text, int width) { return BoundRowText(text, width); });
    rowHeight_ = -1;
    ContinueMeasuring(kFirstMeasureMs);
}

void ProblemDetailsView::ContinueMeasuring(int ms) {
    QElapsedTimer clock;
    clock.start();
    const bool done = heightPass_.Step(
        [this](const std::string& text, int width) { return MeasureRowText(text, width); },
        [&clock, ms] { return clock.elapsed() < ms; });
    if (heightPass_.Height() != rowHeight_) {
        rowHeight_ = heightPass_.Height();
        list_->doItemsLayout();
        list_->viewport()->update();
    }
    if (done) {
        measureTimer_.stop();
    } else if (!measureTimer_.isActive()) {
        measureTimer_.start();
    }
}

void ProblemDetailsView::ShowRows() {
    model_->TextsChanged();
    Repaint();
}

void ProblemDetailsView::Repaint() {
    list_->viewport()->update();
}

QRect ProblemDetailsView::CheckBoxRect(int row) const {
    QModelIndex index = model_->index(row);
    if (!index.isValid()) return {};
    QRect rect = list_->visualRect(index);
    return QRect(rect.left() + kDetailsCheckBoxLeft, rect.top() + kDetailsCheckBoxTop,
                 kDetailsCheckBoxSize, kDetailsCheckBoxSize);
}

QRect ProblemDetailsView::LinkLineRect(int row) const {
    QModelIndex index = model_->index(row);
    if (!index.isValid()) return {};
    QRect rect = list_->visualRect(index);
    return QRect(rect.left() + kTextLeft, rect.top() + LinkLineTop(), LinkMeasuredWidth(),
                 LinkLineHeight());
}

int ProblemDetailsView::RowAt(const QPoint& viewportPoint, QPoint* insideRow) const {
    QModelIndex index = list_->indexAt(viewportPoint);
    if (!index.isValid()) return -1;
    *insideRow = viewportPoint - list_->visualRect(index).topLeft();
    return index.row();
}

DetailsLink ProblemDetailsView::LinkAt(const QPoint& viewportPoint, int* row) const {
    QPoint inside;
    *row = RowAt(viewportPoint, &inside);
    if (*row < 0) return DetailsLink::None;
    const int top = LinkLineTop();
    if (inside.y() < top || inside.y() >= top + LinkLineHeight()) return DetailsLink::None;
    return DetailsLinkAt(inside.x() - kTextLeft, LinkMeasuredWidth());
}

bool ProblemDetailsView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == list_) {
        if (event->type() == QEvent::Resize) {
            Relayout();
        } else if (event->type() == QEvent::KeyPress &&
                   static_cast<QKeyEvent*>(event)->key() == Qt::Key_Space) {
            // The keyboard's way to the check box of the current row.
            int row = list_->currentIndex().isValid() ? list_->currentIndex().row() : -1;
            if (row >= 0) {
                logic_.ToggleRow(static_cast<size_t>(row));
                Repaint();
            }
            return true;
        }
        return QDialog::eventFilter(watched, event);
    }
    if (watched != list_->viewport()) return QDialog::eventFilter(watched, event);

    switch (event->type()) {
        case QEvent::MouseMove: {
            int row = -1;
            auto* mouse = static_cast<QMouseEvent*>(event);
            if (LinkAt(mouse->position().toPoint(), &row) != DetailsLink::None) {
                list_->viewport()->setCursor(Qt::PointingHandCursor);
            } else {
                list_->viewport()->unsetCursor();
            }
            break;
        }
        case QEvent::Leave:
            list_->viewport()->unsetCursor();
            break;
        case QEvent::MouseButtonRelease: {
            auto* mouse = static_cast<QMouseEvent*>(event);
            if (mouse->button() != Qt::LeftButton) break;
            const QPoint point = mouse->position().toPoint();
            QPoint inside;
            const int row = RowAt(point, &inside);
            if (row < 0) break;
            if (OnDetailsCheckBox(inside.x(), inside.y())) {
                logic_.ToggleRow(static_cast<size_t>(row));
                Repaint();
                return true;
            }
            int linkRow = -1;
            switch (LinkAt(point, &linkRow)) {
                case DetailsLink::AddToIgnoreList:
                    list_->viewport()->unsetCursor();
                    logic_.AddRowToIgnoreList(static_cast<size_t>(linkRow));
                    return true;
                case DetailsLink::CopyToClipboard:
                    list_->viewport()->unsetCursor();
                    logic_.CopyRow(static_cast<size_t>(linkRow));
                    return true;
                case DetailsLink::None:
                    break;
            }
            break;
        }
        default:
            break;
    }
    return QDialog::eventFilter(watched, event);
}

void CopyToDesktopClipboard(const std::string& text) {
    if (QClipboard* clipboard = QGuiApplication::clipboard()) {
        clipboard->clear();
        clipboard->setText(FromAnsi(text));
    }
}

}  // namespace hivewise::ui
